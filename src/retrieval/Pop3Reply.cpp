#include "Pop3Reply.h"

#include <cstring>

#include "Pop3Errors.h"
#include "core/TextUtils.h"

namespace tarnwick::retrieval {

TPop3Reply ParseStatusLine(std::string_view line)
{
    const std::size_t blank = line.find(' ');
    const std::string_view status = line.substr(0, blank);
    const std::string_view text =
        blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
    if (core::AsciiEqualNoCase(status, "+OK"))
        return {true, std::string(text)};
    if (core::AsciiEqualNoCase(status, "-ERR"))
        return {false, std::string(text)};
    throw TUnrecognizedReplyError(std::string(UnrecognizedReplyText) + "\n\"" + std::string(line) + "\"");
}

std::string ResponseCodeOf(const std::string& text)
{
    // RFC 2449: resp-code = "[" resp-level *("/" resp-level) "]". Anything after a blank inside the
    // brackets is not part of the code.
    if (!text.starts_with('['))
        return {};
    const std::size_t close = text.find(']');
    if (close == std::string::npos)
        return {};
    std::string code = text.substr(1, close - 1);
    code = code.substr(0, code.find(' '));
    for (char& c : code)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return code;
}

std::string LoginRefusalText(const std::string& where, const TLoginRefusedError& error)
{
    const std::string& code = error.Code();
    const std::string said = error.what();
    if (code == "LOGIN-DELAY") {
        const std::int32_t delay = error.LoginDelaySeconds();
        return "The server " + where + " does not allow another login yet; it wants " +
               (delay > 0 ? std::to_string(delay) + " seconds" : std::string("a pause")) +
               " between two logins: " + said;
    }
    if (code == "IN-USE")
        return "The mailbox on " + where +
               " is in use by another session, perhaps another mail program: " + said;
    if (code == "SYS/TEMP")
        return "The server " + where +
               " has a temporary problem and refused the login; try again later: " + said;
    if (code == "SYS/PERM")
        return "The server " + where +
               " refused the login for a reason that will not pass by itself; ask your mail provider: " +
               said;
    return "The server " + where + " refused the login: " + said;
}

std::optional<std::string_view> UnstuffLine(std::string_view line)
{
    if (line == ".")
        return std::nullopt;
    if (line.starts_with(".."))
        line.remove_prefix(1);
    return line;
}

TLineSplitter::TLineSplitter(std::size_t maxLineLength)
    : MaxLineLength_(maxLineLength)
{}

void TLineSplitter::Feed(const char* data, std::size_t size)
{
    // Drop what was handed out before the buffer grows, so it never holds more than one long line
    // plus one read.
    if (Start_ > 0 && (Start_ == Buffer_.size() || Start_ > 65536)) {
        Buffer_.erase(0, Start_);
        Start_ = 0;
    }
    Buffer_.append(data, size);
}

TLineSplitter::TResult TLineSplitter::Next(std::string& line)
{
    const std::size_t from = Start_ + Scanned_;
    const void* hit =
        from < Buffer_.size() ? std::memchr(Buffer_.data() + from, '\n', Buffer_.size() - from) : nullptr;
    if (!hit) {
        Scanned_ = Buffer_.size() - Start_;
        return Scanned_ > MaxLineLength_ ? TResult::TooLong : TResult::NeedMore;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - Buffer_.data());
    std::size_t length = end - Start_;
    if (length > 0 && Buffer_[end - 1] == '\r')
        --length;
    if (length > MaxLineLength_)
        return TResult::TooLong;
    line.assign(Buffer_, Start_, length);
    Start_ = end + 1;
    Scanned_ = 0;
    return TResult::Line;
}

} // namespace tarnwick::retrieval
