#include "datafiles/filejob.h"

#include <algorithm>
#include <mutex>

namespace {

std::mutex hookMutex;
std::function<void(FileJobControl &)> pauseHook;

} // namespace

bool FileJobControl::advance(qint64 units)
{
    done.fetch_add(units, std::memory_order_relaxed);
    std::function<void(FileJobControl &)> hook;
    {
        const std::lock_guard<std::mutex> lock(hookMutex);
        hook = pauseHook;
    }
    if (hook)
        hook(*this);
    return !cancelled();
}

int FileJobControl::percent() const
{
    const qint64 all = total.load(std::memory_order_relaxed);
    if (all <= 0)
        return 0;
    return int(std::clamp<qint64>(done.load(std::memory_order_relaxed) * 100 / all, 0, 100));
}

void FileJobControl::setPauseHook(std::function<void(FileJobControl &)> hook)
{
    const std::lock_guard<std::mutex> lock(hookMutex);
    pauseHook = std::move(hook);
}
