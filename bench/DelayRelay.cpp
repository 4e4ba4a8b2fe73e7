// A TCP relay that holds every chunk for a fixed time in each direction, to give loopback
// benchmarks the round-trip time of a real network (the kernel here has no netem).
//
//     delay_relay LISTEN_PORT TARGET_PORT DELAY_MS
//
// Prints "ready" when it listens on 127.0.0.1:LISTEN_PORT. Each direction of each connection has a
// reader thread that stamps the chunks it reads and a writer thread that sends them when they are
// due, so the relay adds the delay and almost no processing time of its own: the benchmark then
// measures the clients and the server, not the relay.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

struct TChunk
{
    TClock::time_point Due;
    std::string Data; // empty: the reading side closed
};

// One direction: what is read from `From` is written to `To` after the delay.
class TDirection
{
public:
    TDirection(int from, int to, TClock::duration delay)
        : From_(from)
        , To_(to)
        , Delay_(delay)
    {}

    void Read()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(From_, buffer, sizeof buffer);
            const auto due = TClock::now() + Delay_;
            std::lock_guard lock(Mutex_);
            Queue_.push_back({due, n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string()});
            Ready_.notify_one();
            if (n <= 0)
                return;
        }
    }

    void Write()
    {
        for (;;) {
            TChunk chunk;
            {
                std::unique_lock lock(Mutex_);
                Ready_.wait(lock, [this] { return !Queue_.empty(); });
                chunk = std::move(Queue_.front());
                Queue_.pop_front();
            }
            std::this_thread::sleep_until(chunk.Due);
            if (chunk.Data.empty()) {
                ::shutdown(To_, SHUT_WR);
                return;
            }
            std::size_t sent = 0;
            while (sent < chunk.Data.size()) {
                const ssize_t n = ::write(To_, chunk.Data.data() + sent, chunk.Data.size() - sent);
                if (n <= 0) {
                    ::shutdown(From_, SHUT_RD);
                    return;
                }
                sent += static_cast<std::size_t>(n);
            }
        }
    }

private:
    int From_;
    int To_;
    TClock::duration Delay_;
    std::mutex Mutex_;
    std::condition_variable Ready_;
    std::deque<TChunk> Queue_;
};

void NoDelay(int socket)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void Relay(int client, int targetPort, TClock::duration delay)
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in target = Loopback(targetPort);
    if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        ::close(client);
        if (server >= 0)
            ::close(server);
        return;
    }
    NoDelay(client);
    NoDelay(server);
    auto up = std::make_shared<TDirection>(client, server, delay);
    auto down = std::make_shared<TDirection>(server, client, delay);
    std::thread upRead([up] { up->Read(); });
    std::thread upWrite([up] { up->Write(); });
    std::thread downRead([down] { down->Read(); });
    down->Write();
    downRead.join();
    upWrite.join();
    upRead.join();
    ::close(client);
    ::close(server);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: delay_relay LISTEN_PORT TARGET_PORT DELAY_MS\n", stderr);
        return 2;
    }
    const int listenPort = std::atoi(argv[1]);
    const int targetPort = std::atoi(argv[2]);
    const auto delay = std::chrono::duration_cast<TClock::duration>(
        std::chrono::duration<double, std::milli>(std::atof(argv[3])));

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Loopback(listenPort);
    if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("delay_relay");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        std::thread(Relay, client, targetPort, delay).detach();
    }
}
