#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TLineSocket.h"

namespace tarnwick::test {

// A reply that goes wrong: the command it answers, exactly as the client writes it ("TOP 3 0",
// "LIST 5", "NOOP", "DELE 2"), what goes wrong, and how often (-1: every time).
struct TReplyFault
{
    enum class TKind
    {
        Garble,      // the status word loses its sign: "OK" / "ERR"
        ExtraLine,   // one empty line more after the reply
        OtherNumber, // LIST n / UIDL n answered with the listing of message n + 1; the LIST and
                     // UIDL listings give each number the size and id of the next message
        Cut,         // the status line and part of the reply, then the connection closes
        Refuse,      // "-ERR" with a reason of the server's
    };
    std::string Command;
    TKind Kind = TKind::Garble;
    int Times = -1;
    // The reason given with Refuse, e.g. "Invalid message number."; empty: "cannot read message".
    std::string RefusalText = {};
};

// How a TFakeMaildrop misbehaves.
struct TMaildropFaults
{
    std::int32_t DropOnTop = 0; // close the connection when "TOP n 0" of this message arrives...
    int DropTimes = 0;          // ...this many times
    std::int32_t FailTop = 0;   // answer "TOP n 0" of this message with -ERR every time
    int CloseAfterSessions = 0; // stop listening after this many connections (0: never)
    bool RefuseLogin = false;   // -ERR for every PASS
    bool Capa = true;           // answer CAPA (with PIPELINING); false: -ERR
    bool Pipelining = true;     // CAPA lists PIPELINING (false: a server that takes one at a time)
    bool Uidl = true;           // answer UIDL; false: -ERR
    std::int32_t FailDele = 0;  // answer "DELE n" of this message with -ERR...
    int FailDeleTimes = 0;      // ...this many times (-1: always)
    int MaxLoggedIn = 0;        // "-ERR [IN-USE]" for a login beyond this many at once (0: any)
    // The whole "-ERR ..." reply to every PASS, when not empty (a response code of RFC 2449).
    std::string LoginRefusal;
    // Logins must be this many seconds apart: a login sooner after the last one is refused with
    // "-ERR [LOGIN-DELAY]". CAPA lists "LOGIN-DELAY n" unless AnnounceLoginDelay is false.
    int LoginDelaySeconds = 0;
    bool AnnounceLoginDelay = true;
    // Offers UTF8 (RFC 6856) and, like some servers, hides every message whose header holds raw
    // 8-bit bytes from a session that did not send UTF8: it shows a notice in its place.
    bool Utf8 = false;
    std::vector<TReplyFault> Replies;
};

// A POP3 server on 127.0.0.1 for the faults a real server will not produce on demand: it serves any
// number of connections at once, each on its own thread, over one maildrop, with the faults given.
// It records every command per session. Like a real server, a session sees the maildrop as it was
// at its login, and the messages it marked with DELE go only when it ends with QUIT. Every message
// keeps the unique id "uid-K" of the K-th message added, whatever number it has later.
class TFakeMaildrop
{
public:
    TFakeMaildrop(std::vector<std::string> messages, TMaildropFaults faults = {});
    ~TFakeMaildrop();
    TFakeMaildrop(const TFakeMaildrop&) = delete;
    TFakeMaildrop& operator=(const TFakeMaildrop&) = delete;

    int Port() const { return Listener_.Port(); }
    int Sessions() const { return Accepted_.load(); }
    int Logins() const { return Logins_.load(); }
    // Commands that had arrived before the reply to the one before them was sent.
    int Pipelined() const { return Pipelined_.load(); }
    // Those commands themselves, of every session, in the order they came.
    std::vector<std::string> PipelinedCommands() const;
    std::vector<std::vector<std::string>> Commands() const;
    // The unique ids of the messages deleted by sessions that ended with QUIT, in order.
    std::vector<std::string> Deleted() const;
    // The unique id that message n had in the session's maildrop (for DELE checks); empty when none.
    std::string UniqueIdIn(std::size_t session, std::int32_t n) const;
    // Another mail program at work between two sessions: message n goes (the later ones move up by
    // one) or a new message arrives at the end.
    void Remove(std::int32_t n);
    void Append(std::string message);

    // The message a session without UTF8 gets instead of one with a raw 8-bit header (Utf8).
    static std::string HiddenNotice();
    // A message with a From, a Subject "Message n" and a Message-ID of its own.
    static std::string Message(int n, const std::string& from = "someone@example.org");
    // Messages 1 to `count` as Message gives them.
    static std::vector<std::string> Messages(int count);

private:
    struct TEntry
    {
        std::string Text;
        std::string UniqueId;
    };

    void Listen();
    void Serve(int fd, std::size_t session);
    // The fault to apply to the reply to `command` now, counting it.
    const TReplyFault* FaultFor(const std::string& command);

    std::vector<TEntry> Messages_; // under Mutex_
    int Added_ = 0;                // under Mutex_
    TMaildropFaults Faults_;
    TLoopbackListener Listener_;
    std::atomic<int> Accepted_{0};
    std::atomic<int> Logins_{0};
    std::atomic<int> Pipelined_{0};
    std::atomic<int> LoggedIn_{0};
    std::chrono::steady_clock::time_point LastLogin_{}; // under Mutex_
    bool AnyLogin_ = false;                             // under Mutex_
    mutable std::mutex Mutex_;
    int Dropped_ = 0;
    int DeleFailed_ = 0;
    std::vector<std::vector<std::string>> Commands_;
    std::vector<std::string> PipelinedCommands_;
    std::vector<std::vector<TEntry>> Views_; // each session's maildrop as at its login
    std::vector<std::string> Deleted_;
    std::vector<int> FaultsUsed_;
    std::vector<std::thread> Threads_;
    std::thread ListenerThread_;
};

} // namespace tarnwick::test
