#include "TFakeMaildrop.h"

#include <algorithm>
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

bool HasRawHeaderBytes(const std::string& text)
{
    const std::size_t end = text.find("\r\n\r\n");
    for (std::size_t i = 0; i < std::min(end, text.size()); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return true;
    return false;
}

} // namespace

std::string TFakeMaildrop::HiddenNotice()
{
    return "From: Mail Delivery Subsystem <postmaster>\r\nSubject: Cannot display Unicode content\r\n"
           "\r\nThis message cannot be displayed because your mail client does not support Unicode.\r\n";
}

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
    : Faults_(std::move(faults))
    , Listener_(64)
{
    for (std::string& message : messages)
        Append(std::move(message));
    FaultsUsed_.assign(Faults_.Replies.size(), 0);
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

std::vector<std::string> TFakeMaildrop::PipelinedCommands() const
{
    std::lock_guard lock(Mutex_);
    return PipelinedCommands_;
}

std::vector<std::string> TFakeMaildrop::Deleted() const
{
    std::lock_guard lock(Mutex_);
    return Deleted_;
}

std::string TFakeMaildrop::UniqueIdIn(std::size_t session, std::int32_t n) const
{
    std::lock_guard lock(Mutex_);
    if (session >= Views_.size() || n < 1 || static_cast<std::size_t>(n) > Views_[session].size())
        return {};
    return Views_[session][n - 1].UniqueId;
}

void TFakeMaildrop::Remove(std::int32_t n)
{
    std::lock_guard lock(Mutex_);
    Messages_.erase(Messages_.begin() + (n - 1));
}

void TFakeMaildrop::Append(std::string message)
{
    std::lock_guard lock(Mutex_);
    Messages_.push_back({std::move(message), "uid-" + std::to_string(++Added_)});
}

const TReplyFault* TFakeMaildrop::FaultFor(const std::string& command)
{
    std::lock_guard lock(Mutex_);
    for (std::size_t i = 0; i < Faults_.Replies.size(); ++i) {
        const TReplyFault& fault = Faults_.Replies[i];
        if (fault.Command == command && (fault.Times < 0 || FaultsUsed_[i] < fault.Times)) {
            ++FaultsUsed_[i];
            return &fault;
        }
    }
    return nullptr;
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
            Views_.emplace_back();
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
    // The maildrop as this session sees it, fixed at its login, and what it marked for deletion.
    std::vector<TEntry> view;
    std::set<std::int32_t> marked;
    bool utf8 = false;
    // The text this session gets of message n: a raw 8-bit header is hidden unless UTF8 was sent.
    auto text = [&](std::int32_t n) -> std::string {
        const std::string& t = view[n - 1].Text;
        return Faults_.Utf8 && !utf8 && HasRawHeaderBytes(t) ? HiddenNotice() : t;
    };
    auto count = [&] { return static_cast<std::int32_t>(view.size()); };
    auto message = [&](const std::string& argument) -> std::int32_t {
        try {
            const int n = std::stoi(argument);
            return n >= 1 && n <= count() && !marked.contains(n) ? n : 0;
        } catch (const std::exception&) {
            return 0;
        }
    };
    std::string line;
    bool aheadOfReply = false; // the next command came before the reply to this one was sent
    while (socket.ReadLine(line)) {
        {
            std::lock_guard lock(Mutex_);
            Commands_[session].push_back(line.starts_with("PASS ") ? "PASS" : line);
            if (aheadOfReply)
                PipelinedCommands_.push_back(Commands_[session].back());
        }
        aheadOfReply = false;
        const std::size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
        const TReplyFault* fault = FaultFor(line);
        using TKind = TReplyFault::TKind;
        if (fault && fault->Kind == TKind::Refuse) {
            const std::string reason =
                fault->RefusalText.empty() ? "cannot read message" : fault->RefusalText;
            if (!socket.Send("-ERR " + reason + "\r\n"))
                return;
            continue;
        }
        // The listing of message n, or of message n + 1 when the fault says so.
        auto listed = [&](std::int32_t n) { return fault && fault->Kind == TKind::OtherNumber ? n + 1 : n; };
        std::string reply;
        if (verb == "USER") {
            reply = "+OK\r\n";
        } else if (verb == "UTF8" && Faults_.Utf8 && !loggedIn) {
            utf8 = true;
            reply = "+OK UTF8 enabled\r\n";
        } else if (verb == "PASS") {
            bool tooSoon = false;
            if (Faults_.LoginDelaySeconds > 0) {
                std::lock_guard lock(Mutex_);
                tooSoon = AnyLogin_ && std::chrono::steady_clock::now() - LastLogin_ <
                                           std::chrono::seconds(Faults_.LoginDelaySeconds);
            }
            if (!Faults_.LoginRefusal.empty()) {
                reply = Faults_.LoginRefusal + "\r\n";
            } else if (tooSoon) {
                reply = "-ERR [LOGIN-DELAY] Logins must be at least " +
                        std::to_string(Faults_.LoginDelaySeconds) + " seconds apart\r\n";
            } else if (Faults_.RefuseLogin) {
                reply = "-ERR [AUTH] Authentication failed.\r\n";
            } else if (Faults_.MaxLoggedIn > 0 && LoggedIn_.load() >= Faults_.MaxLoggedIn) {
                reply = "-ERR [IN-USE] Mailbox is locked by another POP3 session.\r\n";
            } else {
                ++Logins_;
                ++LoggedIn_;
                loggedIn = true;
                std::lock_guard lock(Mutex_);
                LastLogin_ = std::chrono::steady_clock::now();
                AnyLogin_ = true;
                view = Messages_;
                Views_[session] = view;
                reply = "+OK logged in\r\n";
            }
        } else if (verb == "CAPA") {
            reply = Faults_.Capa
                        ? std::string("+OK\r\nUSER\r\n") + (Faults_.Uidl ? "UIDL\r\n" : "") + "TOP\r\n" +
                              (Faults_.Pipelining ? "PIPELINING\r\n" : "") + "RESP-CODES\r\n" +
                              (Faults_.Utf8 ? "UTF8 USER\r\n" : "") +
                              (Faults_.LoginDelaySeconds > 0 && Faults_.AnnounceLoginDelay
                                   ? "LOGIN-DELAY " + std::to_string(Faults_.LoginDelaySeconds) + "\r\n"
                                   : "") +
                              ".\r\n"
                        : "-ERR unknown command\r\n";
        } else if (verb == "STAT") {
            std::size_t total = 0;
            for (const TEntry& m : view)
                total += m.Text.size();
            reply = "+OK " + std::to_string(count() - static_cast<std::int32_t>(marked.size())) + " " +
                    std::to_string(total) + "\r\n";
        } else if (verb == "NOOP") {
            reply = "+OK\r\n";
        } else if (verb == "LIST" && argument.empty()) {
            reply = "+OK\r\n";
            for (std::int32_t n = 1; n <= count(); ++n)
                if (!marked.contains(n))
                    reply += std::to_string(n) + " " +
                             std::to_string(text(std::min(listed(n), count())).size()) + "\r\n";
            reply += ".\r\n";
        } else if (verb == "LIST" && message(argument)) {
            const std::int32_t n = message(argument);
            reply = "+OK " + std::to_string(listed(n)) + " " + std::to_string(text(n).size()) + "\r\n";
        } else if (verb == "UIDL" && argument.empty()) {
            if (!Faults_.Uidl) {
                reply = "-ERR no UIDL\r\n";
            } else {
                reply = "+OK\r\n";
                for (std::int32_t n = 1; n <= count(); ++n)
                    if (!marked.contains(n))
                        reply += std::to_string(n) + " " +
                                 view[listed(n) <= count() ? listed(n) - 1 : 0].UniqueId + "\r\n";
                reply += ".\r\n";
            }
        } else if (verb == "UIDL" && message(argument)) {
            const std::int32_t n = message(argument);
            reply = Faults_.Uidl ? "+OK " + std::to_string(listed(n)) + " " + view[n - 1].UniqueId + "\r\n"
                                 : "-ERR no UIDL\r\n";
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
                reply = "+OK\r\n" + Stuffed(text(n), true);
            }
        } else if (verb == "RETR" && message(argument)) {
            reply = "+OK\r\n" + Stuffed(text(message(argument)), false);
        } else if (verb == "DELE" && message(argument)) {
            bool fail = false;
            if (message(argument) == Faults_.FailDele) {
                std::lock_guard lock(Mutex_);
                fail = Faults_.FailDeleTimes < 0 || DeleFailed_ < Faults_.FailDeleTimes;
                DeleFailed_ += fail ? 1 : 0;
            }
            if (!fail)
                marked.insert(message(argument));
            reply = fail ? "-ERR cannot delete now\r\n" : "+OK marked\r\n";
        } else if (verb == "QUIT") {
            // The marked messages go, and the lock ends, before the reply, as on a real server, so
            // a session started after it finds the maildrop changed and free.
            {
                std::lock_guard lock(Mutex_);
                for (const std::int32_t n : marked) {
                    const std::string& uid = view[n - 1].UniqueId;
                    Deleted_.push_back(uid);
                    std::erase_if(Messages_, [&](const TEntry& m) { return m.UniqueId == uid; });
                }
            }
            if (loggedIn) {
                --LoggedIn_;
                loggedIn = false;
            }
            socket.Send("+OK bye\r\n");
            return;
        } else {
            reply = "-ERR unknown command or message\r\n";
        }
        if (fault && fault->Kind == TKind::Garble && !reply.empty())
            reply.erase(0, 1); // "+OK" becomes "OK", "-ERR" becomes "ERR"
        if (fault && fault->Kind == TKind::ExtraLine)
            reply += "\r\n";
        if (fault && fault->Kind == TKind::Cut) {
            // The status line and half of what follows, then the server is gone.
            socket.Send(reply.substr(0, std::max(reply.find("\r\n") + 2, reply.size() / 2)));
            return;
        }
        if (socket.HasPendingLine()) {
            ++Pipelined_;
            aheadOfReply = true;
        }
        if (!socket.Send(reply))
            return;
    }
}

} // namespace tarnwick::test
