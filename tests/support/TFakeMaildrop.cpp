#include "TFakeMaildrop.h"

#include <cstdint>

namespace tarnwick::test {

namespace {

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

std::vector<std::string> TFakeMaildrop::Messages(int count)
{
    std::vector<std::string> messages;
    for (int n = 1; n <= count; ++n)
        messages.push_back(Message(n));
    return messages;
}

TFakeMaildrop::TFakeMaildrop(std::vector<std::string> messages, TMaildropFaults faults)
    : Messages_(std::move(messages))
    , Faults_(faults)
    , Listener_(64)
{
    ListenerThread_ = std::thread([this] { Listen(); });
}

TFakeMaildrop::~TFakeMaildrop()
{
    Listener_.Stop();
    if (ListenerThread_.joinable())
        ListenerThread_.join();
    for (std::thread& thread : Threads_)
        thread.join();
}

std::vector<std::vector<std::string>> TFakeMaildrop::Commands() const
{
    std::lock_guard lock(Mutex_);
    return Commands_;
}

void TFakeMaildrop::Listen()
{
    for (;;) {
        const int fd = Listener_.Accept();
        if (fd < 0)
            return;
        std::size_t session = 0;
        {
            std::lock_guard lock(Mutex_);
            session = Commands_.size();
            Commands_.emplace_back();
        }
        Threads_.emplace_back([this, fd, session] { Serve(fd, session); });
        if (++Accepted_ == Faults_.CloseAfterSessions) {
            // The server goes away: later connections are refused.
            Listener_.CloseListening();
            return;
        }
    }
}

void TFakeMaildrop::Serve(int fd, std::size_t session)
{
    TLineSocket socket(fd, Listener_.StopFd());
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
