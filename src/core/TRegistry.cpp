#include "TRegistry.h"

#include <cstring>

#include "Errors.h"

namespace tarnwick::core {

namespace {

std::string EncodeInteger(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return data;
}

std::int32_t DecodeInteger(std::string_view data)
{
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[static_cast<std::size_t>(i)]))
             << (8 * i);
    return static_cast<std::int32_t>(u);
}

constexpr auto KindOf(TValueKind kind)
{
    return static_cast<std::int32_t>(kind);
}

} // namespace

TRegistry::TRegistry(std::shared_ptr<TSettingsStore> store)
    : Store_(std::move(store))
{}

std::vector<std::string> TRegistry::SplitPath(std::string_view path)
{
    std::vector<std::string> names;
    if (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty())
        return names;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view name =
            path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (name.empty())
            throw TStoreError("The key path \"" + std::string(path) + "\" contains an empty key name.");
        names.emplace_back(name);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return names;
}

std::string TRegistry::JoinPath(const std::string& base, const std::vector<std::string>& names)
{
    std::string path = base;
    for (const auto& name : names) {
        if (path.back() != '\\')
            path += '\\';
        path += name;
    }
    return path;
}

TRegistry::TResolved TRegistry::Resolve(std::string_view path) const
{
    const bool absolute = !path.empty() && path.front() == '\\';
    if (absolute || !Current_)
        return {TSettingsStore::RootKey, "\\", SplitPath(path)};
    return {*Current_, CurrentPath_, SplitPath(path)};
}

std::optional<TKeyId> TRegistry::Walk(std::string_view path, bool create, std::string* fullPath)
{
    const TResolved r = Resolve(path);
    std::vector<std::string> stored;
    const auto key = Store_->WalkKeys(r.Base, r.Names, create, &stored);
    if (key && fullPath)
        *fullPath = JoinPath(r.BasePath, stored);
    return key;
}

bool TRegistry::OpenKey(std::string_view path, bool canCreate)
{
    std::string fullPath;
    const auto key = Walk(path, canCreate, &fullPath);
    if (!key)
        return false;
    Current_ = key;
    CurrentPath_ = fullPath;
    return true;
}

bool TRegistry::CreateKey(std::string_view path)
{
    if (!Walk(path, true))
        throw TStoreError("The key \"" + std::string(path) +
                          "\" cannot be created: its parent no longer exists.");
    return true;
}

bool TRegistry::KeyExists(std::string_view path)
{
    return Find(path).has_value();
}

void TRegistry::CloseKey()
{
    Current_.reset();
    CurrentPath_ = "\\";
}

TKeyId TRegistry::RequireCurrent(std::string_view valueName) const
{
    // Values without an open key live in the root key, as they would in the hive's root.
    (void)valueName;
    return Current_.value_or(TSettingsStore::RootKey);
}

std::optional<TStoredValue> TRegistry::Read(std::string_view name)
{
    return Store_->ReadValue(RequireCurrent(name), name);
}

bool TRegistry::ValueExists(std::string_view name)
{
    return Read(name).has_value();
}

std::string TRegistry::ReadString(std::string_view name)
{
    const auto value = Read(name);
    if (!value)
        return {};
    if (value->Kind != KindOf(TValueKind::String) && value->Kind != KindOf(TValueKind::ExpandString))
        throw TStoreError("Invalid data type for '" + std::string(name) + "' in " + CurrentPath_ + ".");
    return value->Data;
}

void TRegistry::WriteString(std::string_view name, std::string_view value)
{
    Store_->WriteValue(RequireCurrent(name), name, KindOf(TValueKind::String), value);
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view value)
{
    Store_->WriteValue(RequireCurrent(name), name, KindOf(TValueKind::ExpandString), value);
}

std::int32_t TRegistry::ReadInteger(std::string_view name)
{
    const auto value = Read(name);
    if (!value)
        throw TStoreError("The value '" + std::string(name) + "' is missing in " + CurrentPath_ + ".");
    if (value->Kind != KindOf(TValueKind::Integer) || value->Data.size() != 4)
        throw TStoreError("Invalid data type for '" + std::string(name) + "' in " + CurrentPath_ + ".");
    return DecodeInteger(value->Data);
}

void TRegistry::WriteInteger(std::string_view name, std::int32_t value)
{
    Store_->WriteValue(RequireCurrent(name), name, KindOf(TValueKind::Integer), EncodeInteger(value));
}

std::string TRegistry::ReadBinaryData(std::string_view name)
{
    const auto value = Read(name);
    if (!value)
        throw TStoreError("The value '" + std::string(name) + "' is missing in " + CurrentPath_ + ".");
    return value->Data;
}

void TRegistry::WriteBinaryData(std::string_view name, std::string_view data)
{
    Store_->WriteValue(RequireCurrent(name), name, KindOf(TValueKind::Binary), data);
}

int TRegistry::GetDataSize(std::string_view name)
{
    const auto value = Read(name);
    return value ? static_cast<int>(value->Data.size()) : -1;
}

std::optional<TRegDataType> TRegistry::GetDataType(std::string_view name)
{
    const auto value = Read(name);
    if (!value)
        return std::nullopt;
    switch (static_cast<TValueKind>(value->Kind)) {
    case TValueKind::String:
        return TRegDataType::String;
    case TValueKind::ExpandString:
        return TRegDataType::ExpandString;
    case TValueKind::Integer:
        return TRegDataType::Integer;
    case TValueKind::Binary:
        return TRegDataType::Binary;
    default:
        return TRegDataType::Unknown;
    }
}

bool TRegistry::DeleteValue(std::string_view name)
{
    return Store_->DeleteValue(RequireCurrent(name), name);
}

std::vector<std::string> TRegistry::GetValueNames()
{
    std::vector<std::string> names;
    for (auto& value : ReadAllValues())
        names.push_back(std::move(value.Name));
    return names;
}

void TRegistry::WriteRawValue(const TStoredValue& value)
{
    Store_->WriteValue(RequireCurrent(value.Name), value.Name, value.Kind, value.Data);
}

std::vector<TStoredValue> TRegistry::ReadAllValues()
{
    return Store_->Values(RequireCurrent({}));
}

std::vector<std::string> TRegistry::GetKeyNames()
{
    return Store_->SubKeyNames(RequireCurrent({}));
}

bool TRegistry::HasSubKeys()
{
    return !GetKeyNames().empty();
}

bool TRegistry::DeleteKey(std::string_view path)
{
    const TResolved r = Resolve(path);
    if (r.Names.empty())
        throw TStoreError("The root key cannot be deleted.");
    std::vector<std::string> parentNames(r.Names.begin(), r.Names.end() - 1);
    const std::string parentPath = JoinPath(r.BasePath, parentNames);
    const auto parent = Find(parentPath);
    if (!parent || !Store_->FindSubKey(*parent, r.Names.back()))
        return false;
    Store_->DeleteSubKey(*parent, r.Names.back());
    return true;
}

bool TRegistry::CopyKey(std::string_view from, std::string_view to)
{
    const auto source = Find(from);
    if (!source)
        return false;
    Store_->Transaction([&] {
        const auto target = Walk(to, true);
        if (!target)
            throw TStoreError("The key \"" + std::string(to) + "\" cannot be created.");
        Store_->CopyTree(*source, *target);
    });
    return true;
}

} // namespace tarnwick::core
