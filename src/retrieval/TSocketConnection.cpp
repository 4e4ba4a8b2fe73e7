#include "TSocketConnection.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Pop3Errors.h"

namespace tarnwick::retrieval {

namespace {

using TClock = std::chrono::steady_clock;

std::atomic<TSocketConnection::THostLookup> HostLookup{&::getaddrinfo};

void FreeAddresses(addrinfo* info)
{
    if (info != nullptr)
        ::freeaddrinfo(info);
}

// One host-name lookup, shared by the thread that runs it and the connection that waits for it. A
// connection that stops waiting (time-out, Abort) leaves the state to the thread, which frees it
// when the lookup finally returns.
struct TPendingLookup
{
    int DoneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // signalled when the lookup returned
    std::atomic<bool> Done{false};
    int Result = EAI_SYSTEM;
    int Errno = 0; // the lookup thread's errno when Result is EAI_SYSTEM
    addrinfo* Found = nullptr;

    TPendingLookup() = default;
    TPendingLookup(const TPendingLookup&) = delete;
    TPendingLookup& operator=(const TPendingLookup&) = delete;
    ~TPendingLookup()
    {
        FreeAddresses(Found);
        if (DoneFd >= 0)
            ::close(DoneFd);
    }
};

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

std::string OpenSslErrorText()
{
    std::string text;
    while (const unsigned long code = ::ERR_get_error()) {
        char buffer[256];
        ::ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty())
            text += "; ";
        text += buffer;
    }
    return text;
}

bool IsIpLiteral(const std::string& host)
{
    in6_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

std::string DurationText(int ms)
{
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

int RemainingMs(TClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the peer has gone. The
// signal is held back for the calling thread while OpenSSL writes and a SIGPIPE raised meanwhile
// is taken away again, so that a closed connection is an error and never ends the process.
class TSigPipeGuard
{
public:
    TSigPipeGuard()
    {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        WasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &Old_);
    }
    ~TSigPipeGuard()
    {
        if (!WasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t pipeOnly;
                sigemptyset(&pipeOnly);
                sigaddset(&pipeOnly, SIGPIPE);
                const timespec zero{0, 0};
                while (sigtimedwait(&pipeOnly, nullptr, &zero) == -1 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &Old_, nullptr);
    }
    TSigPipeGuard(const TSigPipeGuard&) = delete;
    TSigPipeGuard& operator=(const TSigPipeGuard&) = delete;

private:
    sigset_t Old_{};
    bool WasPending_ = false;
};

} // namespace

void TSocketConnection::TSslDeleter::operator()(ssl_st* ssl) const
{
    ::SSL_free(ssl);
}

void TSocketConnection::TSslDeleter::operator()(ssl_ctx_st* ctx) const
{
    ::SSL_CTX_free(ctx);
}

TSocketConnection::TSocketConnection()
    : WakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (WakeFd_ < 0)
        throw TConnectionError("Cannot create a connection: " + ErrnoText(errno));
}

TSocketConnection::~TSocketConnection()
{
    Close();
    ::close(WakeFd_);
}

void TSocketConnection::Abort() noexcept
{
    Aborted_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(WakeFd_, &one, sizeof one);
}

void TSocketConnection::CheckAborted()
{
    if (Aborted_.load())
        Fail("The connection to " + Host_ + " was stopped");
}

void TSocketConnection::Fail(const std::string& text)
{
    Close();
    throw TConnectionError(text);
}

void TSocketConnection::Close() noexcept
{
    Ssl_.reset();
    SslContext_.reset();
    if (Fd_ >= 0) {
        ::close(Fd_);
        Fd_ = -1;
    }
    Lines_.reset();
}

void TSocketConnection::Wait(bool forWrite, int timeoutMs, const char* what, int limitMs)
{
    pollfd fds[2] = {{Fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {WakeFd_, POLLIN, 0}};
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        CheckAborted();
        const int result = ::poll(fds, 2, RemainingMs(deadline));
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            Fail("Waiting for " + Host_ + " failed: " + ErrnoText(errno));
        CheckAborted();
        if (result == 0)
            Fail(std::string("The server ") + Host_ + " did not " + what + " within " +
                 DurationText(limitMs >= 0 ? limitMs : timeoutMs));
        if (fds[0].revents != 0)
            return; // readable, writable, or an error that the next call reports
    }
}

void TSocketConnection::SetHostLookup(THostLookup lookup)
{
    HostLookup.store(lookup != nullptr ? lookup : &::getaddrinfo);
}

std::unique_ptr<addrinfo, void (*)(addrinfo*)>
TSocketConnection::Lookup(const std::string& host, int port, TClock::time_point deadline, int limitMs)
{
    auto pending = std::make_shared<TPendingLookup>();
    if (pending->DoneFd < 0)
        throw TConnectionError("Cannot look up " + host + ": " + ErrnoText(errno));
    std::thread([pending, host, service = std::to_string(port), lookup = HostLookup.load()] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        pending->Result = lookup(host.c_str(), service.c_str(), &hints, &pending->Found);
        pending->Errno = errno;
        pending->Done.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(pending->DoneFd, &one, sizeof one);
    }).detach();

    pollfd fds[2] = {{pending->DoneFd, POLLIN, 0}, {WakeFd_, POLLIN, 0}};
    while (!pending->Done.load(std::memory_order_acquire)) {
        CheckAborted();
        const int result = ::poll(fds, 2, RemainingMs(deadline));
        if (result < 0 && errno != EINTR)
            throw TConnectionError("Waiting for the address of " + host + " failed: " + ErrnoText(errno));
        CheckAborted();
        if (result == 0)
            throw TConnectionError("Host not found: " + host + " (no answer from the name server within " +
                                   DurationText(limitMs) + ")");
    }
    if (pending->Result != 0)
        throw TConnectionError(
            "Host not found: " + host + " (" +
            (pending->Result == EAI_SYSTEM ? ErrnoText(pending->Errno) : ::gai_strerror(pending->Result)) +
            ")");
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(pending->Found, &FreeAddresses);
    pending->Found = nullptr;
    return addresses;
}

void TSocketConnection::Connect(const std::string& host, int port, int connectTimeoutMs)
{
    Close();
    Host_ = host;
    Port_ = port;
    CheckAborted();
    const std::string where = host + ":" + std::to_string(port);
    if (port <= 0 || port > 65535)
        throw TConnectionError("Invalid port for " + host + ": " + std::to_string(port));

    const auto deadline = TClock::now() + std::chrono::milliseconds(connectTimeoutMs);
    const auto addresses = Lookup(host, port, deadline, connectTimeoutMs);
    std::string lastError = "no address";
    for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address->ai_protocol);
        if (fd < 0) {
            lastError = ErrnoText(errno);
            continue;
        }
        Fd_ = fd;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastError = ErrnoText(errno);
                Close();
                continue;
            }
            Wait(true, RemainingMs(deadline),
                 ("accept the connection to port " + std::to_string(port)).c_str(), connectTimeoutMs);
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                lastError = ErrnoText(error);
                Close();
                continue;
            }
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Lines_ = std::make_unique<TLineSplitter>(MaxLineLength_);
        return;
    }
    throw TConnectionError("Cannot connect to " + where + ": " + lastError);
}

