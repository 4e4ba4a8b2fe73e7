#include "TPOP3Client.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Pop3Errors.h"
#include "core/TextUtils.h"

namespace tarnwick::retrieval {

namespace {

constexpr std::size_t MaxUidlBytes = 64 * 1024 * 1024;
// A reply that is read past its bound is drained at most this many times the bound before the
// connection is given up.
constexpr std::size_t DrainFactor = 16;

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos;
}

// The text of a reply up to its first blank, and what follows.
std::pair<std::string_view, std::string_view> SplitFirstBlank(std::string_view text)
{
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, blank), text.substr(blank + 1)};
}

struct TFileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

TPOP3Client::TPOP3Client(accounts::TUserID user, accounts::TReceiveSettings settings, std::string cacheFolder)
    : User_(std::move(user))
    , Settings_(settings)
    , CacheFolder_(std::move(cacheFolder))
{
    Connection_.SetReplyTimeoutMs(DefaultReplyTimeoutMs);
    Connection_.SetMaxLineLength(MaxLineLength);
}

TPOP3Client::~TPOP3Client()
{
    Close();
}

void TPOP3Client::SetReplyTimeoutMs(int ms)
{
    Connection_.SetReplyTimeoutMs(ms);
}

void TPOP3Client::Abort() noexcept
{
    Connection_.Abort();
}

std::string TPOP3Client::Redact(std::string text) const
{
    // A server that echoes the password in a reply must not bring it into an error text.
    const std::string& password = User_.Password;
    if (password.size() < 3)
        return text;
    for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3))
        text.replace(at, password.size(), "***");
    return text;
}

void TPOP3Client::ThrowProtocol(const std::string& serverText)
{
    throw TProtocolError(Redact(serverText));
}

void TPOP3Client::Send(const std::string& command)
{
    Connection_.Write(command + "\r\n");
}

TPop3Reply TPOP3Client::ReadReply()
{
    const std::string line = Connection_.ReadLine();
    try {
        return ParseStatusLine(line);
    } catch (const TUnrecognizedReplyError&) {
        throw TUnrecognizedReplyError(std::string(UnrecognizedReplyText) + "\n\"" + Redact(line) + "\"");
    }
}

std::string TPOP3Client::Command(const std::string& command)
{
    Send(command);
    TPop3Reply reply = ReadReply();
    if (!reply.Ok)
        ThrowProtocol(reply.Text);
    return std::move(reply.Text);
}

void TPOP3Client::ReadMultiLine(const std::function<void(std::string_view)>& onLine, std::size_t maxBytes,
                                const std::string& tooLargeText)
{
    std::size_t total = 0;
    for (;;) {
        const std::string line = Connection_.ReadLine();
        const std::optional<std::string_view> unstuffed = UnstuffLine(line);
        if (!unstuffed)
            break;
        total += unstuffed->size() + 2;
        if (total <= maxBytes) {
            onLine(*unstuffed);
        } else if (total > maxBytes * DrainFactor) {
            Open_ = false;
            Connection_.Close();
            throw TConnectionError(tooLargeText);
        }
    }
    if (total > maxBytes)
        throw TProtocolError(tooLargeText);
}

void TPOP3Client::Login()
{
    const std::string& host = User_.Host;
    Connection_.Connect(host, User_.Port, Settings_.TimeoutMs);
    if (User_.Security == accounts::TConnectionSecurity::Tls)
        Connection_.StartTls();

    TPop3Reply greeting = ReadReply();
    if (!greeting.Ok)
        ThrowProtocol(greeting.Text);

    if (User_.Security == accounts::TConnectionSecurity::StartTls) {
        // The login must not travel in plain text when the account asks for STLS: a refusal ends
        // the session before USER.
        Send("STLS");
        const TPop3Reply reply = ReadReply();
        if (!reply.Ok)
            throw TConnectionError("The server " + host +
                                   " refused STLS, so the login was not sent: " + Redact(reply.Text));
        Connection_.StartTls();
    }

    Command("USER " + User_.AccountName);
    Command("PASS " + User_.Password);
}

