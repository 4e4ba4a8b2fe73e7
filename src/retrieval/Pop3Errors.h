#pragma once

#include <cstdint>
#include <string>

#include "core/Errors.h"

namespace tarnwick::retrieval {

// The server could not be reached or the connection broke: host not found, connection refused,
// time-out, TLS refused or not trusted, connection lost in the middle of a command, a reply that
// breaks the bounds of the protocol. The session is closed and no longer usable.
class TConnectionError : public core::TError
{
public:
    using TError::TError;
};

// The session can no longer be trusted to read each reply as the answer to the command it belongs
// to: a line that is not a status line where one was due, a reply that names another message than
// the one asked for. Every later reply could belong to another command (and so to another
// message), so the connection is dropped at once without QUIT; a server drops the deletions of a
// session that did not end with QUIT.
class TOutOfStepError : public TConnectionError
{
public:
    using TConnectionError::TConnectionError;
};

// The server answered with a status word other than "+OK" or "-ERR"; its text is
// "Unrecognized POP3 Response Header:" followed by a line break and the reply in double quotes.
class TUnrecognizedReplyError : public TOutOfStepError
{
public:
    using TOutOfStepError::TOutOfStepError;
};

// The response code at the start of a reply text (RFC 2449, "[IN-USE] ..."), upper-cased and
// without its brackets ("IN-USE", "SYS/TEMP"); empty when the text starts with none.
std::string ResponseCodeOf(const std::string& text);

// The server answered a command that must succeed with "-ERR"; the message is the server's reply
// text. The session is still in step: the connection itself is fine unless the command was part of
// the login.
class TProtocolError : public core::TError
{
public:
    explicit TProtocolError(const std::string& serverText)
        : TError(serverText)
        , Code_(ResponseCodeOf(serverText))
    {}
    // The reply's response code, as ResponseCodeOf gives it.
    const std::string& Code() const { return Code_; }

private:
    std::string Code_;
};

// The server refused the login: the greeting, USER, PASS or UTF8 got "-ERR". The connection is
// closed. The response code tells a wrong password from a server that is busy or locked.
class TLoginRefusedError : public TProtocolError
{
public:
    enum class TStep
    {
        Greeting,
        User,
        Pass,
    };
    TLoginRefusedError(TStep step, const std::string& serverText, std::int32_t loginDelaySeconds)
        : TProtocolError(serverText)
        , Step_(step)
        , LoginDelaySeconds_(loginDelaySeconds)
    {}
    TStep Step() const { return Step_; }
    // The user name or password is wrong: "[AUTH]", or a refused USER or PASS without any code.
    // A server that is busy ("[IN-USE]", "[LOGIN-DELAY]", "[SYS/TEMP]", "[SYS/PERM]") says so.
    bool WrongLogin() const { return Code() == "AUTH" || (Code().empty() && Step_ != TStep::Greeting); }
    // The least time between two logins, as the server's capability list gave it before the login
    // (0 when it gave none).
    std::int32_t LoginDelaySeconds() const { return LoginDelaySeconds_; }

private:
    TStep Step_;
    std::int32_t LoginDelaySeconds_;
};

// What a refused login means for the user, in the server's own words, with "host:port".
std::string LoginRefusalText(const std::string& where, const TLoginRefusedError& error);

} // namespace tarnwick::retrieval
