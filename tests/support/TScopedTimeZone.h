#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tarnwick::test {

// Sets TZ for the lifetime of the object (a POSIX rule such as "EST5" needs no zone files) and
// restores the previous value afterwards.
class TScopedTimeZone
{
public:
    explicit TScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            Old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TScopedTimeZone()
    {
        if (Old_)
            ::setenv("TZ", Old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TScopedTimeZone(const TScopedTimeZone&) = delete;
    TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

private:
    std::optional<std::string> Old_;
};

} // namespace tarnwick::test
