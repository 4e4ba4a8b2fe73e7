#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TParsedHeader.h"
#include "TSocketConnection.h"
#include "accounts/TUserID.h"

namespace tarnwick::retrieval {

// A message's parsed header with the name of its cache file.
struct THeaderResult
{
    TParsedHeader Header;
    std::string CacheName;
};

struct TFetchResult
{
    TParsedHeader Header;
    std::string CacheName;
    std::int32_t Size = 0; // bytes, as LIST gives it; 0 when the server gave no number
    // The server's unique id of the message, from "UIDL n" of the same exchange; empty when it was
    // not asked for (the server does not offer UIDL).
    std::string UniqueId;
    // Why the whole message could not be stored in the cache (the disk's reason and the path);
    // empty when it was stored or not wanted. The header stands either way.
    std::string CacheError;
    // The server's text when it answered RETR with "-ERR" (nothing was stored); empty otherwise.
    std::string RetrieveRefusal;
};

// What a server says it can do (RFC 2449 CAPA).
struct TCapabilities
{
    bool Answered = false;   // the server answers CAPA at all
    bool Pipelining = false; // PIPELINING
    bool Uidl = false;       // UIDL
    bool Utf8 = false;       // UTF8 (RFC 6856): headers in raw UTF-8 after the UTF8 command
    // LOGIN-DELAY n: the least number of seconds between two logins; 0 when not given. Before the
    // login "LOGIN-DELAY n USER" means that the value may differ per user (asked again after it).
    bool LoginDelay = false; // listed at all
    std::int32_t LoginDelaySeconds = 0;
    bool LoginDelayPerUser = false;
};

// Reads a CAPA listing (the lines between the status line and the final ".").
TCapabilities ParseCapabilities(const std::vector<std::string>& lines);

// The server's unique id of one message (a UIDL line).
struct TUidlEntry
{
    std::int32_t Number = 0;
    std::string UniqueId;

    bool operator==(const TUidlEntry&) const = default;
};

// Every message's size and unique id in one session's numbering: entry k is message k + 1. A
// message that a listing leaves out has the size -1 or an empty id.
struct TMaildropListing
{
    std::vector<std::int32_t> Sizes;
    std::vector<std::string> UniqueIds;
};

// One POP3 session (RFC 1939) with one account's server: login with USER/PASS, counting, headers,
// whole messages into the message cache, deletion. Plain, STLS or implicit TLS as the account
// says. Used by one thread at a time; Abort() may come from any thread.
//
// Every reply is matched to the command that asked for it: its status line, and for "LIST n" and
// "UIDL n" the number in the reply. Anything else (a status word other than "+OK"/"-ERR", a stray
// line where a status line was due, a listing of another message) means that later replies may
// belong to other commands, so the session is dropped at once, without QUIT.
//
// Errors: TConnectionError when the server cannot be reached or the connection breaks (the session
// is closed then), TOutOfStepError (a TConnectionError) when a reply does not belong to its command
// (closed without QUIT), TUnrecognizedReplyError (a TOutOfStepError) for a status word other than
// "+OK"/"-ERR", TLoginRefusedError (a TProtocolError) when the greeting, USER or PASS gets "-ERR",
// TProtocolError when a command that must succeed gets "-ERR" (its text is the server's, with its
// RFC 2449 response code; the session is still in step), core::TConversionError for a STAT reply that does
// not start with a number, core::TFileError when the cache cannot be written (the session stays in step).
class TPOP3Client
{
public:
    // Bounds of what is accepted from a server: the longest line, the largest header of one message.
    static constexpr std::size_t MaxLineLength = 1024 * 1024;
    static constexpr std::size_t MaxHeaderBytes = 8 * 1024 * 1024;
    // How long a server may stay silent while a reply is awaited.
    static constexpr int DefaultReplyTimeoutMs = 60000;
    // How long Close waits for the server to confirm QUIT.
    static constexpr int QuitTimeoutMs = 10000;

    // `cacheFolder` is the message cache folder (the cache directory followed by "/VedOzurCache").
    TPOP3Client(accounts::TUserID user, accounts::TReceiveSettings settings, std::string cacheFolder);
    ~TPOP3Client();
    TPOP3Client(const TPOP3Client&) = delete;
    TPOP3Client& operator=(const TPOP3Client&) = delete;

    void SetReplyTimeoutMs(int ms);

    // Connects and logs in; nothing happens when the session is already open. Returns whether the
    // session is open.
    bool Open();
    // Ends the session with QUIT and closes the connection; errors are ignored. Returns true when
    // the server confirmed QUIT, which is when it carries out the deletions of the session.
    bool Close();
    // Logged in and still connected; a connection error closes the session.
    bool IsOpen() const { return Open_ && Connection_.IsConnected(); }

    std::int32_t MessageCount();
    THeaderResult Header(std::int32_t n);
    // NOOP, LIST n, TOP n 0 and, for whole messages, RETR n into the cache unless the cache file
    // exists. `fullMessage` overrides the account's setting for this call (the preview). A cache
    // that cannot be written is told in CacheError, with the session still in step.
    TFetchResult Fetch(std::int32_t n, std::optional<bool> fullMessage = std::nullopt);
    bool Delete(std::int32_t n);
    // DELE in two halves, so that a batch can be in flight: SendDeletes writes "DELE n" for every
    // number in one write; ReadDelete reads the reply to the next of them, in the order they were
    // sent. "-ERR" throws TProtocolError with the session still in step.
    void SendDeletes(const std::vector<std::int32_t>& numbers);
    void ReadDelete();

