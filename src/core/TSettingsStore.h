#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarnwick::core {

// Kinds of a stored value. The numbers are those of the Windows registry (REG_SZ, REG_EXPAND_SZ,
// REG_BINARY, REG_DWORD), so that other kinds brought over from a ".reg" file keep theirs.
enum class TValueKind : std::int32_t
{
    None = 0,
    String = 1,
    ExpandString = 2,
    Binary = 3,
    Integer = 4,
};

struct TStoredValue
{
    std::string Name;
    std::int32_t Kind = 0; // a TValueKind, or another registry kind number kept as it came
    std::string Data;      // text bytes, raw bytes, or the integer as four little-endian bytes
};

using TKeyId = std::int64_t;

// One user's settings, kept as a tree of keys and values in a single SQLite file (mode 0600).
// Every operation is one transaction, so a crash never leaves half a write behind. Key and value
// names are compared without regard to case. Thread-safe: operations are serialised.
class TSettingsStore
{
public:
    // Opens the store file, creating it and its folder when missing. Throws TStoreError naming the
    // file when it cannot be opened or when it is damaged or not a settings file.
    explicit TSettingsStore(const std::string& path);
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    // Opens the store file; a damaged one is first renamed aside (its new name is reported in
    // `notice`) and a fresh store is started. Other failures throw TStoreError.
    static std::shared_ptr<TSettingsStore> OpenOrRecover(const std::string& path, std::string& notice);

    const std::string& Path() const { return Path_; }

    static constexpr TKeyId RootKey = 1;

    // Keys, addressed by id and by the names below a parent.
    std::optional<TKeyId> FindSubKey(TKeyId parent, std::string_view name);
    // Follows `names` down from `parent`, creating missing levels when `create` is set. The names
    // as stored (their letter case may differ from those asked for) are added to `storedNames`.
    std::optional<TKeyId> WalkKeys(TKeyId parent, const std::vector<std::string>& names, bool create,
                                   std::vector<std::string>* storedNames = nullptr);
    bool KeyAlive(TKeyId key);
    std::vector<std::string> SubKeyNames(TKeyId key);
    void DeleteSubKey(TKeyId parent, std::string_view name);
    // Copies the values and subkeys of `from` into `to` (created when missing), keeping `from`.
    void CopyTree(TKeyId from, TKeyId to);

    // Values of a key.
    std::optional<TStoredValue> ReadValue(TKeyId key, std::string_view name);
    void WriteValue(TKeyId key, std::string_view name, std::int32_t kind, std::string_view data);
    bool DeleteValue(TKeyId key, std::string_view name);
    std::vector<TStoredValue> Values(TKeyId key);

    // Runs `work` as one transaction: all of its writes land, or none do.
    template <typename F> void Transaction(F&& work)
    {
        std::lock_guard lock(Mutex_);
        Begin();
        try {
            work();
        } catch (...) {
            Rollback();
            throw;
        }
        Commit();
    }

private:
    class TStatement;
    TStatement& Prepare(const char* sql);
    void Exec(const char* sql);
    [[noreturn]] void Fail();
    void OpenFile();
    void CheckSchema();
    void Begin();
    void Commit();
    void Rollback();
    TKeyId CreateSubKeyLocked(TKeyId parent, const std::string& name);
    void CopyTreeLocked(TKeyId from, TKeyId to);
    std::optional<TKeyId> FindSubKeyLocked(TKeyId parent, std::string_view name,
                                           std::string* storedName = nullptr);
    std::vector<TStoredValue> ValuesLocked(TKeyId key);
    void WriteValueLocked(TKeyId key, std::string_view name, std::int32_t kind, std::string_view data);

    std::string Path_;
    sqlite3* Db_ = nullptr;
    std::vector<std::unique_ptr<TStatement>> Statements_;
    std::recursive_mutex Mutex_;
    int TransactionDepth_ = 0;
};

} // namespace tarnwick::core
