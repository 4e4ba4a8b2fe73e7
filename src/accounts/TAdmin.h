#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounts/TUser.h"
#include "core/TOptionRec.h"

namespace tarnwick::core {
class TSettingsStore;
}

namespace tarnwick::accounts {

// What the account administrator tells the windows. Every call comes on the thread that changed the
// accounts (the user-interface thread).
class TAccountsObserver
{
public:
    virtual ~TAccountsObserver() = default;
    // The first account was added, or the last one removed.
    virtual void AccountsExist(bool exist) = 0;
    // An account was made current: its rules are to be loaded, the folder tree rebuilt and the
    // rules window pointed at it.
    virtual void AccountMadeCurrent(TUser& user) = 0;
    // The receive menus must be built again (BuildAccountMenus).
    virtual void AccountMenusChanged() = 0;
};

// Draws the letter numbers (0..25) of new key names.
using TLetterSource = std::function<int()>;
TLetterSource RandomLetters();

// One item of the receive menu or of the account popup.
struct TAccountMenuItem
{
    std::string Caption; // empty for a separator
    int Tag = 0;         // -1 the first item, -2 the separator, else the account's index
    bool Visible = true;
    bool IsDefault = false; // shown as the menu's default item
    std::string Shortcut;   // e.g. "F5"
    bool operator==(const TAccountMenuItem&) const = default;
};

struct TAccountMenus
{
    std::vector<TAccountMenuItem> Receive; // "Current User", separator, one item per account
    std::vector<TAccountMenuItem> Popup;   // "Add new accounts...", separator, one item per account
};

// One row of the accounts list.
struct TAccountListRow
{
    std::string Caption; // display name, with " ( default )" for the default account
    std::string Host;
    std::string Organization;
    bool Checked = false; // listed in the receive menus
    bool operator==(const TAccountListRow&) const = default;
};

// Holds every account in order, knows the default one and makes one current. Exactly one exists
// at a time.
class TAdmin
{
public:
    using TOptionsSource = std::function<std::shared_ptr<const core::TOptionRec>()>;

    // Throws core::TError("Administrator has been initialized !") when another one exists.
    explicit TAdmin(std::shared_ptr<core::TSettingsStore> hive, TOptionsSource options = {});
    ~TAdmin();
    TAdmin(const TAdmin&) = delete;
    TAdmin& operator=(const TAdmin&) = delete;

    void SetObserver(TAccountsObserver* observer) { Observer_ = observer; }
    // Replaces the random letters of new key names (tests).
    void SetLetterSource(TLetterSource letters) { Letters_ = std::move(letters); }

    // Reads all accounts, in the order of their key names (ascending, without regard to case).
    void LoadUsers();
    // Writes all accounts; an account never saved gets a new five-letter key name.
    void SaveUsers();
    // Writes one account at once (a password that was asked for and is to be remembered).
    void SaveUser(std::size_t index);

    std::size_t AddUser(TUserID id);
    void RemoveUser(std::size_t index);
    bool HasUsers() const { return !Users_.empty(); }
    std::size_t Count() const { return Users_.size(); }
    TUser& UserAt(std::size_t index) { return *Users_.at(index); }
    int DefaultIndex() const;
    int IndexOf(const TUser* user) const;
    void SetDefault(int oldIndex, int newIndex);

    // Fills the account's receive settings from the options and tells the windows; returns the
    // account, or nullptr when there are none. The caller stores it as the current account.
    TUser* MakeCurrent(std::size_t index);
    TUser* CurrentUser() const { return Current_; }
    void SetCurrentUser(TUser* user) { Current_ = user; }
    // The default account, else the first, else none (the start-up choice).
    TUser* MakeInitialCurrent();

    std::vector<TAccountListRow> FillAccountList() const;
    TAccountMenus BuildAccountMenus() const;

    // The receive settings of the options: connections by speed level, time-out by index.
    static TReceiveSettings ReceiveSettingsOf(const core::TOptionRec& options);

private:
    std::shared_ptr<core::TSettingsStore> Hive_;
    TOptionsSource Options_;
    std::vector<std::unique_ptr<TUser>> Users_;
    TUser* Current_ = nullptr;
    TAccountsObserver* Observer_ = nullptr;
    TLetterSource Letters_ = RandomLetters();
};

// A new key name: five capital letters that are not among `taken` (compared without regard to case).
std::string NewKeyName(const std::vector<std::string>& taken, const TLetterSource& letters);

} // namespace tarnwick::accounts
