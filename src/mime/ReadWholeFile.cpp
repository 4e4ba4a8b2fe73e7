#include "mime/ReadWholeFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Errors.h"

namespace tarnwick::mime {

namespace {

[[noreturn]] void Throw(const char* what, const std::string& path, int error)
{
    throw core::TFileError(std::string("The ") + what + " \"" + path +
                           "\" cannot be read: " + std::strerror(error));
}

} // namespace

std::string ReadWholeFile(const std::string& path, const char* what)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Throw(what, path, errno);
    // The file is held once: reserving its size keeps a growing string from holding it twice.
    std::string bytes;
    struct stat info
    {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            Throw(what, path, error);
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

} // namespace tarnwick::mime
