#include "TDnsDelayRelay.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick::bench {

namespace {

using TClock = std::chrono::steady_clock;

// Queries at the server at once. dnsmasq drops queries from its socket's buffer when a few hundred
// arrive together (500 at once lost a fifth of them here), and every dropped one would cost its
// resolver a time-out: beyond this many, due queries wait for answers to come back. dnsmasq
// answers its local names within microseconds, so the wait is that short.
constexpr std::size_t MaxAtServer = 128;
constexpr auto Lost = std::chrono::seconds(1);

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int UdpSocket(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("the DNS relay cannot make a socket: ") + std::strerror(errno));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error(std::string("the DNS relay cannot bind a socket: ") + std::strerror(error));
    }
    port = ntohs(address.sin_port);
    // Bursts of a whole receive's queries must not overflow the socket's buffer.
    const int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

std::uint16_t IdOf(const unsigned char* packet)
{
    return static_cast<std::uint16_t>(packet[0] << 8 | packet[1]);
}

void SetId(unsigned char* packet, std::uint16_t id)
{
    packet[0] = static_cast<unsigned char>(id >> 8);
    packet[1] = static_cast<unsigned char>(id & 0xFF);
}

// The question's name of a query, "a.b.c" in lower case; empty when the packet holds none.
std::string QuestionName(const unsigned char* packet, std::size_t size)
{
    std::string name;
    std::size_t at = 12;
    while (at < size && packet[at] != 0) {
        const std::size_t length = packet[at];
        if (length > 63 || at + 1 + length > size)
            return {};
        if (!name.empty())
            name += '.';
        for (std::size_t i = 0; i < length; ++i) {
            const char c = static_cast<char>(packet[at + 1 + i]);
            name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        at += 1 + length;
    }
    return name;
}

} // namespace

TDnsDelayRelay::TDnsDelayRelay(int upstreamPort, std::chrono::milliseconds delay)
    : Delay_(delay)
{
    ClientSocket_ = UdpSocket(Port_);
    int ignored = 0;
    UpstreamSocket_ = UdpSocket(ignored);
    const sockaddr_in upstream = Loopback(upstreamPort);
    if (::connect(UpstreamSocket_, reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream) != 0) {
        const int error = errno;
        ::close(ClientSocket_);
        ::close(UpstreamSocket_);
        throw std::runtime_error(std::string("the DNS relay cannot reach its server: ") +
                                 std::strerror(error));
    }
    Thread_ = std::thread([this] { Run(); });
}

TDnsDelayRelay::~TDnsDelayRelay()
{
    Stop();
    ::close(ClientSocket_);
    ::close(UpstreamSocket_);
}

void TDnsDelayRelay::Stop()
{
    Stop_ = true;
    if (Thread_.joinable())
        Thread_.join();
}

void TDnsDelayRelay::Run()
{
    struct THeld
    {
        TClock::time_point Due;
        std::vector<unsigned char> Packet; // under the relay's id
    };
    struct TAsker
    {
        sockaddr_in Address{};
        std::uint16_t Id = 0;
        bool Waiting = false;  // the answer has not gone back yet
        bool AtServer = false; // sent on and counted in `atServer`
        TClock::time_point Sent;
    };
    std::deque<THeld> held; // in arrival order, so the due times ascend
    // By the relay's id. Ids go round; an answer takes well under a second, so a slot is long free
    // when its id comes round again after 65,536 queries.
    std::vector<TAsker> askers(65536);
    std::uint16_t nextId = 0;
    // The relay's ids at the server, oldest first, and how many of them are still unanswered.
    std::deque<std::uint16_t> sent;
    std::size_t atServer = 0;
    unsigned char buffer[4096];
    while (!Stop_) {
        auto now = TClock::now();
        // A query the server has not answered within a second is not waited for any longer.
        while (!sent.empty() && (!askers[sent.front()].AtServer || now - askers[sent.front()].Sent > Lost)) {
            if (askers[sent.front()].AtServer) {
                askers[sent.front()].AtServer = false;
                --atServer;
            }
            sent.pop_front();
        }
        while (!held.empty() && held.front().Due <= now && atServer < MaxAtServer) {
            const std::uint16_t id = IdOf(held.front().Packet.data());
            ::send(UpstreamSocket_, held.front().Packet.data(), held.front().Packet.size(), 0);
            askers[id].AtServer = true;
            askers[id].Sent = now;
            sent.push_back(id);
            ++atServer;
            held.pop_front();
        }
        // Wake for the next due query to the millisecond, and at least every 5 ms to see Stop.
        auto wait = std::chrono::milliseconds(5);
        if (!held.empty() && atServer < MaxAtServer)
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(held.front().Due - now));
        pollfd fds[2] = {{ClientSocket_, POLLIN, 0}, {UpstreamSocket_, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(wait.count())) <= 0)
            continue;
        // Everything waiting on a socket at once, so a burst of queries is stamped as it came.
        if (fds[0].revents & POLLIN) {
            for (;;) {
                TAsker asker;
                socklen_t length = sizeof asker.Address;
                const ssize_t n = ::recvfrom(ClientSocket_, buffer, sizeof buffer, MSG_DONTWAIT,
                                             reinterpret_cast<sockaddr*>(&asker.Address), &length);
                if (n < 0)
                    break;
                if (n < 12)
                    continue;
                ++Queries_;
                ++Names_[QuestionName(buffer, static_cast<std::size_t>(n))];
                asker.Id = IdOf(buffer);
                asker.Waiting = true;
                const std::uint16_t id = nextId++;
                askers[id] = asker;
                SetId(buffer, id);
                held.push_back({TClock::now() + Delay_, std::vector<unsigned char>(buffer, buffer + n)});
            }
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::recv(UpstreamSocket_, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n < 0)
                    break;
                if (n < 12)
                    continue;
                TAsker& asker = askers[IdOf(buffer)];
                if (asker.AtServer) {
                    asker.AtServer = false;
                    --atServer;
                }
                if (!asker.Waiting)
                    continue;
                asker.Waiting = false;
                SetId(buffer, asker.Id);
                ::sendto(ClientSocket_, buffer, static_cast<std::size_t>(n), 0,
                         reinterpret_cast<const sockaddr*>(&asker.Address), sizeof asker.Address);
                ++Answers_;
            }
        }
    }
}

} // namespace tarnwick::bench
