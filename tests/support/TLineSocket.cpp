#include "TLineSocket.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick::test {

TLoopbackListener::TLoopbackListener(int backlog)
{
    ListenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    StopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (ListenFd_ < 0 || StopFd_ < 0 ||
        ::bind(ListenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(ListenFd_, backlog) != 0 ||
        ::getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (ListenFd_ >= 0)
            ::close(ListenFd_);
        if (StopFd_ >= 0)
            ::close(StopFd_);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    Port_ = ntohs(address.sin_port);
}

TLoopbackListener::~TLoopbackListener()
{
    CloseListening();
    ::close(StopFd_);
}

int TLoopbackListener::Accept()
{
    for (;;) {
        if (ListenFd_ < 0)
            return -1;
        pollfd fds[2] = {{ListenFd_, POLLIN, 0}, {StopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[1].revents != 0)
            return -1;
        const int fd = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return fd;
    }
}

void TLoopbackListener::Stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(StopFd_, &one, sizeof one);
}

void TLoopbackListener::CloseListening()
{
    if (ListenFd_ >= 0) {
        ::close(ListenFd_);
        ListenFd_ = -1;
    }
}

int ClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("test: cannot find a free port on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

TLineSocket::~TLineSocket()
{
    ::close(Fd_);
}

bool TLineSocket::ReadLine(std::string& line)
{
    for (;;) {
        const std::size_t end = Pending_.find('\n');
        if (end != std::string::npos) {
            line = Pending_.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Pending_.erase(0, end + 1);
            return true;
        }
        if (!Wait(POLLIN))
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(Fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        Pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool TLineSocket::Send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!Wait(POLLOUT))
            return false;
        const ssize_t n = ::send(Fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool TLineSocket::Wait(short events)
{
    pollfd fds[2] = {{Fd_, events, 0}, {StopFd_, POLLIN, 0}};
    for (;;) {
        const int result = ::poll(fds, 2, -1);
        if (result < 0 && errno == EINTR)
            continue;
        return result > 0 && fds[1].revents == 0;
    }
}

} // namespace tarnwick::test
