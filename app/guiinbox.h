#pragma once

#include <QObject>

#include <functional>
#include <mutex>
#include <vector>

// Carries jobs from any thread to the thread that created the inbox (the GUI
// thread), where they run in the order they were posted. A batch costs one
// queued call: the post into an empty inbox queues a drain, later posts join
// it. The hand-over goes through the inbox's own mutex, so ThreadSanitizer
// sees every job's payload pass between the threads; the queued call itself
// carries nothing but the name of drain(), which Qt's own code handles.
//
// Destroying the inbox drops a drain still queued. The caller must make sure
// that no thread posts any more by then, or detach() it and leave it alive.
class GuiInbox : public QObject
{
    Q_OBJECT

public:
    GuiInbox() = default;

    // Any thread. Dropped once detached.
    void post(std::function<void()> job);
    // Inbox's thread: runs the jobs posted so far; queued by post(). A job
    // must not spin an event loop: a drain inside it would run newer jobs
    // before the rest of its batch.
    Q_INVOKABLE void drain();
    // Inbox's thread, when what the jobs reach goes away: drops the jobs
    // waiting and every later post, so a worker that outlives it never
    // reaches it.
    void detach();

private:
    std::mutex mutex;
    std::vector<std::function<void()>> jobs; // posted, not yet taken by a drain
    bool detached = false;
};
