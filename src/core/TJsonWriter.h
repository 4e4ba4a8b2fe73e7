#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {

// JSON text of one UTF-8 string, quotes included: quotes, backslashes and control characters are
// escaped, U+2028 and U+2029 too (so the text is also valid JavaScript); a byte that is not part
// of valid UTF-8 becomes U+FFFD, so the result is always valid UTF-8.
std::string JsonQuoted(std::string_view text);

// Writes one JSON document, indented by two blanks per level. Calls must form a valid document:
// inside an object every value follows a Key; a misuse throws std::logic_error.
class TJsonWriter
{
public:
    TJsonWriter& BeginObject();
    TJsonWriter& EndObject();
    TJsonWriter& BeginArray();
    TJsonWriter& EndArray();
    TJsonWriter& Key(std::string_view name);
    TJsonWriter& String(std::string_view text);
    TJsonWriter& Int(std::int64_t value);
    TJsonWriter& Bool(bool value);
    TJsonWriter& Null();

    // The document so far; once the outermost value is complete it ends with a line feed.
    const std::string& Text() const { return Text_; }
    bool Complete() const { return Done_; }

private:
    struct TLevel
    {
        bool IsObject;
        std::size_t Count = 0;
    };

    void BeforeValue();
    void AfterValue();
    void Open(char bracket, bool isObject);
    void Close(char bracket, bool isObject);
    void NewLine();

    std::string Text_;
    std::vector<TLevel> Levels_;
    bool HaveKey_ = false;
    bool Done_ = false;
};

} // namespace tarnwick::core
