#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Pop3Reply.h"

struct addrinfo;
struct ssl_st;
struct ssl_ctx_st;

namespace tarnwick::retrieval {

// One TCP connection to a server, optionally secured with TLS, read line by line. Every wait is
// bounded: establishing the connection by the connect time-out, every read and write by the reply
// time-out (the longest silence accepted from the server). Abort() may be called from any thread
// and makes a blocked or later call fail at once. Failures throw TConnectionError with a text that
// says what happened; the connection is closed then.
class TSocketConnection
{
public:
    static constexpr std::size_t DefaultMaxLineLength = 1024 * 1024;

    TSocketConnection();
    ~TSocketConnection();
    TSocketConnection(const TSocketConnection&) = delete;
    TSocketConnection& operator=(const TSocketConnection&) = delete;

    // How host names are looked up; getaddrinfo unless replaced. The lookup runs on a thread of its
    // own, so a name server that does not answer costs at most the connect time-out, and Abort()
    // ends the wait at once. Tests put in a lookup that never returns to show that.
    using THostLookup = int (*)(const char* host, const char* service, const addrinfo* hints,
                                addrinfo** result);
    static void SetHostLookup(THostLookup lookup);

    void SetReplyTimeoutMs(int ms) { ReplyTimeoutMs_ = ms; }
    int ReplyTimeoutMs() const { return ReplyTimeoutMs_; }
    void SetMaxLineLength(std::size_t bytes) { MaxLineLength_ = bytes; }

    // Resolves the host and connects to the first address that answers, all within the time-out.
    void Connect(const std::string& host, int port, int connectTimeoutMs);
    // Runs the TLS handshake on the open connection: the certificate must chain to the system's
    // trusted roots or to the file named by TARNWICK_CA_FILE, and must name the host.
    void StartTls();
    bool IsConnected() const { return Fd_ >= 0; }
    bool IsTls() const { return static_cast<bool>(Ssl_); }
    const std::string& Host() const { return Host_; }

    void Write(std::string_view bytes);
    // The next line without its line end (CR LF or LF).
    std::string ReadLine();
    // Closes the connection (a TLS session without the closing handshake). Never throws.
    void Close() noexcept;
    // Makes every blocked and later operation of this connection fail; thread-safe.
    void Abort() noexcept;
    bool Aborted() const { return Aborted_.load(); }

private:
    struct TSslDeleter
    {
        void operator()(ssl_st* ssl) const;
        void operator()(ssl_ctx_st* ctx) const;
    };

    // Waits until the socket is readable (or writable); throws on time-out or abort.
    // `limitMs` is the limit named in the time-out error (the whole limit when `timeoutMs` is what
    // remains of it).
    void Wait(bool forWrite, int timeoutMs, const char* what, int limitMs = -1);
    [[noreturn]] void Fail(const std::string& text);
    void CheckAborted();
    // The addresses of `host`, looked up by the lookup function before `deadline`.
    std::unique_ptr<addrinfo, void (*)(addrinfo*)>
    Lookup(const std::string& host, int port, std::chrono::steady_clock::time_point deadline, int limitMs);
    std::size_t ReadSome(char* buffer, std::size_t size);

    int Fd_ = -1;
    int WakeFd_ = -1; // eventfd that Abort() signals, polled beside the socket
    std::unique_ptr<ssl_ctx_st, TSslDeleter> SslContext_;
    std::unique_ptr<ssl_st, TSslDeleter> Ssl_;
    std::string Host_;
    int Port_ = 0;
    int ReplyTimeoutMs_ = 60000;
    std::size_t MaxLineLength_ = DefaultMaxLineLength;
    std::unique_ptr<TLineSplitter> Lines_;
    std::atomic<bool> Aborted_{false};
};

} // namespace tarnwick::retrieval
