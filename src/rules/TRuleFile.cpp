#include "rules/TRuleFile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "accounts/TUser.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"
#include "rules/Errors.h"
#include "rules/TRuleListClass.h"

namespace tarnwick::rules {

namespace fs = std::filesystem;

namespace {

void WriteInt(std::iostream& stream, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    const std::array<char, 4> bytes{static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                                    static_cast<char>((bits >> 16) & 0xFF),
                                    static_cast<char>((bits >> 24) & 0xFF)};
    stream.write(bytes.data(), bytes.size());
}

void WriteBytes(std::iostream& stream, const std::string& bytes)
{
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::int32_t ReadInt(std::iostream& stream, const char* field)
{
    std::array<unsigned char, 4> bytes{};
    stream.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    if (stream.gcount() != 4)
        throw TRuleFileError(std::string("the file ends inside its ") + field);
    const std::uint32_t bits =
        bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
    return static_cast<std::int32_t>(bits);
}

// Bytes left in the stream from its read position.
std::int64_t Remaining(std::iostream& stream)
{
    const auto here = stream.tellg();
    if (here < 0)
        return 0;
    stream.seekg(0, std::ios::end);
    const auto end = stream.tellg();
    stream.seekg(here);
    return static_cast<std::int64_t>(end - here);
}

std::string ReadBytes(std::iostream& stream, std::int32_t length, const char* field)
{
    if (length < 0)
        throw TRuleFileError(std::string("its ") + field + " has the impossible length " +
                             std::to_string(length));
    if (length > Remaining(stream))
        throw TRuleFileError(std::string("the file is shorter than its ") + field + " of " +
                             std::to_string(length) + " bytes");
    std::string bytes(static_cast<std::size_t>(length), '\0');
    stream.read(bytes.data(), length);
    if (stream.gcount() != length)
        throw TRuleFileError(std::string("the file ends inside its ") + field);
    return bytes;
}

// Files written on Windows hold texts in its ANSI code page; they are taken as Windows-1252 when
// they are not UTF-8.
std::string AsUtf8(std::string bytes)
{
    return core::IsValidUtf8(bytes) ? bytes : core::Windows1252ToUtf8(bytes);
}

void Report(core::TPrompter& prompter, TRuleFileResult& result, const std::string& text)
{
    result.Errors.push_back(text);
    prompter.Inform(core::TMessageKind::Error, text);
}

// Drops the rules appended to the list after its first `count`, as when their save failed.
void DropRulesAfter(TRuleListClass& list, std::size_t count)
{
    list.Rules.erase(list.Rules.begin() + static_cast<std::ptrdiff_t>(count), list.Rules.end());
    list.Current = nullptr;
}

// Imports one file as a new rule. The file is read before the store is touched; taking the key and
// saving the rule are one transaction, so a rule that fails leaves neither a key nor a list entry.
void ImportOne(core::TRegistry& registry, TRuleListClass& list, const accounts::TUserID& id,
               const std::string& file)
{
    TRulestype read;
    ReadRuleFile(read, file);
    const std::size_t before = list.Rules.size();
    try {
        registry.Store().Transaction([&] {
            TRuleClass& rule = AddNewRule(registry, list, id);
            static_cast<TRulestype&>(rule) = std::move(read);
            SaveRule(registry, rule, rule.KeyPath, true);
        });
    } catch (const core::TError& e) {
        DropRulesAfter(list, before);
        throw TRuleFileError("The rule file \"" + file + "\" cannot be imported: " + e.what());
    } catch (...) {
        DropRulesAfter(list, before);
        throw;
    }
}

bool EndsWithExtension(const std::string& name)
{
    const std::string ext = RuleFileExtension;
    return name.size() >= ext.size() && core::AsciiEqualNoCase(name.substr(name.size() - ext.size()), ext);
}

} // namespace

void TRuleFileHeader::SetName(std::string name)
{
    Name_ = std::move(name);
    NameLength = static_cast<std::int32_t>(Name_.size());
}

void TRuleFileHeader::Write()
{
    WriteInt(Stream_, NameLength);
    WriteBytes(Stream_, Name_);
    WriteInt(Stream_, Enabled);
    WriteInt(Stream_, Show);
    WriteInt(Stream_, Version);
    WriteInt(Stream_, Count);
}

void TRuleFileHeader::Read()
{
    NameLength = ReadInt(Stream_, "name length");
    Name_ = ReadBytes(Stream_, NameLength, "name");
    Enabled = ReadInt(Stream_, "Enabled value");
    Show = ReadInt(Stream_, "Show value");
    Version = ReadInt(Stream_, "Version value");
    Count = ReadInt(Stream_, "criterion count");
    if (Count < 0)
        throw TRuleFileError("its criterion count " + std::to_string(Count) + " is negative");
}

void TRuleFileRule::SetTextValue(std::string value)
{
    TextValue_ = std::move(value);
    TextLength_ = static_cast<std::int32_t>(TextValue_.size());
}

void TRuleFileRule::SetListValue(std::string value)
{
    ListValue_ = std::move(value);
    ListLength_ = static_cast<std::int32_t>(ListValue_.size());
}

void TRuleFileRule::Write()
{
    WriteInt(Stream_, Flags);
    WriteInt(Stream_, Logic);
    WriteInt(Stream_, Type);
    WriteInt(Stream_, ValueType);
    switch (ValueType) {
    case ValueInteger:
        WriteInt(Stream_, IntValue);
        break;
    case ValueText:
        WriteInt(Stream_, TextLength_);
        WriteBytes(Stream_, TextValue_);
        break;
    case ValueList:
        WriteInt(Stream_, ListLength_);
        WriteBytes(Stream_, ListValue_);
        break;
    default:
        break;
    }
}

void TRuleFileRule::Read()
{
    Flags = ReadInt(Stream_, "criterion flags");
    Logic = ReadInt(Stream_, "criterion join");
    Type = ReadInt(Stream_, "criterion type");
    ValueType = ReadInt(Stream_, "criterion value type");
    switch (ValueType) {
    case ValueInteger:
        IntValue = ReadInt(Stream_, "criterion number");
        break;
    case ValueText:
        TextLength_ = ReadInt(Stream_, "text length");
        TextValue_ = ReadBytes(Stream_, TextLength_, "text value");
        break;
    case ValueList:
        ListLength_ = ReadInt(Stream_, "list length");
        if (ListLength_ > static_cast<std::int32_t>(MaxListBytes))
            throw TRuleFileError("its list of " + std::to_string(ListLength_) + " bytes is longer than the " +
                                 std::to_string(MaxListBytes) + " bytes a rule can hold");
        ListValue_ = ReadBytes(Stream_, ListLength_, "list value");
        break;
    default:
        break;
    }
}

void WriteRuleStream(const TRulestype& rule, std::iostream& stream)
{
    TRuleFileHeader header(stream);
    header.SetName(rule.Name);
    header.Enabled = rule.Enabled;
    header.Show = rule.Show;
    header.Version = rule.Version;
    header.Count = static_cast<std::int32_t>(rule.Criteria.size());
    header.Write();
    for (std::size_t i = 0; i < rule.Criteria.size(); ++i) {
        const TRulesCriteria& criterion = rule.Criteria[i];
        TRuleFileRule block(stream);
        block.Flags = criterion.Flags;
        block.Logic = i + 1 < rule.Criteria.size() ? rule.Criteria[i + 1].Logic : 0;
        block.Type = criterion.Type;
        block.ValueType = criterion.ValueType;
        block.IntValue = criterion.IntValue;
        block.SetTextValue(criterion.TextValue);
        block.SetListValue(criterion.ListValue);
        block.Write();
    }
}

void ReadRuleStream(TRulestype& rule, std::iostream& stream, const std::string& source)
{
    try {
        TRuleFileHeader header(stream);
        header.Read();
        rule.Name = AsUtf8(header.Name());
        rule.Enabled = header.Enabled;
        rule.Version = header.Version;
        rule.Show = header.Show;
        std::int32_t previousLogic = 0;
        for (std::int32_t i = 0; i < header.Count; ++i) {
            TRuleFileRule block(stream);
            block.Read();
            TRulesCriteria criterion;
            criterion.Flags = block.Flags;
            criterion.Type = block.Type;
            criterion.ValueType = block.ValueType;
            criterion.Logic = previousLogic;
            previousLogic = block.Logic;
            switch (block.ValueType) {
            case ValueInteger:
                criterion.IntValue = block.IntValue;
                break;
            case ValueText:
                criterion.TextValue = AsUtf8(block.TextValue());
                break;
            case ValueList:
                // The list is stored and written again as UTF-8, so that is the size a rule must be
                // able to hold: Windows-1252 bytes can grow to three bytes each.
                criterion.ListValue = AsUtf8(block.ListValue());
                if (criterion.ListValue.size() > MaxListBytes)
                    throw TRuleFileError("its list of " + std::to_string(block.ListLength()) + " bytes is " +
                                         std::to_string(criterion.ListValue.size()) +
                                         " bytes as UTF-8, longer than the " + std::to_string(MaxListBytes) +
                                         " bytes a rule can hold");
                break;
            default:
                break;
            }
            rule.Criteria.push_back(std::move(criterion));
        }
    } catch (const TRuleFileError& e) {
        throw TRuleFileError("The rule file \"" + source + "\" cannot be read: " + e.what() + ".");
    }
}

void WriteRuleFile(const TRulestype& rule, const std::string& path)
{
    std::fstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out)
        throw TRuleFileError("The rule file \"" + path + "\" cannot be created: " +
                             std::error_code(errno, std::generic_category()).message() + ".");
    WriteRuleStream(rule, out);
    out.close();
    if (!out)
        throw TRuleFileError("The rule file \"" + path + "\" cannot be written.");
}

void ReadRuleFile(TRulestype& rule, const std::string& path)
{
    std::error_code error;
    if (fs::is_directory(path, error))
        throw TRuleFileError("The rule file \"" + path + "\" cannot be read: it is a folder.");
    std::fstream in(path, std::ios::in | std::ios::binary);
    if (!in)
        throw TRuleFileError("The rule file \"" + path + "\" cannot be opened: " +
                             std::error_code(errno, std::generic_category()).message() + ".");
    ReadRuleStream(rule, in, path);
}

TRuleFileResult ImportRuleFiles(core::TRegistry& registry, core::TPrompter& prompter, accounts::TUser& user,
                                const std::string& path)
{
    TRuleFileResult result;
    TRuleListClass& list = RulesOf(user);
    std::error_code error;
    std::vector<std::string> files;
    if (!path.empty() && fs::is_directory(path, error)) {
        const std::string folder = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
        for (const auto& entry : fs::directory_iterator(folder.empty() ? "/" : folder, error)) {
            const std::string name = entry.path().filename().string();
            if (EndsWithExtension(name))
                files.push_back(folder + "/" + name);
        }
        // Directory order differs between file systems; name order makes an import repeatable.
        std::sort(files.begin(), files.end());
    } else if (!path.empty() && fs::exists(path, error)) {
        files.push_back(path);
    }
    for (const auto& file : files) {
        try {
            ImportOne(registry, list, user.ID(), file);
            ++result.Done;
        } catch (const core::TError& e) {
            Report(prompter, result, e.what());
        }
    }
    return result;
}

TRuleFileResult ExportRules(core::TPrompter& prompter, accounts::TUser* user, const std::string& folder,
                            bool createFolder)
{
    TRuleFileResult result;
    if (user == nullptr) {
        prompter.Inform(core::TMessageKind::Information, NoAccountForExportText);
        return result;
    }
    if (folder.empty())
        return result;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        if (!createFolder && prompter.Ask(core::TMessageKind::Confirmation, CreateExportFolderQuestion,
                                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
            return result;
        fs::create_directories(folder, error);
        if (!fs::is_directory(folder, error)) {
            Report(prompter, result,
                   "The folder \"" + folder + "\" cannot be created: " +
                       (error ? error.message() : std::string("a file of that name is in the way")) + ".");
            return result;
        }
    }
    const std::string base = folder.back() == '/' ? folder : folder + "/";
    for (const auto& rule : RulesOf(*user).Rules) {
        // A name that holds a path separator would write into another folder, or outside this one.
        if (rule->Name.find('/') != std::string::npos || rule->Name.find('\0') != std::string::npos) {
            Report(
                prompter, result,
                "The rule \"" + rule->Name +
                    "\" cannot be exported: its name holds a character that file names cannot hold (\"/\").");
            continue;
        }
        try {
            WriteRuleFile(*rule, base + rule->Name + RuleFileExtension);
            ++result.Done;
        } catch (const core::TError& e) {
            Report(prompter, result, e.what());
        }
    }
    return result;
}

} // namespace tarnwick::rules
