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

// A c-ares channel with the query time-outs of TDnsResolver::QueryTimeout.
struct TAresChannel
{
    ares_channel Handle = nullptr;

    // Throws core::TError when c-ares cannot start or `servers` (when not empty) is malformed.
    void Open(const std::string& servers)
    {
        InitLibrary();
        ares_options options{};
        options.timeout = 1000; // the first try; the retry waits twice as long
        options.tries = 2;
        int status = ares_init_options(&Handle, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
        if (status != ARES_SUCCESS) {
            Handle = nullptr;
            throw core::TError(std::string("The DNS resolver cannot start: ") + ares_strerror(status));
        }
        if (!servers.empty()) {
            status = ares_set_servers_ports_csv(Handle, servers.c_str());
            if (status != ARES_SUCCESS)
                throw core::TError("The DNS servers \"" + servers +
                                   "\" cannot be used: " + ares_strerror(status));
        }
    }
    ~TAresChannel()
    {
        if (Handle)
            ares_destroy(Handle);
    }
};

// The addresses of an A reply; an answer that cannot be read is unresolved.
TDnsAnswer ParseAnswer(int status, const unsigned char* abuf, int alen)
{
    TDnsAnswer answer;
    if (status != ARES_SUCCESS || abuf == nullptr)
        return answer;
    ares_addrttl addresses[32];
    int count = 32;
    if (ares_parse_a_reply(abuf, alen, nullptr, addresses, &count) != ARES_SUCCESS || count <= 0)
        return answer;
    answer.Resolved = true;
    for (int i = 0; i < count; ++i)
        answer.Addresses.push_back(ntohl(addresses[i].ipaddr.s_addr));
    return answer;
}

// The poll entries for the sockets c-ares wants watched, after those already in `fds`.
nfds_t AddSockets(ares_channel channel, pollfd* fds, nfds_t count)
{
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        const bool readable = ARES_GETSOCK_READABLE(bits, i);
        const bool writable = ARES_GETSOCK_WRITABLE(bits, i);
        if (!readable && !writable)
            continue;
        fds[count++] = {sockets[i], static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)),
                        0};
    }
    return count;
}

// After a poll: lets c-ares read and write the sockets (from `first` on) that are ready, or, when
// none is, handle its time-outs and retries.
void ProcessSockets(ares_channel channel, const pollfd* fds, nfds_t first, nfds_t count)
{
    bool any = false;
    for (nfds_t i = first; i < count; ++i) {
        if (fds[i].revents == 0)
            continue;
        any = true;
        const bool in = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool out = (fds[i].revents & POLLOUT) != 0;
        ares_process_fd(channel, in ? fds[i].fd : ARES_SOCKET_BAD, out ? fds[i].fd : ARES_SOCKET_BAD);
    }
    if (!any)
        ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
}

// How long c-ares wants to wait at most, within `limit`.
std::chrono::milliseconds AresWait(ares_channel channel, std::chrono::milliseconds limit)
{
    timeval maxWait{static_cast<time_t>(limit.count() / 1000),
                    static_cast<suseconds_t>((limit.count() % 1000) * 1000)};
    timeval aresWait{};
    if (const timeval* next = ares_timeout(channel, &maxWait, &aresWait))
        return std::chrono::milliseconds(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000);
    return limit;
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
    *pending->Answer = ParseAnswer(status, abuf, alen);
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

struct TDnsResolver::TChannel : TAresChannel
{};

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
    Channel_->Open(servers);
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
            // The stop signal is watched beside the sockets, so Abort() ends the wait at once.
            pollfd fds[ARES_GETSOCK_MAXNUM + 1];
            fds[0] = {Cancel_->Descriptor(), POLLIN, 0};
            const nfds_t count = AddSockets(channel, fds, 1);
            const auto wait =
                AresWait(channel, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
            poll(fds, count, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
            if (fds[0].revents != 0 || Aborted()) {
                // The callbacks of the cancelled queries run inside ares_cancel, while `pending`
                // still lives; their answers stay unresolved.
                ares_cancel(channel);
                return answers;
            }
            ProcessSockets(channel, fds, 1, count);
        }
    }
    return answers;
}

struct TDnsQueue::TChannel : TAresChannel
{};

struct TDnsQueue::TQuery
{
    TDnsQueue* Queue = nullptr;
    TDone Done;
    std::chrono::steady_clock::time_point Deadline;
    // Done has run: with the answer, at the time limit, or at a stop. c-ares may still hold the
    // query after its time limit; its callback then only frees it.
    bool Answered = false;
    std::list<TQuery>::iterator Self;
};

