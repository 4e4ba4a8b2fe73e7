#include "TFakeMaildrop.h"

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

namespace {

// Lines of a connection, with a stop signal that every wait watches.
class TLineSocket
{
public:
    TLineSocket(int fd, int stopFd)
        : Fd_(fd)
        , StopFd_(stopFd)
    {}
    ~TLineSocket() { ::close(Fd_); }

    bool ReadLine(std::string& line)
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

    bool HasPendingLine() const { return Pending_.find('\n') != std::string::npos; }

    bool Send(const std::string& bytes)
    {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            if (!Wait(POLLOUT))
                return false;
            const ssize_t n =
                ::send(Fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    bool Wait(short events)
    {
        pollfd fds[2] = {{Fd_, events, 0}, {StopFd_, POLLIN, 0}};
        for (;;) {
            const int result = ::poll(fds, 2, -1);
            if (result < 0 && errno == EINTR)
                continue;
            return result > 0 && fds[1].revents == 0;
        }
    }

    int Fd_;
    int StopFd_;
    std::string Pending_;
};

// The header of a message (up to the empty line), CRLF lines, dot-stuffed.
std::string Stuffed(const std::string& text, bool headerOnly)
{
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        if (headerOnly && line.empty())
            break;
        out += (line.starts_with('.') ? "." : "") + line + "\r\n";
        at = end + 2;
    }
    return out + ".\r\n";
}

} // namespace

std::string TFakeMaildrop::Message(int n, const std::string& from)
{
    return "From: " + from + "\r\nTo: me@example.org\r\nSubject: Message " + std::to_string(n) +
           "\r\nMessage-ID: <" + std::to_string(n) +
           ".fake@example.org>\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n" + "\r\nBody of message " +
           std::to_string(n) + "\r\n";
}

TFakeMaildrop::TFakeMaildrop(std::vector<std::string> messages, TMaildropFaults faults)
    : Messages_(std::move(messages))
    , Faults_(faults)
{
    ListenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    StopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (ListenFd_ < 0 || StopFd_ < 0 ||
        ::bind(ListenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(ListenFd_, 64) != 0 ||
        ::getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fake maildrop: cannot listen");
    Port_ = ntohs(address.sin_port);
    Listener_ = std::thread([this] { Listen(); });
}

TFakeMaildrop::~TFakeMaildrop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(StopFd_, &one, sizeof one);
    if (Listener_.joinable())
        Listener_.join();
    for (std::thread& thread : Threads_)
        thread.join();
    if (ListenFd_ >= 0)
        ::close(ListenFd_);
    ::close(StopFd_);
}

std::vector<std::vector<std::string>> TFakeMaildrop::Commands() const
{
    std::lock_guard lock(Mutex_);
    return Commands_;
}

void TFakeMaildrop::Listen()
{
    for (;;) {
        pollfd fds[2] = {{ListenFd_, POLLIN, 0}, {StopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const int fd = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::size_t session = 0;
        {
            std::lock_guard lock(Mutex_);
            session = Commands_.size();
            Commands_.emplace_back();
        }
        Threads_.emplace_back([this, fd, session] { Serve(fd, session); });
        if (++Accepted_ == Faults_.CloseAfterSessions) {
            // The server goes away: later connections are refused.
            ::close(ListenFd_);
            ListenFd_ = -1;
            return;
        }
    }
}

void TFakeMaildrop::Serve(int fd, std::size_t session)
{
    TLineSocket socket(fd, StopFd_);
    bool loggedIn = false;
    // The session's lock on the maildrop ends with the session.
    struct TLogout
    {
        std::atomic<int>& Count;
        bool& Active;
        ~TLogout()
        {
            if (Active)
                --Count;
        }
    } logout{LoggedIn_, loggedIn};
    if (!socket.Send("+OK fake maildrop ready\r\n"))
        return;
    const auto count = static_cast<std::int32_t>(Messages_.size());
    auto message = [&](const std::string& argument) -> std::int32_t {
        try {
            const int n = std::stoi(argument);
            return n >= 1 && n <= count ? n : 0;
        } catch (const std::exception&) {
            return 0;
        }
    };
    std::string line;
    while (socket.ReadLine(line)) {
        {
            std::lock_guard lock(Mutex_);
            Commands_[session].push_back(line.starts_with("PASS ") ? "PASS" : line);
        }
        const std::size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
        std::string reply;
        if (verb == "USER") {
            reply = "+OK\r\n";
        } else if (verb == "PASS") {
            if (Faults_.RefuseLogin) {
                reply = "-ERR [AUTH] Authentication failed.\r\n";
            } else if (Faults_.MaxLoggedIn > 0 && LoggedIn_.load() >= Faults_.MaxLoggedIn) {
                reply = "-ERR [IN-USE] Mailbox is locked by another POP3 session.\r\n";
            } else {
                ++Logins_;
                ++LoggedIn_;
                loggedIn = true;
                reply = "+OK logged in\r\n";
            }
        } else if (verb == "CAPA") {
            reply = Faults_.Capa ? "+OK\r\nUSER\r\nUIDL\r\nTOP\r\nPIPELINING\r\n.\r\n"
                                 : "-ERR unknown command\r\n";
        } else if (verb == "STAT") {
            std::size_t total = 0;
            for (const std::string& m : Messages_)
                total += m.size();
            reply = "+OK " + std::to_string(count) + " " + std::to_string(total) + "\r\n";
        } else if (verb == "NOOP") {
            reply = "+OK\r\n";
        } else if (verb == "LIST" && message(argument)) {
            const std::int32_t n = message(argument);
            reply = "+OK " + std::to_string(n) + " " + std::to_string(Messages_[n - 1].size()) + "\r\n";
        } else if (verb == "UIDL" && argument.empty()) {
            if (!Faults_.Uidl) {
                reply = "-ERR no UIDL\r\n";
            } else {
                reply = "+OK\r\n";
                for (std::int32_t n = 1; n <= count; ++n)
                    reply += std::to_string(n) + " uid-" + std::to_string(n) + "\r\n";
                reply += ".\r\n";
            }
        } else if (verb == "TOP" && message(argument)) {
            const std::int32_t n = message(argument);
            if (n == Faults_.FailTop) {
                reply = "-ERR cannot read message\r\n";
            } else {
                bool drop = false;
                if (n == Faults_.DropOnTop) {
                    std::lock_guard lock(Mutex_);
                    drop = Dropped_ < Faults_.DropTimes;
                    Dropped_ += drop ? 1 : 0;
                }
                if (drop)
                    return;
                reply = "+OK\r\n" + Stuffed(Messages_[n - 1], true);
            }
        } else if (verb == "RETR" && message(argument)) {
            reply = "+OK\r\n" + Stuffed(Messages_[message(argument) - 1], false);
        } else if (verb == "DELE" && message(argument)) {
            bool fail = false;
            if (message(argument) == Faults_.FailDele) {
                std::lock_guard lock(Mutex_);
                fail = Faults_.FailDeleTimes < 0 || DeleFailed_ < Faults_.FailDeleTimes;
                DeleFailed_ += fail ? 1 : 0;
            }
            reply = fail ? "-ERR cannot delete now\r\n" : "+OK marked\r\n";
        } else if (verb == "QUIT") {
            // The lock ends before the reply, as on a real server, so a session started after it
            // finds the maildrop free.
            if (loggedIn) {
                --LoggedIn_;
                loggedIn = false;
            }
            socket.Send("+OK bye\r\n");
            return;
        } else {
            reply = "-ERR unknown command or message\r\n";
        }
        if (socket.HasPendingLine())
            ++Pipelined_;
        if (!socket.Send(reply))
            return;
    }
}

} // namespace tarnwick::test
