#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TSettingsStore.h"

namespace tarnwick::core {

enum class TRegDataType
{
    Unknown,
    String,
    ExpandString,
    Integer,
    Binary,
};

// A cursor on the settings store with the operations of the registry: a current key, opened by
// path, and the reads and writes of its values. Key paths use "\" between names; a path that begins
// with "\" starts at the root of the store, any other path below the current key (or the root when
// no key is open). Each write is atomic.
class TRegistry
{
public:
    explicit TRegistry(std::shared_ptr<TSettingsStore> store);

    TSettingsStore& Store() { return *Store_; }
    const std::shared_ptr<TSettingsStore>& StorePtr() const { return Store_; }

    // Makes the key at `path` current; false when it is missing and `canCreate` is false.
    bool OpenKey(std::string_view path, bool canCreate);
    // Creates the key at `path` with every missing level; the current key does not change.
    bool CreateKey(std::string_view path);
    bool KeyExists(std::string_view path);
    void CloseKey();
    bool HasCurrentKey() const { return Current_.has_value(); }
    // Full path of the current key, beginning with "\" ("\" itself for the root).
    std::string CurrentPath() const { return CurrentPath_; }

    bool ValueExists(std::string_view name);
    // Missing reads as empty; a value of a kind other than string or expandable string is an error.
    std::string ReadString(std::string_view name);
    void WriteString(std::string_view name, std::string_view value);
    void WriteExpandString(std::string_view name, std::string_view value);
    // A missing value, or one that is not a 32-bit integer, is an error.
    std::int32_t ReadInteger(std::string_view name);
    void WriteInteger(std::string_view name, std::int32_t value);
    // The raw bytes of a value of any kind; a missing value is an error.
    std::string ReadBinaryData(std::string_view name);
    void WriteBinaryData(std::string_view name, std::string_view data);
    // Size in bytes of a value's data, or -1 when it is missing.
    int GetDataSize(std::string_view name);
    // Kind of a value; nothing when it is missing.
    std::optional<TRegDataType> GetDataType(std::string_view name);
    bool DeleteValue(std::string_view name);
    std::vector<std::string> GetValueNames();
    // Every value of the current key with its kind and raw data, in the order they were created.
    std::vector<TStoredValue> ReadAllValues();
    // Writes a value of any kind as it is (imports of other registry kinds).
    void WriteRawValue(const TStoredValue& value);

    // Subkey names of the current key in ascending order, compared without regard to case.
    std::vector<std::string> GetKeyNames();
    bool HasSubKeys();
    // Removes the key at `path` with all its subkeys and values; false when it did not exist.
    bool DeleteKey(std::string_view path);
    // Copies the key tree at `from` (values and all subkeys) into `to`, creating it when missing and
    // keeping the source. False when `from` does not exist.
    bool CopyKey(std::string_view from, std::string_view to);

    // Splits a key path into names; throws TStoreError for an empty name between separators.
    static std::vector<std::string> SplitPath(std::string_view path);

private:
    struct TResolved
    {
        TKeyId Base;
        std::string BasePath;
        std::vector<std::string> Names;
    };
    TResolved Resolve(std::string_view path) const;
    // The key at `path` (created when asked) and its full path with the names as stored.
    std::optional<TKeyId> Walk(std::string_view path, bool create, std::string* fullPath = nullptr);
    std::optional<TKeyId> Find(std::string_view path) { return Walk(path, false); }
    TKeyId RequireCurrent(std::string_view valueName) const;
    std::optional<TStoredValue> Read(std::string_view name);
    static std::string JoinPath(const std::string& base, const std::vector<std::string>& names);

    std::shared_ptr<TSettingsStore> Store_;
    std::optional<TKeyId> Current_;
    std::string CurrentPath_ = "\\";
};

} // namespace tarnwick::core
