#include "TJsonWriter.h"

#include <cstdio>
#include <stdexcept>

#include <glib.h>

namespace tarnwick::core {

std::string JsonQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    out += escape;
                } else {
                    out += static_cast<char>(byte);
                }
            }
            ++i;
            continue;
        }
        const gunichar cp = g_utf8_get_char_validated(text.data() + i, static_cast<gssize>(text.size() - i));
        if (cp == static_cast<gunichar>(-1) || cp == static_cast<gunichar>(-2)) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(g_utf8_skip[byte]);
        if (cp == 0x2028 || cp == 0x2029)
            out += cp == 0x2028 ? "\\u2028" : "\\u2029";
        else
            out.append(text.substr(i, length));
        i += length;
    }
    out += '"';
    return out;
}

void TJsonWriter::NewLine()
{
    Text_ += '\n';
    Text_.append(Levels_.size() * 2, ' ');
}

void TJsonWriter::BeforeValue()
{
    if (Done_)
        throw std::logic_error("JSON document already complete");
    if (Levels_.empty())
        return;
    TLevel& level = Levels_.back();
    if (level.IsObject) {
        if (!HaveKey_)
            throw std::logic_error("JSON object value without a key");
        HaveKey_ = false;
        return;
    }
    if (level.Count++ > 0)
        Text_ += ',';
    NewLine();
}

void TJsonWriter::AfterValue()
{
    if (Levels_.empty()) {
        Text_ += '\n';
        Done_ = true;
    }
}

void TJsonWriter::Open(char bracket, bool isObject)
{
    BeforeValue();
    Text_ += bracket;
    Levels_.push_back({isObject});
}

void TJsonWriter::Close(char bracket, bool isObject)
{
    if (Levels_.empty() || Levels_.back().IsObject != isObject || HaveKey_)
        throw std::logic_error("JSON container closed out of order");
    const bool empty = Levels_.back().Count == 0;
    Levels_.pop_back();
    if (!empty)
        NewLine();
    Text_ += bracket;
    AfterValue();
}

TJsonWriter& TJsonWriter::BeginObject()
{
    Open('{', true);
    return *this;
}

TJsonWriter& TJsonWriter::EndObject()
{
    Close('}', true);
    return *this;
}

TJsonWriter& TJsonWriter::BeginArray()
{
    Open('[', false);
    return *this;
}

TJsonWriter& TJsonWriter::EndArray()
{
    Close(']', false);
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view name)
{
    if (Levels_.empty() || !Levels_.back().IsObject || HaveKey_)
        throw std::logic_error("JSON key outside an object");
    TLevel& level = Levels_.back();
    if (level.Count++ > 0)
        Text_ += ',';
    NewLine();
    Text_ += JsonQuoted(name);
    Text_ += ": ";
    HaveKey_ = true;
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view text)
{
    BeforeValue();
    Text_ += JsonQuoted(text);
    AfterValue();
    return *this;
}

TJsonWriter& TJsonWriter::Int(std::int64_t value)
{
    BeforeValue();
    Text_ += std::to_string(value);
    AfterValue();
    return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value)
{
    BeforeValue();
    Text_ += value ? "true" : "false";
    AfterValue();
    return *this;
}

TJsonWriter& TJsonWriter::Null()
{
    BeforeValue();
    Text_ += "null";
    AfterValue();
    return *this;
}

} // namespace tarnwick::core
