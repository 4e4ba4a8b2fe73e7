#include "TCyrus.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "TProcess.h"
#include "TTempHome.h"

namespace fs = std::filesystem;

namespace tarnwick::test {

namespace {

// One LMTP connection to Cyrus's delivery socket: commands out, replies checked for their code.
class TLmtpConnection
{
public:
    explicit TLmtpConnection(const std::string& path)
    {
        Fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Fd_ < 0)
            throw std::runtime_error("cannot make a socket for Cyrus's LMTP: " +
                                     std::string(std::strerror(errno)));
        const timeval timeout{10, 0};
        ::setsockopt(Fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(Fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            throw std::runtime_error("Cyrus's LMTP socket path is too long: " + path);
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::connect(Fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            ::close(Fd_);
            throw std::runtime_error("cannot connect to Cyrus's LMTP socket " + path + ": " +
                                     std::strerror(error));
        }
        Expect("220", "greeting");
    }
    ~TLmtpConnection() { ::close(Fd_); }
    TLmtpConnection(const TLmtpConnection&) = delete;
    TLmtpConnection& operator=(const TLmtpConnection&) = delete;

    void Command(const std::string& line, const std::string& code)
    {
        Send(line + "\r\n");
        Expect(code, line);
    }

    // The message as DATA: lines that start with a dot get one more.
    void Data(const std::string& message)
    {
        Command("DATA", "354");
        std::string stuffed;
        bool lineStart = true;
        for (const char c : message) {
            if (lineStart && c == '.')
                stuffed += '.';
            stuffed += c;
            lineStart = c == '\n';
        }
        if (!lineStart)
            stuffed += "\r\n";
        Send(stuffed + ".\r\n");
        Expect("250", "the message's end");
    }

private:
    void Send(const std::string& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(Fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("cannot write to Cyrus's LMTP socket: " +
                                         std::string(std::strerror(errno)));
            sent += static_cast<std::size_t>(n);
        }
    }

    std::string ReadLine()
    {
        for (;;) {
            const std::size_t end = Buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = Buffer_.substr(0, end);
                Buffer_.erase(0, end + 2);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(Fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                throw std::runtime_error("Cyrus's LMTP closed the connection or did not answer in 10 s");
            Buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Reads a reply, of one line or more ("250-..." up to "250 ..."), and checks its code.
    void Expect(const std::string& code, const std::string& what)
    {
        std::string line;
        do
            line = ReadLine();
        while (line.size() > 3 && line[3] == '-');
        if (!line.starts_with(code))
            throw std::runtime_error("Cyrus's LMTP refused " + what + ": " + line);
    }

    int Fd_ = -1;
    std::string Buffer_;
};

} // namespace

TCyrus::TCyrus(const std::string& stateFile)
{
    std::ifstream in(stateFile);
    if (!in)
        throw std::runtime_error("the test Cyrus is not running (no " + stateFile + ")");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    Dir_ = values["CYRUS_DIR"];
    LmtpSocket_ = values["CYRUS_LMTP_SOCKET"];
    Config_ = values["CYRUS_CONFIG"];
    Bin_ = values["CYRUS_BIN"];
    Libs_ = values["CYRUS_LIBS"];
    Log_ = values["CYRUS_LOG"];
    Pop3Port_ = std::stoi(values["CYRUS_POP3_PORT"]);
    RunUid_ = static_cast<unsigned>(std::stoul(values["CYRUS_RUN_UID"]));
    RunGid_ = static_cast<unsigned>(std::stoul(values["CYRUS_RUN_GID"]));
}

void TCyrus::CreateUser(const std::string& name, const std::vector<std::string>& messages) const
{
    // Cyrus writes down the sessions of a user whose folder exists in its log folder; the folder
    // also marks the name as taken.
    const fs::path log = fs::path(Log_) / name;
    if (!fs::create_directory(log))
        throw std::runtime_error("the test Cyrus has a user " + name + " already");
    if (::chown(log.c_str(), RunUid_, RunGid_) != 0)
        throw std::runtime_error("cannot hand " + log.string() + " to the user Cyrus runs as");

    // The first delivery creates the INBOX; UIDs, and so the POP3 numbers, follow the delivery order.
    TLmtpConnection lmtp(LmtpSocket_);
    lmtp.Command("LHLO tarnwick-test", "250");
    for (const std::string& message : messages) {
        lmtp.Command("MAIL FROM:<tests@example.org>", "250");
        lmtp.Command("RCPT TO:<" + name + ">", "250");
        lmtp.Data(message);
    }
    lmtp.Command("QUIT", "221");
}

std::string TCyrus::Transcript(const std::string& name) const
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(Log_) / name))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::string transcript;
    for (const fs::path& file : files)
        transcript += ReadFileBytes(file.string());
    return transcript;
}

int TCyrus::Logins(const std::string& name) const
{
    // Each session starts with "---------- user date" once the login succeeded.
    const std::string transcript = "\n" + Transcript(name);
    int logins = 0;
    for (std::size_t at = transcript.find("\n---------- " + name + " "); at != std::string::npos;
         at = transcript.find("\n---------- " + name + " ", at + 1))
        ++logins;
    return logins;
}

std::vector<std::string> TCyrus::MailboxMessages(const std::string& name) const
{
    // The INBOX's index says which messages it holds: the file of a deleted message may stay in
    // the spool until Cyrus cleans the folder up. mbexamine shows the index and the folder.
    const std::string mailbox = "user/" + name;
    const TProcessResult examined =
        RunProcess(Bin_ + "/mbexamine", {"-C", Config_, mailbox}, {}, {"LD_LIBRARY_PATH=" + Libs_});
    const std::string& out = examined.Out;
    const std::string pathLabel = "Path to mailbox: ";
    const std::size_t pathAt = out.find(pathLabel);
    if (examined.Status != 0 || pathAt == std::string::npos)
        throw std::runtime_error("mbexamine cannot show " + mailbox + ": " + examined.Err + out);
    const std::size_t folderStart = pathAt + pathLabel.size();
    const std::string folder = out.substr(folderStart, out.find('\n', folderStart) - folderStart);

    // A record starts "000001> UID:00000002 ..."; UIDs ascend, in the order of delivery.
    std::vector<std::string> messages;
    const std::string uidLabel = "> UID:";
    for (std::size_t at = out.find(uidLabel); at != std::string::npos; at = out.find(uidLabel, at + 1)) {
        const unsigned long uid = std::stoul(out.substr(at + uidLabel.size(), 8));
        messages.push_back(ReadFileBytes(folder + "/" + std::to_string(uid) + "."));
    }
    return messages;
}

} // namespace tarnwick::test