void TSocketConnection::StartTls()
{
    if (Fd_ < 0)
        throw TConnectionError("TLS needs an open connection");
    ::ERR_clear_error();
    SslContext_.reset(::SSL_CTX_new(::TLS_client_method()));
    if (!SslContext_)
        Fail("Cannot set up TLS: " + OpenSslErrorText());
    ::SSL_CTX_set_min_proto_version(SslContext_.get(), TLS1_2_VERSION);
    ::SSL_CTX_set_verify(SslContext_.get(), SSL_VERIFY_PEER, nullptr);
    ::SSL_CTX_set_default_verify_paths(SslContext_.get());
    if (const char* extra = std::getenv("TARNWICK_CA_FILE"); extra && *extra) {
        if (::SSL_CTX_load_verify_locations(SslContext_.get(), extra, nullptr) != 1)
            Fail(std::string("Cannot read the certificate file named by TARNWICK_CA_FILE: ") + extra);
    }
    Ssl_.reset(::SSL_new(SslContext_.get()));
    if (!Ssl_ || ::SSL_set_fd(Ssl_.get(), Fd_) != 1)
        Fail("Cannot set up TLS: " + OpenSslErrorText());
    if (IsIpLiteral(Host_)) {
        ::X509_VERIFY_PARAM_set1_ip_asc(::SSL_get0_param(Ssl_.get()), Host_.c_str());
    } else {
        // SNI; SSL_set_tlsext_host_name is a macro with a C cast around this call.
        ::SSL_ctrl(Ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, Host_.data());
        ::SSL_set1_host(Ssl_.get(), Host_.c_str());
    }
    const auto deadline = TClock::now() + std::chrono::milliseconds(ReplyTimeoutMs_);
    for (;;) {
        CheckAborted();
        const int result = [&] {
            TSigPipeGuard guard;
            return ::SSL_connect(Ssl_.get());
        }();
        if (result == 1)
            break;
        const int error = ::SSL_get_error(Ssl_.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            Wait(error == SSL_ERROR_WANT_WRITE, RemainingMs(deadline), "complete the TLS handshake",
                 ReplyTimeoutMs_);
            continue;
        }
        const long verify = ::SSL_get_verify_result(Ssl_.get());
        if (verify != X509_V_OK)
            Fail("The TLS certificate of " + Host_ +
                 " is not trusted: " + ::X509_verify_cert_error_string(verify));
        std::string why = OpenSslErrorText();
        if (why.empty())
            why = error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                      ? "the server closed the connection"
                      : "error " + std::to_string(error);
        Fail("The TLS handshake with " + Host_ + ":" + std::to_string(Port_) + " failed: " + why);
    }
    // Lines sent in plain text before the handshake would be an injection attempt: a server must
    // not send anything between "+OK" to STLS and the handshake.
    Lines_ = std::make_unique<TLineSplitter>(MaxLineLength_);
}

