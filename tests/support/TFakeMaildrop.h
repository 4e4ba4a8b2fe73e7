#pragma once

#include <atomic>
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

// How a TFakeMaildrop misbehaves.
struct TMaildropFaults
{
    std::int32_t DropOnTop = 0; // close the connection when "TOP n 0" of this message arrives...
    int DropTimes = 0;          // ...this many times
    std::int32_t FailTop = 0;   // answer "TOP n 0" of this message with -ERR every time
    int CloseAfterSessions = 0; // stop listening after this many connections (0: never)
    bool RefuseLogin = false;   // -ERR for every PASS
    bool Capa = true;           // answer CAPA (with PIPELINING); false: -ERR
    bool Uidl = true;           // answer UIDL; false: -ERR
    std::int32_t FailDele = 0;  // answer "DELE n" of this message with -ERR...
    int FailDeleTimes = 0;      // ...this many times (-1: always)
    int MaxLoggedIn = 0;        // "-ERR [IN-USE]" for a login beyond this many at once (0: any)
};

// A POP3 server on 127.0.0.1 for the faults a real server will not produce on demand: it serves any
// number of connections at once, each on its own thread, over one fixed maildrop, with the faults
// given. It records every command per session.
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
    std::vector<std::vector<std::string>> Commands() const;

    // A message with a From, a Subject "Message n" and a Message-ID of its own.
    static std::string Message(int n, const std::string& from = "someone@example.org");
    // Messages 1 to `count` as Message gives them.
    static std::vector<std::string> Messages(int count);

private:
    void Listen();
    void Serve(int fd, std::size_t session);

    std::vector<std::string> Messages_;
    TMaildropFaults Faults_;
    TLoopbackListener Listener_;
    std::atomic<int> Accepted_{0};
    std::atomic<int> Logins_{0};
    std::atomic<int> Pipelined_{0};
    std::atomic<int> LoggedIn_{0};
    mutable std::mutex Mutex_;
    int Dropped_ = 0;
    int DeleFailed_ = 0;
    std::vector<std::vector<std::string>> Commands_;
    std::vector<std::thread> Threads_;
    std::thread ListenerThread_;
};

} // namespace tarnwick::test
