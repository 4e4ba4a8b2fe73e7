#include "TDnsmasq.h"

#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnwick::test {

namespace {

constexpr const char* ReadyName = "ready.tarnwick.test";

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A UDP socket bound to 127.0.0.1 on a port of the system's choice; returns the port.
int BoundUdpSocket(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string Query(std::uint16_t id, const std::string& name)
{
    std::string packet;
    packet += static_cast<char>(id >> 8);
    packet += static_cast<char>(id & 0xFF);
    packet += std::string("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        packet += static_cast<char>(dot - start);
        packet += name.substr(start, dot - start);
        start = dot + 1;
    }
    packet += std::string("\x00\x00\x01\x00\x01", 5);
    return packet;
}

std::string DnsmasqProgram()
{
    for (const char* candidate : {"/usr/sbin/dnsmasq", "/usr/bin/dnsmasq", "/usr/local/sbin/dnsmasq"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    throw std::runtime_error("dnsmasq is not installed (scripts/setup-deps installs dnsmasq-base)");
}

} // namespace

int FreeUdpPort()
{
    int port = 0;
    ::close(BoundUdpSocket(port));
    return port;
}

int ProbeDns(int port, const std::string& name, std::chrono::milliseconds wait)
{
    int ignored = 0;
    const int fd = BoundUdpSocket(ignored);
    const std::string packet = Query(0x5151, name);
    const sockaddr_in server = Loopback(port);
    ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    pollfd p{fd, POLLIN, 0};
    int code = -1;
    if (::poll(&p, 1, static_cast<int>(wait.count())) == 1) {
        unsigned char reply[512];
        const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
        if (n >= 4)
            code = reply[3] & 0x0F;
    }
    ::close(fd);
    return code;
}

TDnsmasq::TDnsmasq(const std::vector<std::string>& options)
{
    const std::string program = DnsmasqProgram();
    for (int attempt = 0; attempt < 5 && Pid_ < 0; ++attempt) {
        const int port = FreeUdpPort();
        std::vector<std::string> args{program,
                                      "--no-daemon",
                                      "--keep-in-foreground",
                                      "--conf-file=/dev/null",
                                      "--no-resolv",
                                      "--no-hosts",
                                      "--listen-address=127.0.0.1",
                                      "--bind-interfaces",
                                      "--pid-file=",
                                      "--port=" + std::to_string(port),
                                      std::string("--host-record=") + ReadyName + ",127.0.0.1"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error(std::string("cannot start dnsmasq: ") + std::strerror(rc));

        // Ready once it answers; gone when the port was taken meanwhile.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            if (ProbeDns(port, ReadyName, std::chrono::milliseconds(100)) == 0) {
                Pid_ = pid;
                Port_ = port;
                break;
            }
        }
        if (Pid_ < 0 && pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    if (Pid_ < 0)
        throw std::runtime_error("dnsmasq did not start");
}

TDnsmasq::~TDnsmasq()
{
    if (Pid_ > 0) {
        ::kill(Pid_, SIGTERM);
        ::waitpid(Pid_, nullptr, 0);
    }
}

TDelayingDnsRelay::TDelayingDnsRelay(int upstreamPort, std::chrono::milliseconds delay)
    : Delay_(delay)
{
    ClientSocket_ = BoundUdpSocket(Port_);
    int ignored = 0;
    UpstreamSocket_ = BoundUdpSocket(ignored);
    const sockaddr_in upstream = Loopback(upstreamPort);
    ::connect(UpstreamSocket_, reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream);
    Thread_ = std::thread([this] { Run(); });
}

TDelayingDnsRelay::~TDelayingDnsRelay()
{
    Stop_ = true;
    Thread_.join();
    ::close(ClientSocket_);
    ::close(UpstreamSocket_);
}

void TDelayingDnsRelay::Run()
{
    using Clock = std::chrono::steady_clock;
    struct THeld
    {
        Clock::time_point Due;
        std::string Packet;
    };
    std::deque<THeld> held;                       // in arrival order, so due times ascend
    std::map<std::uint16_t, sockaddr_in> clients; // query id -> who asked
    unsigned char buffer[4096];
    while (!Stop_) {
        int wait = 5;
        const auto now = Clock::now();
        while (!held.empty() && held.front().Due <= now) {
            ::send(UpstreamSocket_, held.front().Packet.data(), held.front().Packet.size(), 0);
            held.pop_front();
        }
        if (!held.empty())
            wait = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(held.front().Due - now).count());
        pollfd fds[2] = {{ClientSocket_, POLLIN, 0}, {UpstreamSocket_, POLLIN, 0}};
        if (::poll(fds, 2, std::min(std::max(wait, 0), 5)) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(ClientSocket_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n >= 12) {
                clients[static_cast<std::uint16_t>(buffer[0] << 8 | buffer[1])] = from;
                held.push_back({Clock::now() + Delay_, std::string(reinterpret_cast<char*>(buffer), n)});
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::recv(UpstreamSocket_, buffer, sizeof buffer, 0);
            if (n >= 12) {
                const auto it = clients.find(static_cast<std::uint16_t>(buffer[0] << 8 | buffer[1]));
                if (it != clients.end()) {
                    ::sendto(ClientSocket_, buffer, n, 0, reinterpret_cast<const sockaddr*>(&it->second),
                             sizeof it->second);
                    clients.erase(it);
                }
            }
        }
    }
}

TSilentDnsServer::TSilentDnsServer()
{
    Socket_ = BoundUdpSocket(Port_);
}

TSilentDnsServer::~TSilentDnsServer()
{
    ::close(Socket_);
}

TScriptedDnsServer::TScriptedDnsServer(std::set<std::string> listed,
                                       std::function<bool(const std::string& name)> hold)
    : Listed_(std::move(listed))
    , Hold_(std::move(hold))
{
    Socket_ = BoundUdpSocket(Port_);
    Thread_ = std::thread([this] { Run(); });
}

TScriptedDnsServer::~TScriptedDnsServer()
{
    Stop_ = true;
    Thread_.join();
    ::close(Socket_);
}

void TScriptedDnsServer::Release()
{
    std::lock_guard lock(Mutex_);
    Released_ = true;
}

std::map<std::string, int> TScriptedDnsServer::Queries() const
{
    std::lock_guard lock(Mutex_);
    return Queries_;
}

std::size_t TScriptedDnsServer::Holding() const
{
    std::lock_guard lock(Mutex_);
    return Held_.size();
}

void TScriptedDnsServer::Run()
{
    unsigned char query[512];
    while (!Stop_) {
        {
            std::lock_guard lock(Mutex_);
            for (; Released_ && !Held_.empty(); Held_.pop_front())
                ::sendto(Socket_, Held_.front().Reply.data(), Held_.front().Reply.size(), 0,
                         reinterpret_cast<const sockaddr*>(&Held_.front().To), Held_.front().ToLength);
        }
        pollfd p{Socket_, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0)
            continue;
        THeld reply{};
        reply.ToLength = sizeof reply.To;
        const ssize_t n = ::recvfrom(Socket_, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&reply.To),
                                     &reply.ToLength);
        if (n < 17)
            continue;
        // The question: labels up to the empty one, then type and class.
        std::string name;
        std::size_t at = 12;
        while (at < static_cast<std::size_t>(n) && query[at] != 0) {
            const std::size_t length = query[at];
            if (at + 1 + length > static_cast<std::size_t>(n))
                break;
            if (!name.empty())
                name += '.';
            name.append(reinterpret_cast<const char*>(query) + at + 1, length);
            at += 1 + length;
        }
        const std::size_t questionEnd = at + 5;
        if (questionEnd > static_cast<std::size_t>(n))
            continue;
        const bool listed = Listed_.count(name) > 0;
        std::string& out = reply.Reply;
        out.assign(reinterpret_cast<const char*>(query), 2);                       // the id
        out += static_cast<char>(0x84 | (query[2] & 0x01));                        // answer, authoritative
        out += static_cast<char>(listed ? 0x80 : 0x83);                            // "no such name"
        out += std::string("\x00\x01\x00", 3) + static_cast<char>(listed ? 1 : 0); // one question
        out += std::string(4, '\0');
        out.append(reinterpret_cast<const char*>(query) + 12, questionEnd - 12);
        if (listed) // the name of the question, A, IN, a minute, 127.0.0.2
            out += std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x3C\x00\x04\x7F\x00\x00\x02", 16);
        std::lock_guard lock(Mutex_);
        ++Queries_[name];
        if (!Released_ && Hold_ && Hold_(name))
            Held_.push_back(std::move(reply));
        else
            ::sendto(Socket_, out.data(), out.size(), 0, reinterpret_cast<const sockaddr*>(&reply.To),
                     reply.ToLength);
    }
}

} // namespace tarnwick::test
