#include "TSettingsStore.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Errors.h"
#include "TextUtils.h"

namespace tarnwick::core {

namespace {

constexpr const char* FormatName = "tarnwick-settings";
constexpr const char* FormatVersion = "1";

constexpr const char* SchemaSql = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    UNIQUE(parent, fold));
CREATE TABLE vals(
    seq INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    kind INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT INTO keys(id, parent, name, fold) VALUES(1, NULL, '', '');
)sql";

// Damage that moving the file aside and starting afresh can cure.
class TDamagedStore : public TStoreError
{
public:
    using TStoreError::TStoreError;
};

bool IsDamageCode(int code)
{
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

std::string AsideName(const std::string& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string candidate = path + ".damaged-" + stamp;
    for (int n = 2; std::filesystem::exists(candidate); ++n)
        candidate = path + ".damaged-" + stamp + "-" + std::to_string(n);
    return candidate;
}

} // namespace

class TSettingsStore::TStatement
{
public:
    TStatement(TSettingsStore& store, const char* sql)
        : Store_(store)
        , Sql_(sql)
    {
        if (sqlite3_prepare_v3(store.Db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &Stmt_, nullptr) != SQLITE_OK)
            store.Fail();
    }
    ~TStatement() { sqlite3_finalize(Stmt_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    const char* Sql() const { return Sql_; }

    TStatement& Reset()
    {
        sqlite3_reset(Stmt_);
        sqlite3_clear_bindings(Stmt_);
        return *this;
    }
    TStatement& Bind(int index, std::int64_t value)
    {
        sqlite3_bind_int64(Stmt_, index, value);
        return *this;
    }
    TStatement& BindText(int index, std::string_view value)
    {
        sqlite3_bind_text(Stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    TStatement& BindBlob(int index, std::string_view value)
    {
        sqlite3_bind_blob(Stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // Steps once; true while a row is available.
    bool Step()
    {
        const int rc = sqlite3_step(Stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        Store_.Fail();
    }
    void Run()
    {
        while (Step()) {
        }
        sqlite3_reset(Stmt_);
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(Stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(Stmt_, column) == SQLITE_NULL; }
    std::string Bytes(int column) const
    {
        const void* data = sqlite3_column_blob(Stmt_, column);
        const int size = sqlite3_column_bytes(Stmt_, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string();
    }

private:
    TSettingsStore& Store_;
    const char* Sql_;
    sqlite3_stmt* Stmt_ = nullptr;
};

TSettingsStore::TSettingsStore(const std::string& path)
    : Path_(path)
{
    try {
        OpenFile();
        CheckSchema();
    } catch (...) {
        Statements_.clear();
        sqlite3_close(Db_);
        Db_ = nullptr;
        throw;
    }
}

TSettingsStore::~TSettingsStore()
{
    Statements_.clear();
    sqlite3_close(Db_);
}

std::shared_ptr<TSettingsStore> TSettingsStore::OpenOrRecover(const std::string& path, std::string& notice)
{
    try {
        return std::make_shared<TSettingsStore>(path);
    } catch (const TDamagedStore& e) {
        const std::string aside = AsideName(path);
        std::error_code ec;
        std::filesystem::rename(path, aside, ec);
        if (ec)
            throw TStoreError(std::string(e.what()) + " It could not be kept aside as \"" + aside +
                              "\": " + ec.message() + ".");
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            std::filesystem::remove(path + suffix, ec);
        notice =
            std::string(e.what()) + " It was kept as \"" + aside + "\" and a new settings file was started.";
        return std::make_shared<TSettingsStore>(path);
    }
}

void TSettingsStore::Fail()
{
    const int code = Db_ ? sqlite3_extended_errcode(Db_) : SQLITE_CANTOPEN;
    const std::string reason = Db_ ? sqlite3_errmsg(Db_) : "cannot open";
    if (IsDamageCode(code))
        throw TDamagedStore("The settings file \"" + Path_ + "\" is damaged (" + reason + ").");
    throw TStoreError("The settings file \"" + Path_ + "\" cannot be used: " + reason + ".");
}

void TSettingsStore::OpenFile()
{
    const std::filesystem::path file(Path_);
    if (file.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        if (!ec)
            ::chmod(file.parent_path().c_str(), 0700);
    }
    // Create the file ourselves so that it never exists with a wider mode than 0600; tighten the
    // mode of an existing file as well, since the store holds the account passwords.
    const int fd = ::open(Path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw TStoreError("The settings file \"" + Path_ + "\" cannot be opened: " + std::strerror(errno) +
                          ".");
    struct stat st
    {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & 0077) != 0)
        ::fchmod(fd, 0600);
    ::close(fd);

    if (sqlite3_open_v2(Path_.c_str(), &Db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        Fail();
    sqlite3_extended_result_codes(Db_, 1);
    sqlite3_busy_timeout(Db_, 5000);
    Exec("PRAGMA foreign_keys = ON");
}

void TSettingsStore::CheckSchema()
{
    auto& tables = Prepare("SELECT count(*) FROM sqlite_master");
    tables.Reset();
    tables.Step();
    const std::int64_t objects = tables.Int(0);
    tables.Reset();
    if (objects == 0) {
        Transaction([&] {
            Exec(SchemaSql);
            auto& meta = Prepare("INSERT INTO meta(name, value) VALUES(?1, ?2)");
            meta.Reset().BindText(1, "format").BindText(2, FormatName).Run();
            meta.Reset().BindText(1, "version").BindText(2, FormatVersion).Run();
        });
        return;
    }

    auto& check = Prepare("PRAGMA quick_check");
    check.Reset();
    const std::string verdict = check.Step() ? check.Bytes(0) : std::string();
    check.Reset();
    if (verdict != "ok")
        throw TDamagedStore("The settings file \"" + Path_ + "\" is damaged (" + verdict + ").");

    std::string format, version;
    try {
        auto& meta = Prepare("SELECT name, value FROM meta");
        meta.Reset();
        while (meta.Step()) {
            if (meta.Bytes(0) == "format")
                format = meta.Bytes(1);
            else if (meta.Bytes(0) == "version")
                version = meta.Bytes(1);
        }
        Prepare("SELECT id, parent, name, fold FROM keys WHERE id = 1").Reset().Run();
        Prepare("SELECT seq, key, name, fold, kind, data FROM vals LIMIT 1").Reset().Run();
    } catch (const TDamagedStore&) {
        throw;
    } catch (const TStoreError&) {
        format.clear();
    }
    if (format != FormatName)
        throw TDamagedStore("The file \"" + Path_ + "\" is not a Tarnwick settings file.");
    if (version != FormatVersion)
        throw TStoreError("The settings file \"" + Path_ + "\" was written by a newer Tarnwick (format " +
                          version + ").");
}

TSettingsStore::TStatement& TSettingsStore::Prepare(const char* sql)
{
    for (auto& statement : Statements_)
        if (statement->Sql() == sql)
            return statement->Reset();
    Statements_.push_back(std::make_unique<TStatement>(*this, sql));
    return *Statements_.back();
}

void TSettingsStore::Exec(const char* sql)
{
    if (sqlite3_exec(Db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail();
}

void TSettingsStore::Begin()
{
    if (TransactionDepth_ == 0)
        Exec("BEGIN IMMEDIATE");
    else
        Exec("SAVEPOINT nested");
    ++TransactionDepth_;
}

void TSettingsStore::Commit()
{
    const char* sql = TransactionDepth_ == 1 ? "COMMIT" : "RELEASE nested";
    if (sqlite3_exec(Db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) {
        --TransactionDepth_;
        return;
    }
    // Report the failure of the commit itself, not that of the rollback that follows it.
    const int code = sqlite3_extended_errcode(Db_);
    const std::string reason = sqlite3_errmsg(Db_);
    Rollback();
    if (IsDamageCode(code))
        throw TDamagedStore("The settings file \"" + Path_ + "\" is damaged (" + reason + ").");
    throw TStoreError("The settings file \"" + Path_ + "\" cannot be used: " + reason + ".");
}

void TSettingsStore::Rollback()
{
    --TransactionDepth_;
    const char* sql = TransactionDepth_ == 0 ? "ROLLBACK" : "ROLLBACK TO nested; RELEASE nested";
    sqlite3_exec(Db_, sql, nullptr, nullptr, nullptr);
}

std::optional<TKeyId> TSettingsStore::FindSubKeyLocked(TKeyId parent, std::string_view name,
                                                       std::string* storedName)
{
    auto& st = Prepare("SELECT id, name FROM keys WHERE parent = ?1 AND fold = ?2");
    st.Bind(1, parent).BindText(2, FoldCase(name));
    std::optional<TKeyId> id;
    if (st.Step()) {
        id = st.Int(0);
        if (storedName)
            *storedName = st.Bytes(1);
    }
    st.Reset();
    return id;
}

std::optional<TKeyId> TSettingsStore::FindSubKey(TKeyId parent, std::string_view name)
{
    std::lock_guard lock(Mutex_);
    return FindSubKeyLocked(parent, name);
}

TKeyId TSettingsStore::CreateSubKeyLocked(TKeyId parent, const std::string& name)
{
    Prepare("INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)")
        .Bind(1, parent)
        .BindText(2, name)
        .BindText(3, FoldCase(name))
        .Run();
    return sqlite3_last_insert_rowid(Db_);
}

std::optional<TKeyId> TSettingsStore::WalkKeys(TKeyId parent, const std::vector<std::string>& names,
                                               bool create, std::vector<std::string>* storedNames)
{
    std::optional<TKeyId> key;
    const auto walk = [&] {
        if (!KeyAlive(parent))
            return;
        key = parent;
        for (const auto& name : names) {
            std::string stored = name;
            auto next = FindSubKeyLocked(*key, name, &stored);
            if (!next && !create) {
                key.reset();
                return;
            }
            key = next ? *next : CreateSubKeyLocked(*key, name);
            if (storedNames)
                storedNames->push_back(stored);
        }
    };
    if (create) {
        Transaction(walk);
    } else {
        std::lock_guard lock(Mutex_);
        walk();
    }
    return key;
}

bool TSettingsStore::KeyAlive(TKeyId key)
{
    std::lock_guard lock(Mutex_);
    auto& st = Prepare("SELECT 1 FROM keys WHERE id = ?1");
    st.Bind(1, key);
    const bool alive = st.Step();
    st.Reset();
    return alive;
}

std::vector<std::string> TSettingsStore::SubKeyNames(TKeyId key)
{
    std::lock_guard lock(Mutex_);
    auto& st = Prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY fold, name");
    st.Bind(1, key);
    std::vector<std::string> names;
    while (st.Step())
        names.push_back(st.Bytes(0));
    st.Reset();
    return names;
}

void TSettingsStore::DeleteSubKey(TKeyId parent, std::string_view name)
{
    std::lock_guard lock(Mutex_);
    Prepare("DELETE FROM keys WHERE parent = ?1 AND fold = ?2")
        .Bind(1, parent)
        .BindText(2, FoldCase(name))
        .Run();
}

void TSettingsStore::CopyTreeLocked(TKeyId from, TKeyId to)
{
    for (const auto& value : ValuesLocked(from))
        WriteValueLocked(to, value.Name, value.Kind, value.Data);
    std::vector<std::pair<TKeyId, std::string>> children;
    auto& st = Prepare("SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold");
    st.Bind(1, from);
    while (st.Step())
        children.emplace_back(st.Int(0), st.Bytes(1));
    st.Reset();
    for (const auto& [child, name] : children) {
        const auto existing = FindSubKeyLocked(to, name);
        CopyTreeLocked(child, existing ? *existing : CreateSubKeyLocked(to, name));
    }
}

void TSettingsStore::CopyTree(TKeyId from, TKeyId to)
{
    Transaction([&] {
        // Copying a key into its own subtree would never end.
        auto& up = Prepare("SELECT parent FROM keys WHERE id = ?1");
        for (std::optional<TKeyId> k = to; k;) {
            if (*k == from)
                throw TStoreError("A key cannot be copied into itself or one of its subkeys.");
            up.Reset().Bind(1, *k);
            k = (up.Step() && !up.IsNull(0)) ? std::optional<TKeyId>(up.Int(0)) : std::nullopt;
            up.Reset();
        }
        CopyTreeLocked(from, to);
    });
}

std::optional<TStoredValue> TSettingsStore::ReadValue(TKeyId key, std::string_view name)
{
    std::lock_guard lock(Mutex_);
    auto& st = Prepare("SELECT name, kind, data FROM vals WHERE key = ?1 AND fold = ?2");
    st.Bind(1, key).BindText(2, FoldCase(name));
    std::optional<TStoredValue> value;
    if (st.Step())
        value = TStoredValue{st.Bytes(0), static_cast<std::int32_t>(st.Int(1)), st.Bytes(2)};
    st.Reset();
    return value;
}

void TSettingsStore::WriteValueLocked(TKeyId key, std::string_view name, std::int32_t kind,
                                      std::string_view data)
{
    // An existing value keeps its place among the key's values, as the registry does.
    Prepare("INSERT INTO vals(key, name, fold, kind, data) VALUES(?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, fold) DO UPDATE SET name = excluded.name, kind = excluded.kind, "
            "data = excluded.data")
        .Bind(1, key)
        .BindText(2, name)
        .BindText(3, FoldCase(name))
        .Bind(4, kind)
        .BindBlob(5, data)
        .Run();
}

void TSettingsStore::WriteValue(TKeyId key, std::string_view name, std::int32_t kind, std::string_view data)
{
    Transaction([&] {
        if (!KeyAlive(key))
            throw TStoreError("The key to write \"" + std::string(name) + "\" into no longer exists.");
        WriteValueLocked(key, name, kind, data);
    });
}

bool TSettingsStore::DeleteValue(TKeyId key, std::string_view name)
{
    std::lock_guard lock(Mutex_);
    Prepare("DELETE FROM vals WHERE key = ?1 AND fold = ?2").Bind(1, key).BindText(2, FoldCase(name)).Run();
    return sqlite3_changes(Db_) > 0;
}

std::vector<TStoredValue> TSettingsStore::ValuesLocked(TKeyId key)
{
    auto& st = Prepare("SELECT name, kind, data FROM vals WHERE key = ?1 ORDER BY seq");
    st.Bind(1, key);
    std::vector<TStoredValue> values;
    while (st.Step())
        values.push_back(TStoredValue{st.Bytes(0), static_cast<std::int32_t>(st.Int(1)), st.Bytes(2)});
    st.Reset();
    return values;
}

std::vector<TStoredValue> TSettingsStore::Values(TKeyId key)
{
    std::lock_guard lock(Mutex_);
    return ValuesLocked(key);
}

} // namespace tarnwick::core
