#include "DownloadLock.h"

namespace tarnwick::engine {

std::mutex& DownloadLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace tarnwick::engine
