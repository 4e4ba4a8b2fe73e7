#include "TFakePop3Server.h"

namespace tarnwick::test {

TFakeStep Expect(std::string line)
{
    return {TFakeStep::TKind::Expect, std::move(line)};
}
TFakeStep Say(std::string line)
{
    return {TFakeStep::TKind::Say, std::move(line)};
}
TFakeStep Raw(std::string bytes)
{
    return {TFakeStep::TKind::Raw, std::move(bytes)};
}
TFakeStep Drop()
{
    return {TFakeStep::TKind::Drop, {}};
}
TFakeStep Stall()
{
    return {TFakeStep::TKind::Stall, {}};
}
TFakeStep Flood()
{
    return {TFakeStep::TKind::Flood, {}};
}

std::vector<TFakeStep> TFakePop3Server::Login(const std::string& user, const std::string& password)
{
    return {Say("+OK fake POP3 ready"), Expect("CAPA"), Say("-ERR unknown command"),
            Expect("USER " + user),     Say("+OK"),     Expect("PASS " + password),
            Say("+OK logged in")};
}

TFakePop3Server::TFakePop3Server(std::vector<TFakeStep> script)
    : Script_(std::move(script))
    , Listener_(4)
{
    Thread_ = std::thread([this] { Run(); });
}

TFakePop3Server::~TFakePop3Server()
{
    Listener_.Stop();
    if (Thread_.joinable())
        Thread_.join();
}

void TFakePop3Server::WaitDone()
{
    if (Thread_.joinable())
        Thread_.join();
}

std::vector<std::string> TFakePop3Server::Received() const
{
    std::lock_guard lock(Mutex_);
    return Received_;
}

std::vector<std::string> TFakePop3Server::Mismatches() const
{
    std::lock_guard lock(Mutex_);
    return Mismatches_;
}

bool TFakePop3Server::ReadLine(TLineSocket& socket, std::string& line)
{
    if (!socket.ReadLine(line))
        return false;
    std::lock_guard lock(Mutex_);
    Received_.push_back(line);
    return true;
}

void TFakePop3Server::Run()
{
    const int fd = Listener_.Accept();
    if (fd < 0)
        return;
    TLineSocket socket(fd, Listener_.StopFd());
    bool alive = true;
    for (const TFakeStep& step : Script_) {
        if (!alive)
            break;
        std::string line;
        switch (step.Kind) {
        case TFakeStep::TKind::Expect:
            alive = ReadLine(socket, line);
            if (alive && line != step.Text) {
                std::lock_guard lock(Mutex_);
                Mismatches_.push_back("expected \"" + step.Text + "\", got \"" + line + "\"");
                alive = false;
            }
            break;
        case TFakeStep::TKind::Say:
            alive = socket.Send(step.Text + "\r\n");
            break;
        case TFakeStep::TKind::Raw:
            alive = socket.Send(step.Text);
            break;
        case TFakeStep::TKind::Drop:
            alive = false;
            break;
        case TFakeStep::TKind::Stall:
            while (ReadLine(socket, line)) {
            }
            alive = false;
            break;
        case TFakeStep::TKind::Flood: {
            const std::string chunk(65536, 'x');
            while (socket.Send(chunk)) {
            }
            alive = false;
            break;
        }
        }
    }
    std::string line;
    while (alive && ReadLine(socket, line)) {
        if (line == "QUIT") {
            socket.Send("+OK bye\r\n");
            break;
        }
        alive = socket.Send("-ERR not in the script\r\n");
    }
}

} // namespace tarnwick::test
