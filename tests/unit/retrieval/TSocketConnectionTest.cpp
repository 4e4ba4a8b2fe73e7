#include "retrieval/TSocketConnection.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <netdb.h>

#include "retrieval/Pop3Errors.h"

using namespace tarnwick::retrieval;

namespace {

// A name server that never answers: the lookup blocks until the test lets it go.
std::mutex Gate;
std::condition_variable GateOpened;
bool Released = false;
int Started = 0;
int Returned = 0;

int SilentLookup(const char*, const char*, const addrinfo*, addrinfo**)
{
    std::unique_lock lock(Gate);
    ++Started;
    GateOpened.wait(lock, [] { return Released; });
    ++Returned;
    GateOpened.notify_all();
    return EAI_AGAIN;
}

void ReleaseLookups()
{
    std::lock_guard lock(Gate);
    Released = true;
    GateOpened.notify_all();
}

class SilentNameServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Released = false;
        Started = 0;
        Returned = 0;
        TSocketConnection::SetHostLookup(&SilentLookup);
    }
    void TearDown() override
    {
        TSocketConnection::SetHostLookup(nullptr);
        ReleaseLookups();
        std::unique_lock lock(Gate);
        // The abandoned lookups end and free their state once the name server "answers".
        GateOpened.wait_for(lock, std::chrono::seconds(10), [] { return Returned == Started; });
    }
};

} // namespace

// A connection must never hang in a lookup: the connect time-out bounds it, and Abort (Stop in the
// receive) ends it at once. The error names the host.
TEST_F(SilentNameServer, LookupEndsByTimeOutOrAbort)
{
    struct TCase
    {
        const char* Name;
        int ConnectTimeoutMs;
        int AbortAfterMs; // -1: never
        const char* Expected;
    };
    const TCase cases[] = {
        {"time-out", 300, -1, "Host not found: pop.example.test (no answer from the name server within"},
        {"abort", 60000, 100, "pop.example.test"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSocketConnection connection;
        std::thread aborter;
        if (c.AbortAfterMs >= 0)
            aborter = std::thread([&connection, &c] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.AbortAfterMs));
                connection.Abort();
            });
        auto attempt = std::async(std::launch::async, [&] {
            try {
                connection.Connect("pop.example.test", 110, c.ConnectTimeoutMs);
            } catch (const TConnectionError& e) {
                return std::string(e.what());
            }
            return std::string("connected");
        });
        // A generous bound: the point is that the call returns at all while the lookup hangs.
        const bool returned = attempt.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        if (!returned)
            ReleaseLookups();
        ASSERT_TRUE(returned) << "Connect waited for the lookup past its time-out and Abort";
        EXPECT_NE(attempt.get().find(c.Expected), std::string::npos);
        EXPECT_FALSE(connection.IsConnected());
        if (aborter.joinable())
            aborter.join();
    }
}
