#include "TRegFile.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <variant>

#include "Errors.h"
#include "TextUtils.h"

namespace tarnwick::core {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view CurrentUser = "HKEY_CURRENT_USER";
constexpr std::array OtherHives{"HKEY_LOCAL_MACHINE",
                                "HKEY_CLASSES_ROOT",
                                "HKEY_USERS",
                                "HKEY_CURRENT_CONFIG",
                                "HKEY_PERFORMANCE_DATA",
                                "HKLM",
                                "HKCR",
                                "HKU",
                                "HKCC"};
constexpr std::size_t HexLineWidth = 77;

std::string QuoteRegText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool PrintableText(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return IsValidUtf8(text);
}

// `"name"=hex(n):xx,xx,...` wrapped as regedit wraps it: lines end in ",\" and go on indented.
void AppendHex(std::string& out, std::size_t lineStart, std::string_view prefix, std::string_view bytes)
{
    out += prefix;
    std::size_t column = out.size() - lineStart;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        out += buf;
        column += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++column;
            if (column + 3 > HexLineWidth) {
                out += "\\\r\n  ";
                column = 2;
            }
        }
    }
}

std::string HexKindPrefix(std::int32_t kind)
{
    if (kind == static_cast<std::int32_t>(TValueKind::Binary))
        return "hex:";
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(kind));
    return buf;
}

void AppendValue(std::string& out, const TStoredValue& value)
{
    const std::size_t lineStart = out.size();
    out += value.Name.empty() ? std::string("@") : QuoteRegText(value.Name);
    out += '=';
    const auto kind = static_cast<TValueKind>(value.Kind);
    if (kind == TValueKind::String && PrintableText(value.Data)) {
        out += QuoteRegText(value.Data);
    } else if (kind == TValueKind::Integer && value.Data.size() == 4) {
        std::uint32_t u = 0;
        for (int i = 0; i < 4; ++i)
            u |= static_cast<std::uint32_t>(
                     static_cast<unsigned char>(value.Data[static_cast<std::size_t>(i)]))
                 << (8 * i);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", u);
        out += buf;
    } else if (kind == TValueKind::String || kind == TValueKind::ExpandString) {
        // Windows keeps these as UTF-16 with a terminating zero.
        AppendHex(out, lineStart, HexKindPrefix(value.Kind),
                  Utf8ToUtf16Le(value.Data) + std::string(2, '\0'));
    } else {
        AppendHex(out, lineStart, HexKindPrefix(value.Kind), value.Data);
    }
    out += "\r\n";
}

void ExportKey(TRegistry& registry, const std::string& path, std::string& out)
{
    if (!registry.OpenKey(path, false))
        return; // removed meanwhile
    out += "[" + std::string(CurrentUser) + (path == "\\" ? "" : path) + "]\r\n";
    for (const auto& value : registry.ReadAllValues())
        AppendValue(out, value);
    out += "\r\n";
    for (const auto& name : registry.GetKeyNames())
        ExportKey(registry, (path == "\\" ? path : path + "\\") + name, out);
}

// One change that an import makes, collected before anything is written.
struct TImportStep
{
    enum Kind
    {
        CreateKey,
        DeleteKey,
        SetValue,
        DeleteValue
    } What;
    std::string KeyPath;
    TStoredValue Value;
};

class TRegParser
{
public:
    TRegParser(std::string_view sourceName, TRegImportResult& result)
        : Source_(sourceName)
        , Result_(result)
    {}

    std::vector<TImportStep> Parse(std::string_view text)
    {
        std::size_t pos = 0;
        bool headerSeen = false;
        int lineNo = 0;
        while (pos <= text.size()) {
            std::string line = NextLine(text, pos, lineNo);
            const int firstLine = lineNo;
            std::string trimmed = Trim(line);
            // A line ending in a backslash goes on in the next one (long hex data).
            while (!trimmed.empty() && trimmed.back() == '\\' && trimmed.front() != '[' &&
                   pos <= text.size()) {
                trimmed.pop_back();
                trimmed += Trim(NextLine(text, pos, lineNo));
            }
            Line_ = firstLine;
            if (trimmed.empty() || trimmed.front() == ';')
                continue;
            if (!headerSeen) {
                if (trimmed != Header)
                    Fail("the file does not begin with \"" + std::string(Header) + "\"");
                headerSeen = true;
                continue;
            }
            if (trimmed.front() == '[')
                KeyLine(trimmed);
            else if (trimmed.front() == '"' || trimmed.front() == '@')
                ValueLine(trimmed);
            else
                Fail("expected a key in brackets or a value");
        }
        if (!headerSeen)
            Fail("the file is empty");
        return std::move(Steps_);
    }

private:
    static std::string NextLine(std::string_view text, std::size_t& pos, int& lineNo)
    {
        ++lineNo;
        const std::size_t end = text.find('\n', pos);
        std::string line(text.substr(pos, end == std::string_view::npos ? text.npos : end - pos));
        pos = end == std::string_view::npos ? text.size() + 1 : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw TFileError(std::string(Source_) + ", line " + std::to_string(Line_) + ": " + what + ".");
    }

