#include "TPOP3Client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Pop3Errors.h"
#include "TCacheFile.h"
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

// Creates a folder and every missing folder above it, each new one readable by the user only (the
// cache holds other people's mail). An existing folder is left as it is.
void CreateFolders(const std::string& folder)
{
    std::string path;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t next = folder.find('/', at + 1);
        path = folder.substr(0, next);
        at = next;
        if (path.empty() || path == "/")
            continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            throw core::TFileError("Cannot create the cache folder " + path + ": " + std::strerror(errno));
    }
    struct stat info
    {};
    if (::stat(folder.c_str(), &info) != 0)
        throw core::TFileError("Cannot create the cache folder " + folder + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        throw core::TFileError("Cannot create the cache folder " + folder +
                               ": a file of that name is in the way");
}

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

std::string TPOP3Client::Where() const
{
    return User_.Host + ":" + std::to_string(User_.Port);
}

TPop3Reply TPOP3Client::ReadReply()
{
    const std::string line = Connection_.ReadLine();
    try {
        return ParseStatusLine(line);
    } catch (const TUnrecognizedReplyError&) {
        // Whatever this line is, the replies that follow can no longer be matched to the commands.
        Connection_.Close();
        Open_ = false;
        throw TUnrecognizedReplyError(std::string(UnrecognizedReplyText) + "\n\"" + Redact(line) + "\"");
    }
}

void TPOP3Client::OutOfStep(const std::string& what)
{
    Connection_.Close();
    Open_ = false;
    throw TOutOfStepError("The server " + Where() + " " + Redact(what) +
                          "; the session was dropped without ending it");
}

std::int32_t TPOP3Client::ListedSize(std::int32_t n, const std::string& text)
{
    // RFC 1939: "+OK n size". A listing of another message means that this reply answers another
    // command. A bare "+OK" names no message and gives a size of 0.
    if (core::Trim(text).empty())
        return 0;
    const auto [number, rest] = SplitFirstBlank(text);
    if (core::ParseInt32(number) != n)
        OutOfStep("answered LIST " + std::to_string(n) + " with \"" + text + "\"");
    const std::optional<std::int32_t> size = core::ParseInt32(SplitFirstBlank(rest).first);
    return size && *size >= 0 ? *size : 0;
}

std::string TPOP3Client::ListedUniqueId(std::int32_t n, const std::string& text)
{
    const auto [number, id] = SplitFirstBlank(text);
    std::string uid = core::Trim(id);
    if (core::ParseInt32(number) != n || uid.empty())
        OutOfStep("answered UIDL " + std::to_string(n) + " with \"" + text + "\"");
    return uid;
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

    using TStep = TLoginRefusedError::TStep;
    TPop3Reply greeting = ReadReply();
    if (!greeting.Ok)
        throw TLoginRefusedError(TStep::Greeting, Redact(greeting.Text), 0);

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

    // What the server offers before the login (after STLS, which may change it): a server that
    // speaks UTF8 hides messages with raw UTF-8 headers from a client that does not ask for it, and
    // LOGIN-DELAY says how long a new login must wait after the last.
    PreLogin_ = AskCapabilities().value_or(TCapabilities{});
    if (PreLogin_.Utf8) {
        Send("UTF8");
        Utf8_ = ReadReply().Ok; // a refusal leaves the session as it was
    }

    const std::int32_t delay = PreLogin_.LoginDelaySeconds;
    Send("USER " + User_.AccountName);
    if (TPop3Reply reply = ReadReply(); !reply.Ok)
        throw TLoginRefusedError(TStep::User, Redact(reply.Text), delay);
    Send("PASS " + User_.Password);
    if (TPop3Reply reply = ReadReply(); !reply.Ok)
        throw TLoginRefusedError(TStep::Pass, Redact(reply.Text), delay);
}

bool TPOP3Client::Open()
{
    if (IsOpen())
        return true;
    Open_ = false;
    Capabilities_.reset();
    PreLogin_ = {};
    Utf8_ = false;
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
    LastSize_ = ListedSize(n, Command("LIST " + std::to_string(n)));

    THeaderResult header = Header(n);
    TFetchResult result{std::move(header.Header), std::move(header.CacheName), LastSize_, {}, {}, {}};
    if (fullMessage.value_or(Settings_.FullMessage)) {
        const std::string path = CacheFilePath(result.CacheName);
        // A file of that name may hold another message with the same cache name (no Message-Id,
        // same sender and day): then it is fetched again and replaced by this one's.
        try {
            if (!CacheFileHolds(result.Header.Lines, path))
                result.RetrieveRefusal = Retrieve(n, path);
        } catch (const core::TFileError& error) {
            result.CacheError = error.what();
        }
    }
    return result;
}

