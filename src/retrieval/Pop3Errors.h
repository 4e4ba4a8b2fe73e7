#pragma once

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

// The server answered a command that must succeed with "-ERR"; the message is the server's reply
// text. The connection itself is fine unless the command was part of the login.
class TProtocolError : public core::TError
{
public:
    using TError::TError;
};

// The server answered with a status word other than "+OK" or "-ERR". A protocol-level error like
// TProtocolError (callers that catch TProtocolError see it too); its text is
// "Unrecognized POP3 Response Header:" followed by a line break and the reply in double quotes.
class TUnrecognizedReplyError : public TProtocolError
{
public:
    using TProtocolError::TProtocolError;
};

} // namespace tarnwick::retrieval
