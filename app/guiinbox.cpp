#include "app/guiinbox.h"

#include <utility>

void GuiInbox::post(std::function<void()> job)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (detached)
        return;
    const bool first = jobs.empty(); // later ones join the drain it queues
    jobs.push_back(std::move(job));
    // By name, not as a functor: a functor's captures would be written here
    // and read on the inbox's thread before the mutex orders the two.
    if (first)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void GuiInbox::drain()
{
    std::vector<std::function<void()>> batch;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        batch.swap(jobs);
    }
    for (const std::function<void()> &job : batch)
        job();
}

void GuiInbox::detach()
{
    std::vector<std::function<void()>> dropped; // released outside the lock
    const std::lock_guard<std::mutex> lock(mutex);
    detached = true;
    dropped.swap(jobs);
}
