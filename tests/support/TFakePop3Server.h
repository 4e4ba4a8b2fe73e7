#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TLineSocket.h"

namespace tarnwick::test {

// One step of a scripted POP3 conversation.
struct TFakeStep
{
    enum class TKind
    {
        Expect, // read one line from the client; it must equal Text
        Say,    // send Text followed by CR LF
        Raw,    // send Text as it is
        Drop,   // close the connection at once
        Stall,  // stop answering; wait until the client goes away
        Flood,  // send bytes without a line end until the client goes away
    };
    TKind Kind;
    std::string Text;
};

TFakeStep Expect(std::string line);
TFakeStep Say(std::string line);
TFakeStep Raw(std::string bytes);
TFakeStep Drop();
TFakeStep Stall();
TFakeStep Flood();

// A POP3 server for what a real server will not do: it listens on 127.0.0.1 on a free port, serves
// one connection from its own thread by running a script, and records every line the client sent.
// After the script it answers "QUIT" with "+OK" and anything else with "-ERR", until the client
// closes. A line that differs from an Expect step is recorded as a mismatch and ends the connection.
class TFakePop3Server
{
public:
    explicit TFakePop3Server(std::vector<TFakeStep> script);
    ~TFakePop3Server();
    TFakePop3Server(const TFakePop3Server&) = delete;
    TFakePop3Server& operator=(const TFakePop3Server&) = delete;

    int Port() const { return Listener_.Port(); }
    // What the client sent, line by line; safe after the client closed or the server ended.
    std::vector<std::string> Received() const;
    std::vector<std::string> Mismatches() const;
    // Waits until the conversation is over (the client closed or the script dropped it).
    void WaitDone();

    // The greeting, a CAPA that the server does not know, and a USER/PASS login that succeeds.
    static std::vector<TFakeStep> Login(const std::string& user = "joe",
                                        const std::string& password = "secret");

private:
    void Run();
    // A line from the client, recorded.
    bool ReadLine(TLineSocket& socket, std::string& line);

    std::vector<TFakeStep> Script_;
    TLoopbackListener Listener_;
    mutable std::mutex Mutex_;
    std::vector<std::string> Received_;
    std::vector<std::string> Mismatches_;
    std::thread Thread_;
};

} // namespace tarnwick::test
