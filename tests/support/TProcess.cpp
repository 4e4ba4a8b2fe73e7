#include "TProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnwick::test {

namespace {

struct TPipe
{
    int Fd[2] = {-1, -1};
    TPipe()
    {
        if (::pipe2(Fd, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~TPipe()
    {
        for (int fd : Fd)
            if (fd >= 0)
                ::close(fd);
    }
    void Close(int i)
    {
        if (Fd[i] >= 0)
            ::close(Fd[i]);
        Fd[i] = -1;
    }
};

} // namespace

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& extraEnv)
{
    TPipe in, out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.Fd[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out.Fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.Fd[1], 2);

    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // An extra entry replaces the inherited one of the same name: getenv takes the first match, so a
    // duplicate would leave the child on the parent's value (for example the parent's TARNWICK_HOME).
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& extra : extraEnv)
            replaced = replaced || extra.compare(0, name.size(), name) == 0;
        if (!replaced)
            envStore.push_back(entry);
    }
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    in.Close(0);
    out.Close(1);
    err.Close(1);

    std::thread writer([&] {
        // A program that ends without reading all of its input closes the pipe: the write then
        // fails with EPIPE instead of ending the test with SIGPIPE.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        std::size_t done = 0;
        while (done < input.size()) {
            const ssize_t n = ::write(in.Fd[1], input.data() + done, input.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0 && errno == EPIPE) {
                    const timespec none{};
                    sigtimedwait(&pipeSignal, nullptr, &none); // the SIGPIPE left pending on this thread
                }
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        in.Close(1);
    });

    TProcessResult result;
    pollfd fds[2] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    int open = 2;
    char buf[8192];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    writer.join();
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace tarnwick::test