void TPOP3Client::Drain()
{
    ReadMultiLine([](std::string_view) {}, SIZE_MAX / DrainFactor, "message too large");
}

std::string TPOP3Client::Retrieve(std::int32_t n, const std::string& path)
{
    Send("RETR " + std::to_string(n));
    const TPop3Reply reply = ReadReply();
    if (!reply.Ok) // the message cannot be retrieved: nothing is written and the header stands
        return reply.Text.empty() ? std::string("-ERR") : Redact(reply.Text);

    // The lines go to a temporary file beside the cache file, renamed into place when the message
    // is complete, so that a broken connection never leaves a partial message in the cache that
    // would be taken for the whole one later. When the file cannot even be made, the message is
    // still read to its end, so the session stays in step for the next command.
    std::string temporary = CacheFolder_ + "/.retr-XXXXXX";
    int fd = -1;
    try {
        CreateFolders(CacheFolder_);
        fd = ::mkstemp(temporary.data());
        if (fd < 0)
            throw core::TFileError("Cannot write into the cache folder " + CacheFolder_ + ": " +
                                   std::strerror(errno));
    } catch (const core::TFileError&) {
        Drain();
        throw;
    }
    std::unique_ptr<std::FILE, TFileCloser> file(::fdopen(fd, "wb"));
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        Drain();
        throw core::TFileError("Cannot write into the cache folder " + CacheFolder_ + ": " +
                               std::strerror(error));
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
    return {};
}

TCapabilities ParseCapabilities(const std::vector<std::string>& lines)
{
    TCapabilities capabilities;
    capabilities.Answered = true;
    for (const std::string& line : lines) {
        const auto [word, arguments] = SplitFirstBlank(line);
        if (core::AsciiEqualNoCase(word, "PIPELINING")) {
            capabilities.Pipelining = true;
        } else if (core::AsciiEqualNoCase(word, "UIDL")) {
            capabilities.Uidl = true;
        } else if (core::AsciiEqualNoCase(word, "UTF8")) {
            capabilities.Utf8 = true;
        } else if (core::AsciiEqualNoCase(word, "LOGIN-DELAY")) {
            const auto [seconds, rest] = SplitFirstBlank(arguments);
            const std::optional<std::int32_t> value = core::ParseInt32(seconds);
            capabilities.LoginDelay = true;
            capabilities.LoginDelaySeconds = value && *value > 0 ? *value : 0;
            capabilities.LoginDelayPerUser = core::AsciiEqualNoCase(core::Trim(rest), "USER");
        }
    }
    return capabilities;
}

std::optional<TCapabilities> TPOP3Client::AskCapabilities()
{
    Send("CAPA");
    if (!ReadReply().Ok)
        return std::nullopt;
    std::vector<std::string> lines;
    ReadMultiLine([&](std::string_view line) { lines.emplace_back(line); }, MaxUidlBytes,
                  "The capability list is larger than " + std::to_string(MaxUidlBytes) + " bytes");
    return ParseCapabilities(lines);
}

const TCapabilities& TPOP3Client::Capabilities()
{
    if (!Capabilities_)
        Capabilities_ = AskCapabilities().value_or(TCapabilities{});
    return *Capabilities_;
}

std::int32_t TPOP3Client::LoginDelaySeconds()
{
    // RFC 2449: a value given before the login holds for everyone unless it is marked USER; the
    // value given after the login is the user's own.
    if (PreLogin_.LoginDelaySeconds > 0 && !PreLogin_.LoginDelayPerUser)
        return PreLogin_.LoginDelaySeconds;
    if (!IsOpen())
        return PreLogin_.LoginDelaySeconds;
    const TCapabilities& after = Capabilities();
    return after.LoginDelay ? after.LoginDelaySeconds : PreLogin_.LoginDelaySeconds;
}

void TPOP3Client::SendFetch(std::int32_t n, bool withUidl)
{
    const std::string number = std::to_string(n);
    Connection_.Write("NOOP\r\nLIST " + number + "\r\n" + (withUidl ? "UIDL " + number + "\r\n" : "") +
                      "TOP " + number + " 0\r\n");
}

