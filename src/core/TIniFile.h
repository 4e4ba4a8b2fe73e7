#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {

// A Windows-style INI text file that keeps the order of its sections and entries, and every line
// it does not understand, so that rewriting one section leaves the rest of the file as it was.
// Section and key names compare without regard to case (A to Z), as Windows does. CRLF and LF line
// ends are both read; a file is written back with the line end it was read with (LF for a new
// one).
class TIniFile
{
public:
    struct TEntry
    {
        std::string Key;   // trimmed
        std::string Value; // trimmed
    };

    TIniFile() = default;
    // Parses INI text; never fails: lines before the first section, lines without "=" and comment
    // lines are kept as they are and ignored by the accessors.
    static TIniFile Parse(std::string_view text);
    // Reads a file; a missing file gives an empty INI file. Throws TFileError when an existing file
    // cannot be read.
    static TIniFile Load(const std::string& path);

    std::string Text() const;
    // Writes the file through a temporary file in the same folder, so a failed write never leaves a
    // half-written file. Throws TFileError.
    void Save(const std::string& path) const;

    bool HasSection(std::string_view section) const;
    // The entries of a section in file order, duplicates included; empty when there is no such
    // section. Of several sections with the same name, the first one counts.
    std::vector<TEntry> Entries(std::string_view section) const;
    // Removes every section of that name with all its lines.
    void RemoveSection(std::string_view section);
    // Sets a key's value: the first entry of that key is changed in place; a new key is appended to
    // the section, and a new section to the end of the file.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

private:
    struct TLine
    {
        std::string Raw; // the line as read, without its line end
        bool IsEntry = false;
        TEntry Entry;
    };
    struct TSection
    {
        std::string Name;
        std::string HeaderRaw;
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(std::string_view section) const;

    std::vector<TLine> Preamble_; // lines before the first section
    std::vector<TSection> Sections_;
    std::string LineEnd_ = "\n";
};

} // namespace tarnwick::core