void TSocketConnection::Write(std::string_view bytes)
{
    CheckAborted();
    if (Fd_ < 0)
        throw TConnectionError("The connection to " + Host_ + " is closed");
    while (!bytes.empty()) {
        if (Ssl_) {
            ::ERR_clear_error();
            std::size_t written = 0;
            const int result = [&] {
                TSigPipeGuard guard;
                return ::SSL_write_ex(Ssl_.get(), bytes.data(), bytes.size(), &written);
            }();
            if (result == 1) {
                bytes.remove_prefix(written);
                continue;
            }
            const int error = ::SSL_get_error(Ssl_.get(), result);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                Wait(error == SSL_ERROR_WANT_WRITE, ReplyTimeoutMs_, "take the command");
                continue;
            }
            Fail("The connection to " + Host_ + " was lost while sending");
        }
        const ssize_t sent = ::send(Fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Wait(true, ReplyTimeoutMs_, "take the command");
            continue;
        }
        Fail("The connection to " + Host_ + " was lost while sending: " + ErrnoText(errno));
    }
}

std::size_t TSocketConnection::ReadSome(char* buffer, std::size_t size)
{
    for (;;) {
        CheckAborted();
        if (Ssl_) {
            ::ERR_clear_error();
            std::size_t got = 0;
            const int result = ::SSL_read_ex(Ssl_.get(), buffer, size, &got);
            if (result == 1)
                return got;
            const int error = ::SSL_get_error(Ssl_.get(), result);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                Wait(error == SSL_ERROR_WANT_WRITE, ReplyTimeoutMs_, "answer");
                continue;
            }
            if (error == SSL_ERROR_ZERO_RETURN)
                return 0;
            Fail("The connection to " + Host_ + " was lost");
        }
        const ssize_t got = ::recv(Fd_, buffer, size, 0);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Wait(false, ReplyTimeoutMs_, "answer");
            continue;
        }
        Fail("The connection to " + Host_ + " was lost: " + ErrnoText(errno));
    }
}

std::string TSocketConnection::ReadLine()
{
    CheckAborted();
    if (Fd_ < 0 || !Lines_)
        throw TConnectionError("The connection to " + Host_ + " is closed");
    std::string line;
    for (;;) {
        switch (Lines_->Next(line)) {
        case TLineSplitter::TResult::Line:
            return line;
        case TLineSplitter::TResult::TooLong:
            Fail("The server " + Host_ + " sent a line longer than " + std::to_string(MaxLineLength_) +
                 " bytes");
        case TLineSplitter::TResult::NeedMore:
            break;
        }
        char buffer[16384];
        const std::size_t got = ReadSome(buffer, sizeof buffer);
        if (got == 0)
            Fail("The connection to " + Host_ + " was closed by the server");
        Lines_->Feed(buffer, got);
    }
}

} // namespace tarnwick::retrieval