bool TPOP3Client::Open()
{
    if (IsOpen())
        return true;
    Open_ = false;
    if (HasLineBreak(User_.AccountName) || HasLineBreak(User_.Password))
        throw TProtocolError("The user name or password contains a line break or a zero byte");
    try {
        Login();
    } catch (...) {
        Connection_.Close();
        throw;
    }
    Open_ = Connection_.IsConnected();
    return Open_;
}

bool TPOP3Client::Close()
{
    if (!Connection_.IsConnected()) {
        Open_ = false;
        return false;
    }
    bool confirmed = false;
    const int replyTimeoutMs = Connection_.ReplyTimeoutMs();
    try {
        // QUIT's reply is awaited briefly: only after it has the server carried out the session's
        // deletions, and a caller that logs in again right away must see them.
        Send("QUIT");
        Connection_.SetReplyTimeoutMs(std::min(replyTimeoutMs, QuitTimeoutMs));
        confirmed = ReadReply().Ok;
    } catch (const core::TError&) {
    }
    Connection_.SetReplyTimeoutMs(replyTimeoutMs);
    Connection_.Close();
    Open_ = false;
    return confirmed;
}

std::int32_t TPOP3Client::MessageCount()
{
    const std::string text = Command("STAT");
    if (text.empty())
        return 0;
    const std::string_view count = SplitFirstBlank(text).first;
    const std::optional<std::int32_t> value = core::ParseInt32(count);
    if (!value || *value < 0 || count.starts_with('+'))
        throw core::TConversionError("'" + std::string(count) + "' is not a valid message count");
    return *value;
}

THeaderResult TPOP3Client::Header(std::int32_t n)
{
    Command("TOP " + std::to_string(n) + " 0");
    return ReadHeaderLines(n);
}

THeaderResult TPOP3Client::ReadHeaderLines(std::int32_t n)
{
    std::vector<std::string> lines;
    ReadMultiLine(
        [&](std::string_view line) {
            if (!line.empty())
                lines.emplace_back(line);
        },
        MaxHeaderBytes,
        "The header of message " + std::to_string(n) + " is larger than " + std::to_string(MaxHeaderBytes) +
            " bytes");
    THeaderResult result;
    result.Header = ParseHeader(std::move(lines), false);
    result.CacheName = CacheNameOf(result.Header);
    return result;
}

std::string TPOP3Client::CacheFilePath(const std::string& cacheName) const
{
    return CacheFolder_ + "/" + cacheName + ".eml";
}

TFetchResult TPOP3Client::Fetch(std::int32_t n, std::optional<bool> fullMessage)
{
    Command("NOOP");
    const std::string listed = Command("LIST " + std::to_string(n));
    const std::optional<std::int32_t> size = core::ParseInt32(SplitFirstBlank(listed).second);
    LastSize_ = size && *size >= 0 ? *size : 0;

    THeaderResult header = Header(n);
    TFetchResult result{std::move(header.Header), std::move(header.CacheName), LastSize_};
    if (fullMessage.value_or(Settings_.FullMessage)) {
        const std::string path = CacheFilePath(result.CacheName);
        if (!std::filesystem::exists(path))
            Retrieve(n, path);
    }
    return result;
}

