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

// The server answered a command that must succeed with "-ERR"; the message is the server's reply
// text. The session is still in step: the connection itself is fine unless the command was part of
// the login.
class TProtocolError : public core::TError
{
public:
    using TError::TError;
};

} // namespace tarnwick::retrieval