    void KeyLine(std::string_view line)
    {
        if (line.back() != ']')
            Fail("a key line must end with \"]\"");
        line = line.substr(1, line.size() - 2);
        const bool remove = !line.empty() && line.front() == '-';
        if (remove)
            line.remove_prefix(1);
        const std::size_t slash = line.find('\\');
        const std::string_view hive = line.substr(0, slash);
        const std::string_view rest =
            slash == std::string_view::npos ? std::string_view() : line.substr(slash);
        if (AsciiEqualNoCase(hive, CurrentUser) || AsciiEqualNoCase(hive, "HKCU")) {
            std::string path = rest.empty() ? std::string("\\") : std::string(rest);
            try {
                const auto names = TRegistry::SplitPath(path);
                path = "\\";
                for (std::size_t i = 0; i < names.size(); ++i)
                    path += (i ? "\\" : "") + names[i];
            } catch (const TStoreError& e) {
                Fail(e.what());
            }
            CurrentKey_ = path;
            InSkippedKey_ = remove;
            Steps_.push_back({remove ? TImportStep::DeleteKey : TImportStep::CreateKey, path, {}});
            ++Result_.Keys;
            return;
        }
        for (const std::string_view other : OtherHives) {
            if (AsciiEqualNoCase(hive, other)) {
                Result_.Warnings.push_back(std::string(Source_) + ", line " + std::to_string(Line_) +
                                           ": key \"" + std::string(line) +
                                           "\" skipped: only HKEY_CURRENT_USER is imported.");
                CurrentKey_ = "";
                InSkippedKey_ = true;
                return;
            }
        }
        Fail("unknown root key \"" + std::string(hive) + "\"");
    }

    // Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
    std::string Quoted(std::string_view line, std::size_t& pos) const
    {
        std::string text;
        for (++pos; pos < line.size(); ++pos) {
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return text;
            }
            if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"'))
                ++pos;
            text += line[pos];
        }
        Fail("a quoted text is not closed");
    }

    std::string HexBytes(std::string_view data) const
    {
        std::string bytes;
        std::size_t pos = 0;
        const auto skipSpace = [&] {
            while (pos < data.size() && (data[pos] == ' ' || data[pos] == '\t'))
                ++pos;
        };
        skipSpace();
        while (pos < data.size()) {
            const auto digit = [&](char c) -> int {
                if (c >= '0' && c <= '9')
                    return c - '0';
                if (c >= 'a' && c <= 'f')
                    return c - 'a' + 10;
                if (c >= 'A' && c <= 'F')
                    return c - 'A' + 10;
                Fail("\"" + std::string(data) + "\" is not a list of hexadecimal bytes");
            };
            if (pos + 1 >= data.size())
                Fail("\"" + std::string(data) + "\" is not a list of hexadecimal bytes");
            bytes += static_cast<char>(digit(data[pos]) * 16 + digit(data[pos + 1]));
            pos += 2;
            skipSpace();
            if (pos < data.size()) {
                if (data[pos] != ',')
                    Fail("\"" + std::string(data) + "\" is not a list of hexadecimal bytes");
                ++pos;
                skipSpace();
            }
        }
        return bytes;
    }

    std::string TextFromUtf16(std::string_view bytes) const
    {
        auto text = Utf16LeToUtf8(bytes);
        if (!text)
            Fail("the text is not valid UTF-16");
        if (!text->empty() && text->back() == '\0')
            text->pop_back();
        return *text;
    }

    void ValueLine(std::string_view line)
    {
        if (CurrentKey_.empty() && !InSkippedKey_)
            Fail("a value must follow a key line");
        TStoredValue value;
        std::size_t pos = 0;
        if (line.front() == '@')
            pos = 1;
        else
            value.Name = Quoted(line, pos);
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            Fail("expected \"=\" after the value name");
        const std::string data = Trim(line.substr(pos + 1));
        if (InSkippedKey_)
            return;

        if (data == "-") {
            Steps_.push_back({TImportStep::DeleteValue, CurrentKey_, std::move(value)});
            ++Result_.Values;
            return;
        }
        if (!data.empty() && data.front() == '"') {
            std::size_t p = 0;
            value.Data = Quoted(data, p);
            if (p != data.size())
                Fail("unexpected text after the closing quote");
            value.Kind = static_cast<std::int32_t>(TValueKind::String);
        } else if (data.rfind("dword:", 0) == 0) {
            const std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos)
                Fail("\"" + data + "\" is not a dword value");
            const auto u = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
            value.Kind = static_cast<std::int32_t>(TValueKind::Integer);
            for (int i = 0; i < 4; ++i)
                value.Data += static_cast<char>((u >> (8 * i)) & 0xFF);
        } else if (data.rfind("hex", 0) == 0) {
            std::int32_t kind = static_cast<std::int32_t>(TValueKind::Binary);
            std::size_t colon = data.find(':');
            if (colon == std::string::npos)
                Fail("\"hex\" must be followed by \":\"");
            const std::string spec = data.substr(3, colon - 3);
            if (!spec.empty()) {
                if (spec.size() < 3 || spec.front() != '(' || spec.back() != ')' ||
                    spec.find_first_not_of("0123456789abcdefABCDEF", 1) != spec.size() - 1 ||
                    spec.size() > 10)
                    Fail("\"" + spec + "\" is not a value kind");
                kind = static_cast<std::int32_t>(std::stoul(spec.substr(1, spec.size() - 2), nullptr, 16));
            }
            value.Data = HexBytes(std::string_view(data).substr(colon + 1));
            value.Kind = kind;
            if (kind == static_cast<std::int32_t>(TValueKind::String) ||
                kind == static_cast<std::int32_t>(TValueKind::ExpandString))
                value.Data = TextFromUtf16(value.Data);
        } else {
            Fail("\"" + data + "\" is not a value");
        }
        Steps_.push_back({TImportStep::SetValue, CurrentKey_, std::move(value)});
        ++Result_.Values;
    }

    std::string_view Source_;
    TRegImportResult& Result_;
    std::vector<TImportStep> Steps_;
    std::string CurrentKey_;
    bool InSkippedKey_ = false;
    int Line_ = 0;
};

