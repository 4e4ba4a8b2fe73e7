#pragma once

#include <memory>
#include <mutex>

namespace tarnwick::core {

// A value that one thread replaces while others read it. A reader gets an immutable snapshot
// and keeps it as long as it needs; a replacement never changes a snapshot already handed out, so
// every reader sees the whole value from before or the whole value from after a change.
template <typename T> class TSnapshot
{
public:
    TSnapshot()
        : Value_(std::make_shared<const T>())
    {}

    std::shared_ptr<const T> Load() const
    {
        std::lock_guard lock(Mutex_);
        return Value_;
    }

    void Store(T value)
    {
        std::shared_ptr<const T> next = std::make_shared<const T>(std::move(value));
        {
            std::lock_guard lock(Mutex_);
            Value_.swap(next);
        }
        // The old value is released here, outside the lock, once its last reader lets go.
    }

private:
    mutable std::mutex Mutex_;
    std::shared_ptr<const T> Value_;
};

} // namespace tarnwick::core
