// Times TPOP3Client::Fetch of every message's header over one connection (NOOP, LIST n, TOP n 0 per
// message, as a download worker does).
//
//   pop3_fetch_bench HOST PORT USER PASSWORD [COUNT]
//
// The password comes from the command line because this runs only against the throwaway
// benchmark server.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Errors.h"
#include "retrieval/TPOP3Client.h"

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: pop3_fetch_bench HOST PORT USER PASSWORD [COUNT]\n");
        return 2;
    }
    tarnwick::accounts::TUserID user;
    user.Host = argv[1];
    user.Port = std::atoi(argv[2]);
    user.AccountName = argv[3];
    user.Password = argv[4];
    tarnwick::accounts::TReceiveSettings settings;
    settings.TimeoutMs = 5000;
    try {
        tarnwick::retrieval::TPOP3Client client(user, settings, "/nonexistent");
        const auto start = std::chrono::steady_clock::now();
        client.Open();
        std::int32_t count = client.MessageCount();
        if (argc > 5)
            count = std::min(count, std::atoi(argv[5]));
        std::size_t lines = 0;
        for (std::int32_t n = 1; n <= count; ++n)
            lines += client.Fetch(n).Header.Lines.size();
        client.Close();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("tarnwick TPOP3Client::Fetch: %d headers (%zu lines) in %.3f s, %.0f headers/s\n", count,
                    lines, seconds, count / seconds);
    } catch (const tarnwick::core::TError& e) {
        std::fprintf(stderr, "pop3_fetch_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