std::string DecodeFileText(std::string_view content, std::string_view sourceName)
{
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
        static_cast<unsigned char>(content[1]) == 0xFE) {
        auto text = Utf16LeToUtf8(content.substr(2));
        if (!text)
            throw TFileError(std::string(sourceName) + ": the file is not valid UTF-16.");
        return *text;
    }
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFE &&
        static_cast<unsigned char>(content[1]) == 0xFF)
        throw TFileError(std::string(sourceName) + ": big-endian UTF-16 files are not supported.");
    if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);
    return std::string(content);
}

} // namespace

std::string TRegFile::StoreKeyPath(std::string_view keyPath)
{
    for (const std::string_view hive : {CurrentUser, std::string_view("HKCU")}) {
        if (keyPath.size() >= hive.size() && AsciiEqualNoCase(keyPath.substr(0, hive.size()), hive) &&
            (keyPath.size() == hive.size() || keyPath[hive.size()] == '\\')) {
            const std::string rest(keyPath.substr(hive.size()));
            return rest.empty() ? std::string("\\") : rest;
        }
    }
    if (!keyPath.empty() && keyPath.front() == '\\')
        return std::string(keyPath);
    return "\\" + std::string(keyPath);
}

std::string TRegFile::Export(TRegistry& registry, std::string_view keyPath)
{
    const std::string path = StoreKeyPath(keyPath);
    TRegistry cursor(registry.StorePtr());
    if (!cursor.OpenKey(path, false))
        throw TStoreError("The key \"" + std::string(keyPath) + "\" does not exist.");
    std::string out = std::string(Header) + "\r\n\r\n";
    ExportKey(cursor, cursor.CurrentPath(), out);
    return out;
}

TRegImportResult TRegFile::Import(TRegistry& registry, std::string_view content, std::string_view sourceName)
{
    TRegImportResult result;
    const std::string text = DecodeFileText(content, sourceName);
    const std::vector<TImportStep> steps = TRegParser(sourceName, result).Parse(text);
    TRegistry cursor(registry.StorePtr());
    registry.Store().Transaction([&] {
        for (const auto& step : steps) {
            switch (step.What) {
            case TImportStep::CreateKey:
                cursor.CreateKey(step.KeyPath);
                break;
            case TImportStep::DeleteKey:
                if (step.KeyPath != "\\")
                    cursor.DeleteKey(step.KeyPath);
                break;
            case TImportStep::SetValue:
                cursor.OpenKey(step.KeyPath, true);
                cursor.WriteRawValue(step.Value);
                break;
            case TImportStep::DeleteValue:
                if (cursor.OpenKey(step.KeyPath, false))
                    cursor.DeleteValue(step.Value.Name);
                break;
            }
        }
    });
    return result;
}

void TRegFile::ExportToFile(TRegistry& registry, std::string_view keyPath, const std::string& file)
{
    const std::string text = Export(registry, keyPath);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush())
        throw TFileError("Cannot write \"" + file + "\".");
}

TRegImportResult TRegFile::ImportFile(TRegistry& registry, const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw TFileError("Cannot read \"" + file + "\".");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        throw TFileError("Cannot read \"" + file + "\".");
    return Import(registry, content.str(), file);
}

} // namespace tarnwick::core