TDnsQueue::TDnsQueue(const std::string& servers, std::shared_ptr<TDnsCancel> cancel)
    : Cancel_(cancel ? std::move(cancel) : std::make_shared<TDnsCancel>())
    , Channel_(std::make_unique<TChannel>())
{
    Channel_->Open(servers.empty() ? ConfiguredServers() : servers);
    WakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeFd_ < 0)
        throw core::TError(std::string("The DNS lookup cannot make its wake-up signal: ") +
                           std::strerror(errno));
    Thread_ = std::thread([this] { Run(); });
}

TDnsQueue::~TDnsQueue()
{
    {
        std::lock_guard lock(Mutex_);
        Quit_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(WakeFd_, &one, sizeof one);
    Thread_.join();
    ::close(WakeFd_);
}

void TDnsQueue::Resolve(std::string name, TDone done)
{
    // A zero byte would cut the name short and ask for another one: no such name.
    if (name.find('\0') != std::string::npos) {
        done(TDnsAnswer{}, false);
        return;
    }
    {
        std::lock_guard lock(Mutex_);
        if (!Stopped_ && !Quit_ && !Cancel_->Cancelled()) {
            Incoming_.push_back({std::move(name), std::move(done)});
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(WakeFd_, &one, sizeof one);
            return;
        }
    }
    done(TDnsAnswer{}, true);
}

void TDnsQueue::OnAnswer(void* arg, int status, int /*timeouts*/, unsigned char* abuf, int alen)
{
    TQuery* query = static_cast<TQuery*>(arg);
    if (!query->Answered) {
        query->Answered = true;
        const bool stopped = status == ARES_ECANCELLED || status == ARES_EDESTRUCTION;
        query->Done(ParseAnswer(status, abuf, alen), stopped);
    }
    query->Queue->InFlight_.erase(query->Self);
}

void TDnsQueue::SendWaiting()
{
    while (InFlight_.size() < MaxInFlight && !Waiting_.empty()) {
        TRequest request = std::move(Waiting_.front());
        Waiting_.pop_front();
        TQuery& query = InFlight_.emplace_back();
        query.Queue = this;
        query.Done = std::move(request.Done);
        query.Deadline = std::chrono::steady_clock::now() + TDnsResolver::QueryTimeout;
        query.Self = std::prev(InFlight_.end());
        // The callback may run (and free the query) inside ares_query, so it is not touched after.
        ares_query(Channel_->Handle, request.Name.c_str(), ns_c_in, ns_t_a, OnAnswer, &query);
    }
}

std::chrono::milliseconds TDnsQueue::ExpireOverdue()
{
    const auto now = std::chrono::steady_clock::now();
    for (TQuery& query : InFlight_) {
        if (query.Answered)
            continue;
        if (query.Deadline > now) // the others were sent later
            return std::chrono::ceil<std::chrono::milliseconds>(query.Deadline - now);
        query.Answered = true;
        query.Done(TDnsAnswer{}, false);
    }
    return TDnsResolver::QueryTimeout;
}

void TDnsQueue::StopAll()
{
    // The callbacks of the cancelled queries run inside ares_cancel and free them.
    ares_cancel(Channel_->Handle);
    std::deque<TRequest> waiting;
    waiting.swap(Waiting_);
    for (TRequest& request : waiting)
        request.Done(TDnsAnswer{}, true);
}

void TDnsQueue::Run()
{
    for (;;) {
        bool quit = false;
        bool stopped = false;
        {
            std::lock_guard lock(Mutex_);
            for (TRequest& request : Incoming_)
                Waiting_.push_back(std::move(request));
            Incoming_.clear();
            if (Quit_ || Cancel_->Cancelled())
                Stopped_ = true;
            quit = Quit_;
            stopped = Stopped_;
        }
        if (stopped) {
            // Requests made from now on are answered by Resolve itself; the thread only waits for
            // the end.
            StopAll();
            if (quit)
                return;
        } else {
            SendWaiting();
        }

        pollfd fds[ARES_GETSOCK_MAXNUM + 2];
        fds[0] = {WakeFd_, POLLIN, 0};
        fds[1] = {Cancel_->Descriptor(), static_cast<short>(stopped ? 0 : POLLIN), 0};
        nfds_t count = 2;
        int timeout = -1; // nothing out: wait for a request
        if (!stopped && !InFlight_.empty()) {
            count = AddSockets(Channel_->Handle, fds, 2);
            const auto wait = AresWait(Channel_->Handle, ExpireOverdue());
            timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        }
        ::poll(fds, count, timeout);
        if (fds[0].revents & POLLIN) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t read = ::read(WakeFd_, &value, sizeof value);
        }
        if (stopped || InFlight_.empty())
            continue;
        ProcessSockets(Channel_->Handle, fds, 2, count);
        ExpireOverdue();
    }
}

} // namespace tarnwick::classify
