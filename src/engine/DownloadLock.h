#pragma once

#include <mutex>

namespace tarnwick::engine {

// The process-wide lock of a receive: it guards the next message number and every change of an
// account's message list while a receive runs. Readers of a list that a receive may be filling
// (the GUI's row model) take it too. It is never held across network traffic.
std::mutex& DownloadLock();

} // namespace tarnwick::engine