    // What the server's CAPA answer lists after the login; asked once per session. A server without
    // CAPA has none of the capabilities.
    const TCapabilities& Capabilities();
    // What CAPA listed before the login (asked by every login, for UTF8 and LOGIN-DELAY).
    const TCapabilities& CapabilitiesBeforeLogin() const { return PreLogin_; }
    // The least time between two logins that the server asks for, before or after the login (the
    // latter asked here when the former said it depends on the user); 0 when it asks for none.
    std::int32_t LoginDelaySeconds();
    // The session sent UTF8 and the server accepted it: header values arrive in raw UTF-8.
    bool Utf8Mode() const { return Utf8_; }
    bool SupportsPipelining() { return Capabilities().Pipelining; }
    // The fetch of message n in two halves, so that several messages can be in flight: SendFetch
    // sends NOOP, LIST n, "UIDL n" when `withUidl`, and TOP n 0 at once; ReadFetch reads their
    // replies, in the order the messages were sent, with the same `withUidl`. A "-ERR" to any of
    // them throws TProtocolError after all replies of the message were read, so the session stays in
    // step. Headers only: whole messages go through Fetch.
    void SendFetch(std::int32_t n, bool withUidl = false);
    TFetchResult ReadFetch(std::int32_t n, bool withUidl = false);
    // The identity of message n, in two halves like the fetch: "UIDL n" (when `withUidl`) and
    // TOP n 0, written for all `numbers` in one write; ReadIdentity reads the replies of one message.
    // The deletion proves with it that a number still names the message it means.
    void SendIdentities(const std::vector<std::int32_t>& numbers, bool withUidl);
    struct TIdentity
    {
        THeaderResult Header;
        std::string UniqueId; // empty without `withUidl`
    };
    TIdentity ReadIdentity(std::int32_t n, bool withUidl);
    // The unique ids of all messages, or nothing when the server does not offer UIDL.
    std::optional<std::vector<TUidlEntry>> Uidl();
    // The unique id of message n, or nothing when the server does not offer UIDL.
    std::optional<std::string> Uidl(std::int32_t n);
    // "LIST" and "UIDL" sent together (the server must offer PIPELINING), for messages 1 to
    // `count`; nothing when the server refuses either. A listing that names a message twice or is
    // not "number value" lines throws TProtocolError (after both were read: still in step).
    std::optional<TMaildropListing> Listing(std::int32_t count);

    // Size of the message last fetched, in bytes.
    std::int32_t LastSize() const { return LastSize_; }
    // The cache file of a cache name.
    std::string CacheFilePath(const std::string& cacheName) const;

    // Stops the session from any thread: a blocked call fails with TConnectionError at once, and
    // so does every later one. The client cannot be used again.
    void Abort() noexcept;

private:
    void Send(const std::string& command);
    // The next status line; a line that is not one drops the session (TUnrecognizedReplyError).
    TPop3Reply ReadReply();
    // Drops the session without QUIT and throws TOutOfStepError with `what`.
    [[noreturn]] void OutOfStep(const std::string& what);
    // The size in a "LIST n" reply text, which must name message n.
    std::int32_t ListedSize(std::int32_t n, const std::string& text);
    // The unique id in a "UIDL n" reply text, which must name message n.
    std::string ListedUniqueId(std::int32_t n, const std::string& text);
    // Reads the rest of a multi-line reply whose lines are not wanted (a message that cannot be
    // stored), so that the session stays in step.
    void Drain();
    // "host:port", for error texts.
    std::string Where() const;
    // Sends a command and returns the reply text; "-ERR" throws TProtocolError.
    std::string Command(const std::string& command);
    // Reads the lines of a multi-line reply up to the terminating ".", unstuffed. A reply larger
    // than `maxBytes` is read to its end and then fails with `tooLargeText` as a TProtocolError;
    // one that goes on past many times that closes the connection.
    void ReadMultiLine(const std::function<void(std::string_view)>& onLine, std::size_t maxBytes,
                       const std::string& tooLargeText);
    void Login();
    // The CAPA listing in the state the session is in; nothing when the server refuses CAPA.
    std::optional<TCapabilities> AskCapabilities();
    [[noreturn]] void ThrowProtocol(const std::string& serverText);
    std::string Redact(std::string text) const;
    // RETR n into the cache file at `path`; the server's text when it refuses, empty when stored.
    std::string Retrieve(std::int32_t n, const std::string& path);
    // The header lines of a TOP n 0 reply whose status line was read.
    THeaderResult ReadHeaderLines(std::int32_t n);

    accounts::TUserID User_;
    accounts::TReceiveSettings Settings_;
    std::string CacheFolder_;
    TSocketConnection Connection_;
    bool Open_ = false;
    std::int32_t LastSize_ = 0;
    std::optional<TCapabilities> Capabilities_;
    TCapabilities PreLogin_;
    bool Utf8_ = false;
};

} // namespace tarnwick::retrieval
