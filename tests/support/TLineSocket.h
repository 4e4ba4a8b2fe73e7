#pragma once

#include <string>

namespace tarnwick::test {

// A listening socket on 127.0.0.1 on a free port, with a stop signal that every wait on it and on
// the connections it accepted watches. The scripted test servers are built on it.
class TLoopbackListener
{
public:
    explicit TLoopbackListener(int backlog); // throws std::runtime_error
    ~TLoopbackListener();
    TLoopbackListener(const TLoopbackListener&) = delete;
    TLoopbackListener& operator=(const TLoopbackListener&) = delete;

    int Port() const { return Port_; }
    int StopFd() const { return StopFd_; }
    // The next connection, or -1 once stopped or closed.
    int Accept();
    // Ends every wait: Accept and the connections' reads and writes fail from now on.
    void Stop();
    // Later connections are refused, as by a server that went away.
    void CloseListening();

private:
    int ListenFd_ = -1;
    int StopFd_ = -1;
    int Port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (a connection there is refused at once).
int ClosedLoopbackPort();

// The lines of one accepted connection (closed with it), with the listener's stop signal watched
// by every wait.
class TLineSocket
{
public:
    TLineSocket(int fd, int stopFd)
        : Fd_(fd)
        , StopFd_(stopFd)
    {}
    ~TLineSocket();
    TLineSocket(const TLineSocket&) = delete;
    TLineSocket& operator=(const TLineSocket&) = delete;

    // The next line without its CR LF; false when the client closed or the server stops.
    bool ReadLine(std::string& line);
    bool HasPendingLine() const { return Pending_.find('\n') != std::string::npos; }
    bool Send(const std::string& bytes);

private:
    bool Wait(short events);

    int Fd_;
    int StopFd_;
    std::string Pending_;
};

} // namespace tarnwick::test
