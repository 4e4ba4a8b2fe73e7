#include "TIniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "Errors.h"
#include "TextUtils.h"

namespace tarnwick::core {

namespace {} // namespace

TIniFile TIniFile::Parse(std::string_view text)
{
    TIniFile ini;
    bool lineEndKnown = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        const bool crlf = !line.empty() && line.back() == '\r';
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1); // stray carriage returns belong to the line end
        if (!lineEndKnown && end != std::string_view::npos) {
            ini.LineEnd_ = crlf ? "\r\n" : "\n";
            lineEndKnown = true;
        }

        const std::string_view trimmed = TrimBlanksAndControls(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            const std::size_t close = trimmed.find(']');
            if (close != std::string_view::npos) {
                ini.Sections_.push_back({std::string(TrimBlanksAndControls(trimmed.substr(1, close - 1))),
                                         std::string(line),
                                         {}});
                continue;
            }
        }
        TLine parsed{std::string(line), false, {}};
        const std::size_t eq = trimmed.find('=');
        if (eq != std::string_view::npos && trimmed.front() != ';' && trimmed.front() != '#') {
            parsed.Entry.Key = std::string(TrimBlanksAndControls(trimmed.substr(0, eq)));
            parsed.Entry.Value = std::string(TrimBlanksAndControls(trimmed.substr(eq + 1)));
            parsed.IsEntry = !parsed.Entry.Key.empty();
        }
        (ini.Sections_.empty() ? ini.Preamble_ : ini.Sections_.back().Lines).push_back(std::move(parsed));
    }
    return ini;
}

TIniFile TIniFile::Load(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return {};
    if (!std::filesystem::is_regular_file(path, ec))
        throw TFileError("Cannot read \"" + path + "\": it is not a file.");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TFileError("Cannot read \"" + path + "\": " + std::strerror(errno));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw TFileError("Cannot read \"" + path + "\".");
    return Parse(text);
}

std::string TIniFile::Text() const
{
    std::string text;
    for (const auto& line : Preamble_)
        text += line.Raw + LineEnd_;
    for (const auto& section : Sections_) {
        text += section.HeaderRaw + LineEnd_;
        for (const auto& line : section.Lines)
            text += line.Raw + LineEnd_;
    }
    return text;
}

void TIniFile::Save(const std::string& path) const
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            throw TFileError("Cannot create \"" + temporary + "\": " + std::strerror(errno));
        const std::string text = Text();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            throw TFileError("Cannot write \"" + temporary + "\".");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        throw TFileError("Cannot replace \"" + path + "\": " + ec.message());
    }
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view section) const
{
    for (const auto& s : Sections_)
        if (AsciiEqualNoCase(s.Name, section))
            return &s;
    return nullptr;
}

bool TIniFile::HasSection(std::string_view section) const
{
    return FindSection(section) != nullptr;
}

std::vector<TIniFile::TEntry> TIniFile::Entries(std::string_view section) const
{
    std::vector<TEntry> entries;
    if (const TSection* s = FindSection(section))
        for (const auto& line : s->Lines)
            if (line.IsEntry)
                entries.push_back(line.Entry);
    return entries;
}

void TIniFile::RemoveSection(std::string_view section)
{
    std::erase_if(Sections_, [&](const TSection& s) { return AsciiEqualNoCase(s.Name, section); });
}

void TIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    TSection* target = nullptr;
    for (auto& s : Sections_)
        if (!target && AsciiEqualNoCase(s.Name, section))
            target = &s;
    if (!target) {
        Sections_.push_back({std::string(section), "[" + std::string(section) + "]", {}});
        target = &Sections_.back();
    }
    const std::string raw = std::string(key) + "=" + std::string(value);
    for (auto& line : target->Lines) {
        if (line.IsEntry && AsciiEqualNoCase(line.Entry.Key, key)) {
            line = {raw, true, {std::string(key), std::string(value)}};
            return;
        }
    }
    // A new entry goes after the section's last entry (before trailing blank or comment lines), or
    // to the end of a section without entries.
    auto at = target->Lines.end();
    for (auto it = target->Lines.begin(); it != target->Lines.end(); ++it)
        if (it->IsEntry)
            at = it + 1;
    target->Lines.insert(at, TLine{raw, true, {std::string(key), std::string(value)}});
}

} // namespace tarnwick::core