TFetchResult TPOP3Client::ReadFetch(std::int32_t n, bool withUidl)
{
    const TPop3Reply noop = ReadReply();
    const TPop3Reply listed = ReadReply();
    std::int32_t size = 0;
    if (listed.Ok)
        size = ListedSize(n, listed.Text);
    TIdentity identity = ReadIdentity(n, withUidl);
    for (const TPop3Reply* reply : {&noop, &listed})
        if (!reply->Ok)
            ThrowProtocol(reply->Text);
    LastSize_ = size;
    return {std::move(identity.Header.Header),
            std::move(identity.Header.CacheName),
            size,
            std::move(identity.UniqueId),
            {},
            {}};
}

void TPOP3Client::SendIdentities(const std::vector<std::int32_t>& numbers, bool withUidl)
{
    std::string commands;
    for (const std::int32_t n : numbers) {
        const std::string number = std::to_string(n);
        commands += (withUidl ? "UIDL " + number + "\r\n" : "") + "TOP " + number + " 0\r\n";
    }
    Connection_.Write(commands);
}

TPOP3Client::TIdentity TPOP3Client::ReadIdentity(std::int32_t n, bool withUidl)
{
    std::optional<TPop3Reply> uidl;
    std::string uid;
    if (withUidl) {
        uidl = ReadReply();
        if (uidl->Ok)
            uid = ListedUniqueId(n, uidl->Text);
    }
    const TPop3Reply top = ReadReply();
    std::optional<THeaderResult> header;
    if (top.Ok)
        header = ReadHeaderLines(n);
    if (uidl && !uidl->Ok)
        ThrowProtocol(uidl->Text);
    if (!top.Ok)
        ThrowProtocol(top.Text);
    return {std::move(*header), std::move(uid)};
}

bool TPOP3Client::Delete(std::int32_t n)
{
    Command("DELE " + std::to_string(n));
    return true;
}

void TPOP3Client::SendDeletes(const std::vector<std::int32_t>& numbers)
{
    std::string commands;
    for (const std::int32_t n : numbers)
        commands += "DELE " + std::to_string(n) + "\r\n";
    Connection_.Write(commands);
}

void TPOP3Client::ReadDelete()
{
    const TPop3Reply reply = ReadReply();
    if (!reply.Ok)
        ThrowProtocol(reply.Text);
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

std::optional<TMaildropListing> TPOP3Client::Listing(std::int32_t count)
{
    Connection_.Write("LIST\r\nUIDL\r\n");
    TMaildropListing listing;
    listing.Sizes.assign(static_cast<std::size_t>(std::max(count, 0)), -1);
    listing.UniqueIds.resize(listing.Sizes.size());
    std::vector<bool> seen;
    bool malformed = false;
    // Reads one listing; `take` keeps the value of message n and says whether it is sound.
    auto read = [&](const std::function<bool(std::size_t, std::string_view)>& take, const char* what) {
        if (!ReadReply().Ok)
            return false;
        seen.assign(listing.Sizes.size(), false);
        ReadMultiLine(
            [&](std::string_view line) {
                const auto [number, value] = SplitFirstBlank(line);
                const std::optional<std::int32_t> n = core::ParseInt32(number);
                if (!n || *n < 1) {
                    malformed = true;
                } else if (*n <= count) {
                    const auto at = static_cast<std::size_t>(*n - 1);
                    malformed = malformed || seen[at] || !take(at, value);
                    seen[at] = true;
                }
            },
            MaxUidlBytes,
            std::string("The ") + what + " listing is larger than " + std::to_string(MaxUidlBytes) +
                " bytes");
        return true;
    };
    const bool listed = read(
        [&](std::size_t at, std::string_view value) {
            const std::optional<std::int32_t> size = core::ParseInt32(SplitFirstBlank(value).first);
            listing.Sizes[at] = size && *size >= 0 ? *size : -1;
            return listing.Sizes[at] >= 0;
        },
        "size");
    const bool identified = read(
        [&](std::size_t at, std::string_view value) {
            listing.UniqueIds[at] = core::Trim(value);
            return !listing.UniqueIds[at].empty();
        },
        "unique id");
    if (malformed)
        throw TProtocolError("The server sent a malformed listing of its messages");
    if (!listed || !identified)
        return std::nullopt;
    return listing;
}

std::optional<std::string> TPOP3Client::Uidl(std::int32_t n)
{
    Send("UIDL " + std::to_string(n));
    const TPop3Reply reply = ReadReply();
    if (!reply.Ok)
        return std::nullopt;
    return ListedUniqueId(n, reply.Text);
}

} // namespace tarnwick::retrieval
