#include "TFakePop3Server.h"

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

TFakeStep Expect(std::string line)
{
    return {TFakeStep::TKind::Expect, std::move(line)};
}
TFakeStep Say(std::string line)
{
    return {TFakeStep::TKind::Say, std::move(line)};
}
TFakeStep Raw(std::string bytes)
{
    return {TFakeStep::TKind::Raw, std::move(bytes)};
}
TFakeStep Drop()
{
    return {TFakeStep::TKind::Drop, {}};
}
TFakeStep Stall()
{
    return {TFakeStep::TKind::Stall, {}};
}
TFakeStep Flood()
{
    return {TFakeStep::TKind::Flood, {}};
}

std::vector<TFakeStep> TFakePop3Server::Login(const std::string& user, const std::string& password)
{
    return {Say("+OK fake POP3 ready"), Expect("USER " + user), Say("+OK"), Expect("PASS " + password),
            Say("+OK logged in")};
}

TFakePop3Server::TFakePop3Server(std::vector<TFakeStep> script)
    : Script_(std::move(script))
{
    ListenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    StopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (ListenFd_ < 0 || StopFd_ < 0 ||
        ::bind(ListenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(ListenFd_, 4) != 0 ||
        ::getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fake POP3 server: cannot listen");
    Port_ = ntohs(address.sin_port);
    Thread_ = std::thread([this] { Run(); });
}

TFakePop3Server::~TFakePop3Server()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(StopFd_, &one, sizeof one);
    if (Thread_.joinable())
        Thread_.join();
    ::close(ListenFd_);
    ::close(StopFd_);
}

void TFakePop3Server::WaitDone()
{
    if (Thread_.joinable())
        Thread_.join();
}

std::vector<std::string> TFakePop3Server::Received() const
{
    std::lock_guard lock(Mutex_);
    return Received_;
}

std::vector<std::string> TFakePop3Server::Mismatches() const
{
    std::lock_guard lock(Mutex_);
    return Mismatches_;
}

bool TFakePop3Server::WaitFor(int fd, short events)
{
    pollfd fds[2] = {{fd, events, 0}, {StopFd_, POLLIN, 0}};
    for (;;) {
        const int result = ::poll(fds, 2, -1);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 || fds[1].revents != 0)
            return false;
        return true;
    }
}

bool TFakePop3Server::SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitFor(fd, POLLOUT))
            return false;
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool TFakePop3Server::ReadLine(int fd, std::string& line)
{
    for (;;) {
        const std::size_t end = Pending_.find('\n');
        if (end != std::string::npos) {
            line = Pending_.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Pending_.erase(0, end + 1);
            std::lock_guard lock(Mutex_);
            Received_.push_back(line);
            return true;
        }
        if (!WaitFor(fd, POLLIN))
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        Pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void TFakePop3Server::Run()
{
    if (!WaitFor(ListenFd_, POLLIN))
        return;
    const int fd = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    bool alive = true;
    for (const TFakeStep& step : Script_) {
        if (!alive)
            break;
        std::string line;
        switch (step.Kind) {
        case TFakeStep::TKind::Expect:
            alive = ReadLine(fd, line);
            if (alive && line != step.Text) {
                std::lock_guard lock(Mutex_);
                Mismatches_.push_back("expected \"" + step.Text + "\", got \"" + line + "\"");
                alive = false;
            }
            break;
        case TFakeStep::TKind::Say:
            alive = SendAll(fd, step.Text + "\r\n");
            break;
        case TFakeStep::TKind::Raw:
            alive = SendAll(fd, step.Text);
            break;
        case TFakeStep::TKind::Drop:
            alive = false;
            break;
        case TFakeStep::TKind::Stall:
            while (ReadLine(fd, line)) {
            }
            alive = false;
            break;
        case TFakeStep::TKind::Flood: {
            const std::string chunk(65536, 'x');
            while (SendAll(fd, chunk)) {
            }
            alive = false;
            break;
        }
        }
    }
    std::string line;
    while (alive && ReadLine(fd, line)) {
        if (line == "QUIT") {
            SendAll(fd, "+OK bye\r\n");
            break;
        }
        alive = SendAll(fd, "-ERR not in the script\r\n");
    }
    ::close(fd);
}

} // namespace tarnwick::test
