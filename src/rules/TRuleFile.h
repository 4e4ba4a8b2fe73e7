#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "rules/TRuleClass.h"

namespace tarnwick::core {
class TRegistry;
class TPrompter;
} // namespace tarnwick::core

namespace tarnwick::accounts {
class TUser;
}

namespace tarnwick::rules {

class TRuleListClass;

inline constexpr const char* RuleFileExtension = ".tkf";
inline constexpr const char* NoAccountForExportText =
    "You have to create an account in order to save rules !";
inline constexpr const char* CreateExportFolderQuestion =
    "The specified directory does not exist. Create it?";

// The header of a rule file: the name with its length, Enabled, Show, Version and the number of
// criterion blocks that follow. Integers are 32-bit little-endian.
class TRuleFileHeader
{
public:
    explicit TRuleFileHeader(std::iostream& stream)
        : Stream_(stream)
    {}

    void SetName(std::string name);
    const std::string& Name() const { return Name_; }

    std::int32_t NameLength = 0;
    std::int32_t Enabled = 0;
    std::int32_t Show = 0;
    std::int32_t Version = 0;
    std::int32_t Count = 0;

    void Write();
    // Throws TRuleFileError when the stream ends early or a length is impossible.
    void Read();

private:
    std::string Name_;
    std::iostream& Stream_;
};

// One criterion block of a rule file. Logic is the join with the NEXT criterion, as in the store.
class TRuleFileRule
{
public:
    explicit TRuleFileRule(std::iostream& stream)
        : Stream_(stream)
    {}

    std::int32_t Flags = 0;
    std::int32_t Logic = 0;
    std::int32_t Type = 0;
    std::int32_t ValueType = 0;
    std::int32_t IntValue = 0;

    void SetTextValue(std::string value);
    void SetListValue(std::string value);
    const std::string& TextValue() const { return TextValue_; }
    const std::string& ListValue() const { return ListValue_; }
    std::int32_t TextLength() const { return TextLength_; }
    std::int32_t ListLength() const { return ListLength_; }

    void Write();
    // Reads the 16 fixed bytes, then the value part its ValueType calls for. Throws TRuleFileError
    // when the stream ends early, a length is impossible, or a list is longer than a rule may hold.
    void Read();

private:
    std::string TextValue_;
    std::int32_t TextLength_ = 0;
    std::string ListValue_;
    std::int32_t ListLength_ = 0;
    std::iostream& Stream_;
};

// Writes the rule as a rule file at `path`, replacing any file there. Throws TRuleFileError.
void WriteRuleFile(const TRulestype& rule, const std::string& path);
// Fills the rule from the rule file at `path` (criteria are appended). Texts that are not UTF-8 are
// taken as Windows-1252; a list longer, as UTF-8, than a rule can hold (MaxListBytes) is refused,
// so every rule read can be stored, written and read again. Throws TRuleFileError.
void ReadRuleFile(TRulestype& rule, const std::string& path);
// The same on an open stream; `source` names it in errors.
void WriteRuleStream(const TRulestype& rule, std::iostream& stream);
void ReadRuleStream(TRulestype& rule, std::iostream& stream, const std::string& source);

struct TRuleFileResult
{
    int Done = 0;                    // files written or rules imported
    std::vector<std::string> Errors; // one text per file that failed, also shown through the prompter
};

// Imports one rule file, or every "*.tkf" entry of a folder (in name order), into the account: each
// becomes a new rule saved under the next free key number. A file that cannot be read is reported
// and skipped; the others are still imported. A path that is neither is ignored.
TRuleFileResult ImportRuleFiles(core::TRegistry& registry, core::TPrompter& prompter, accounts::TUser& user,
                                const std::string& path);

// Writes every rule of the account into `folder` as "<Name>.tkf". Without an account it only shows
// that one must exist. A missing folder is made when `createFolder` is true, else after the
// question. A rule whose file cannot be written is reported and the others are still written.
TRuleFileResult ExportRules(core::TPrompter& prompter, accounts::TUser* user, const std::string& folder,
                            bool createFolder);

} // namespace tarnwick::rules