void TPOP3Client::Retrieve(std::int32_t n, const std::string& path)
{
    Send("RETR " + std::to_string(n));
    const TPop3Reply reply = ReadReply();
    if (!reply.Ok)
        return; // the message cannot be retrieved: nothing is written and the header stands

    // The lines go to a temporary file beside the cache file, renamed into place when the message
    // is complete, so that a broken connection never leaves a partial message in the cache that
    // would be taken for the whole one later.
    if (::mkdir(CacheFolder_.c_str(), 0700) != 0 && errno != EEXIST)
        throw core::TFileError("Cannot create the cache folder " + CacheFolder_ + ": " +
                               std::strerror(errno));
    std::string temporary = CacheFolder_ + "/.retr-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        throw core::TFileError("Cannot write into the cache folder " + CacheFolder_ + ": " +
                               std::strerror(errno));
    std::unique_ptr<std::FILE, TFileCloser> file(::fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw core::TFileError("Cannot write into the cache folder " + CacheFolder_);
    }
    bool written = true;
    try {
        ReadMultiLine(
            [&](std::string_view line) {
                written = written && std::fwrite(line.data(), 1, line.size(), file.get()) == line.size() &&
                          std::fwrite("\r\n", 1, 2, file.get()) == 2;
            },
            SIZE_MAX / DrainFactor, "message too large");
    } catch (...) {
        file.reset();
        ::unlink(temporary.c_str());
        throw;
    }
    written = std::fflush(file.get()) == 0 && written;
    file.reset();
    if (!written || ::chmod(temporary.c_str(), 0600) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw core::TFileError("Cannot write the cache file " + path + ": " + std::strerror(error));
    }
}

bool TPOP3Client::SupportsPipelining()
{
    if (Pipelining_)
        return *Pipelining_;
    Send("CAPA");
    bool pipelining = false;
    if (ReadReply().Ok)
        ReadMultiLine(
            [&](std::string_view line) {
                const std::string_view word = SplitFirstBlank(line).first;
                pipelining = pipelining || core::AsciiEqualNoCase(word, "PIPELINING");
            },
            MaxUidlBytes, "The capability list is larger than " + std::to_string(MaxUidlBytes) + " bytes");
    Pipelining_ = pipelining;
    return pipelining;
}

void TPOP3Client::SendFetch(std::int32_t n)
{
    const std::string number = std::to_string(n);
    Connection_.Write("NOOP\r\nLIST " + number + "\r\nTOP " + number + " 0\r\n");
}

TFetchResult TPOP3Client::ReadFetch(std::int32_t n)
{
    const TPop3Reply noop = ReadReply();
    const TPop3Reply listed = ReadReply();
    const TPop3Reply top = ReadReply();
    std::optional<THeaderResult> header;
    if (top.Ok)
        header = ReadHeaderLines(n);
    for (const TPop3Reply* reply : {&noop, &listed, &top})
        if (!reply->Ok)
            ThrowProtocol(reply->Text);
    const std::optional<std::int32_t> size = core::ParseInt32(SplitFirstBlank(listed.Text).second);
    LastSize_ = size && *size >= 0 ? *size : 0;
    return {std::move(header->Header), std::move(header->CacheName), LastSize_};
}

bool TPOP3Client::Delete(std::int32_t n)
{
    Command("DELE " + std::to_string(n));
    return true;
}

std::optional<std::vector<TUidlEntry>> TPOP3Client::Uidl()
{
    Send("UIDL");
    if (!ReadReply().Ok)
        return std::nullopt;
    std::vector<TUidlEntry> entries;
    bool malformed = false;
    ReadMultiLine(
        [&](std::string_view line) {
            const auto [number, id] = SplitFirstBlank(line);
            const std::optional<std::int32_t> value = core::ParseInt32(number);
            const std::string uid = core::Trim(id);
            if (!value || *value < 1 || uid.empty())
                malformed = true;
            else
                entries.push_back({*value, uid});
        },
        MaxUidlBytes, "The unique id list is larger than " + std::to_string(MaxUidlBytes) + " bytes");
    if (malformed)
        throw TProtocolError("The server sent a malformed unique id list");
    return entries;
}

std::optional<std::string> TPOP3Client::Uidl(std::int32_t n)
{
    Send("UIDL " + std::to_string(n));
    const TPop3Reply reply = ReadReply();
    if (!reply.Ok)
        return std::nullopt;
    const auto [number, id] = SplitFirstBlank(reply.Text);
    const std::string uid = core::Trim(id);
    if (core::ParseInt32(number) != n || uid.empty())
        throw TProtocolError("The server sent a malformed unique id: " + Redact(reply.Text));
    return uid;
}

} // namespace tarnwick::retrieval
