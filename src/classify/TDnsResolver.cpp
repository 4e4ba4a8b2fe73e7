#include "TDnsResolver.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <ares.h>
#include <arpa/nameser.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/Errors.h"

namespace tarnwick::classify {

namespace {

void InitLibrary()
{
    static std::once_flag once;
    static int status = ARES_SUCCESS;
    std::call_once(once, [] { status = ares_library_init(ARES_LIB_INIT_ALL); });
    if (status != ARES_SUCCESS)
        throw core::TError(std::string("The DNS resolver library cannot start: ") + ares_strerror(status));
}

std::string ConfiguredServers()
{
    const char* servers = std::getenv("TARNWICK_DNS_SERVERS");
    return servers ? servers : "";
}

struct TPending
{
    TDnsAnswer* Answer;
    std::size_t* Outstanding;
};

void OnAnswer(void* arg, int status, int /*timeouts*/, unsigned char* abuf, int alen)
{
    auto* pending = static_cast<TPending*>(arg);
    --*pending->Outstanding;
    if (status != ARES_SUCCESS || abuf == nullptr)
        return;
    ares_addrttl addresses[32];
    int count = 32;
    if (ares_parse_a_reply(abuf, alen, nullptr, addresses, &count) != ARES_SUCCESS || count <= 0)
        return;
    pending->Answer->Resolved = true;
    for (int i = 0; i < count; ++i)
        pending->Answer->Addresses.push_back(ntohl(addresses[i].ipaddr.s_addr));
}

} // namespace

bool IsListingAnswer(const TDnsAnswer& answer)
{
    if (!answer.Resolved || answer.Addresses.empty())
        return false;
    return std::all_of(answer.Addresses.begin(), answer.Addresses.end(),
                       [](std::uint32_t address) { return (address >> 24) == 127 && address < 0x7FFFFFFCu; });
}

TDnsCancel::TDnsCancel()
    : Fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (Fd_ < 0)
        throw core::TError(std::string("The DNS lookup cannot make its stop signal: ") +
                           std::strerror(errno));
}

TDnsCancel::~TDnsCancel()
{
    ::close(Fd_);
}

void TDnsCancel::Cancel() noexcept
{
    Cancelled_.store(true, std::memory_order_release);
    // The counter is never read back, so the descriptor stays readable for every later poll.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(Fd_, &one, sizeof one);
}

struct TDnsResolver::TChannel
{
    ares_channel Handle = nullptr;
    ~TChannel()
    {
        if (Handle)
            ares_destroy(Handle);
    }
};

TDnsResolver::TDnsResolver()
    : TDnsResolver(ConfiguredServers(), nullptr)
{}

TDnsResolver::TDnsResolver(const std::string& servers)
    : TDnsResolver(servers, nullptr)
{}

TDnsResolver::TDnsResolver(std::shared_ptr<TDnsCancel> cancel)
    : TDnsResolver(ConfiguredServers(), std::move(cancel))
{}

TDnsResolver::TDnsResolver(const std::string& servers, std::shared_ptr<TDnsCancel> cancel)
    : Cancel_(cancel ? std::move(cancel) : std::make_shared<TDnsCancel>())
    , Channel_(std::make_unique<TChannel>())
{
    InitLibrary();
    ares_options options{};
    options.timeout = 1000; // the first try; the retry waits twice as long
    options.tries = 2;
    int status = ares_init_options(&Channel_->Handle, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
    if (status != ARES_SUCCESS) {
        Channel_->Handle = nullptr;
        throw core::TError(std::string("The DNS resolver cannot start: ") + ares_strerror(status));
    }
    if (!servers.empty()) {
        status = ares_set_servers_ports_csv(Channel_->Handle, servers.c_str());
        if (status != ARES_SUCCESS)
            throw core::TError("The DNS servers \"" + servers +
                               "\" cannot be used: " + ares_strerror(status));
    }
}

TDnsResolver::~TDnsResolver() = default;

TDnsAnswer TDnsResolver::Resolve(const std::string& name)
{
    return ResolveAll({name}).front();
}

std::vector<TDnsAnswer> TDnsResolver::ResolveAll(const std::vector<std::string>& names)
{
    std::vector<TDnsAnswer> answers(names.size());
    ares_channel channel = Channel_->Handle;
    for (std::size_t first = 0; first < names.size() && !Aborted(); first += MaxInFlight) {
        const std::size_t last = std::min(names.size(), first + MaxInFlight);
        std::size_t outstanding = last - first;
        std::vector<TPending> pending;
        pending.reserve(outstanding);
        for (std::size_t i = first; i < last; ++i)
            pending.push_back({&answers[i], &outstanding});
        // The callbacks may run inside ares_query (a malformed name), so `pending` is complete first.
        for (std::size_t i = first; i < last; ++i) {
            // A zero byte would cut the name short and ask for another one: no such name.
            if (names[i].find('\0') != std::string::npos) {
                --outstanding;
                continue;
            }
            ares_query(channel, names[i].c_str(), ns_c_in, ns_t_a, OnAnswer, &pending[i - first]);
        }

        const auto deadline = std::chrono::steady_clock::now() + QueryTimeout;
        while (outstanding > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                ares_cancel(channel); // the rest count as unanswered
                break;
            }
            ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
            const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
            // The stop signal is watched beside the sockets, so Abort() ends the wait at once.
            pollfd fds[ARES_GETSOCK_MAXNUM + 1];
            fds[0] = {Cancel_->Descriptor(), POLLIN, 0};
            nfds_t count = 1;
            for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
                const bool readable = ARES_GETSOCK_READABLE(bits, i);
                const bool writable = ARES_GETSOCK_WRITABLE(bits, i);
                if (!readable && !writable)
                    continue;
                fds[count++] = {sockets[i],
                                static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0};
            }
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            timeval maxWait{static_cast<time_t>(wait.count() / 1000),
                            static_cast<suseconds_t>((wait.count() % 1000) * 1000)};
            timeval aresWait{};
            if (const timeval* next = ares_timeout(channel, &maxWait, &aresWait))
                wait = std::chrono::milliseconds(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000);
            const int ready = poll(fds, count, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
            if (fds[0].revents != 0 || Aborted()) {
                // The callbacks of the cancelled queries run inside ares_cancel, while `pending`
                // still lives; their answers stay unresolved.
                ares_cancel(channel);
                return answers;
            }
            if (ready <= 0) {
                ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD); // time-outs and retries
                continue;
            }
            for (nfds_t i = 1; i < count; ++i) {
                if (fds[i].revents == 0)
                    continue;
                const bool in = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
                const bool out = (fds[i].revents & POLLOUT) != 0;
                ares_process_fd(channel, in ? fds[i].fd : ARES_SOCKET_BAD, out ? fds[i].fd : ARES_SOCKET_BAD);
            }
        }
    }
    return answers;
}

} // namespace tarnwick::classify
