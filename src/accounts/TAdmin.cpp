#include "TAdmin.h"

#include <atomic>
#include <random>

#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"

namespace tarnwick::accounts {

namespace {

std::atomic<bool> AdminExists{false};

} // namespace

TLetterSource RandomLetters()
{
    return [random = std::make_shared<std::mt19937>(std::random_device{}())] {
        return std::uniform_int_distribution<int>(0, 25)(*random);
    };
}

std::string NewKeyName(const std::vector<std::string>& taken, const TLetterSource& letters)
{
    while (true) {
        std::string name(5, 'A');
        for (char& c : name)
            c = static_cast<char>('A' + letters() % 26);
        bool used = false;
        for (const auto& other : taken)
            used = used || core::AsciiEqualNoCase(name, other);
        if (!used)
            return name;
    }
}

TAdmin::TAdmin(std::shared_ptr<core::TSettingsStore> hive, TOptionsSource options)
    : Hive_(std::move(hive))
    , Options_(options ? std::move(options) : TOptionsSource([] { return core::Options(); }))
{
    if (AdminExists.exchange(true))
        throw core::TError("Administrator has been initialized !");
}

TAdmin::~TAdmin()
{
    AdminExists = false;
}

void TAdmin::LoadUsers()
{
    core::TRegistry registry(Hive_);
    registry.CreateKey(core::TarnwickKey);
    registry.OpenKey(AccountsKey, true);
    const std::vector<std::string> names = registry.GetKeyNames();
    Current_ = nullptr;
    Users_.clear();
    for (const auto& name : names) {
        auto user = std::make_unique<TUser>();
        user->LoadFrom(registry, name);
        Users_.push_back(std::move(user));
    }
}

void TAdmin::SaveUsers()
{
    core::TRegistry registry(Hive_);
    registry.OpenKey(AccountsKey, true);
    // Names assigned in this save count as taken too, so that two new accounts never share a key.
    std::vector<std::string> taken = registry.GetKeyNames();
    Hive_->Transaction([&] {
        for (auto& user : Users_) {
            if (user->ID().KeyName.empty()) {
                user->MutableID().KeyName = NewKeyName(taken, Letters_);
                taken.push_back(user->ID().KeyName);
            }
            user->SaveTo(registry);
        }
    });
}

void TAdmin::SaveUser(std::size_t index)
{
    core::TRegistry registry(Hive_);
    TUser& user = *Users_.at(index);
    if (user.ID().KeyName.empty()) {
        registry.OpenKey(AccountsKey, true);
        user.MutableID().KeyName = NewKeyName(registry.GetKeyNames(), Letters_);
    }
    user.SaveTo(registry);
}

std::size_t TAdmin::AddUser(TUserID id)
{
    if (Users_.empty())
        id.IsDefault = true;
    Users_.push_back(std::make_unique<TUser>(std::move(id)));
    if (Users_.size() == 1 && Observer_)
        Observer_->AccountsExist(true);
    return Users_.size() - 1;
}

void TAdmin::RemoveUser(std::size_t index)
{
    TUser& user = *Users_.at(index);
    if (!user.ID().KeyName.empty()) {
        core::TRegistry registry(Hive_);
        const std::string key = std::string(AccountsKey) + "\\" + user.ID().KeyName;
        if (registry.KeyExists(key))
            registry.DeleteKey(key);
    }
    if (Current_ == &user)
        Current_ = nullptr;
    Users_.erase(Users_.begin() + static_cast<std::ptrdiff_t>(index));
    if (Observer_) {
        Observer_->AccountMenusChanged();
        if (Users_.empty())
            Observer_->AccountsExist(false);
    }
}

int TAdmin::DefaultIndex() const
{
    for (std::size_t i = 0; i < Users_.size(); ++i)
        if (Users_[i]->ID().IsDefault)
            return static_cast<int>(i);
    return -1;
}

int TAdmin::IndexOf(const TUser* user) const
{
    for (std::size_t i = 0; i < Users_.size(); ++i)
        if (Users_[i].get() == user)
            return static_cast<int>(i);
    return -1;
}

void TAdmin::SetDefault(int oldIndex, int newIndex)
{
    if (oldIndex >= 0)
        Users_.at(static_cast<std::size_t>(oldIndex))->MutableID().IsDefault = false;
    Users_.at(static_cast<std::size_t>(newIndex))->MutableID().IsDefault = true;
}

TReceiveSettings TAdmin::ReceiveSettingsOf(const core::TOptionRec& options)
{
    TReceiveSettings settings;
    settings.Connections = core::ConnectionsOf(options.DownloadSpeed);
    settings.TimeoutMs = core::TimeoutMsOf(options.TimeOut);
    settings.FullMessage = core::IsOn(options.AlwaysFullMessage);
    return settings;
}

TUser* TAdmin::MakeCurrent(std::size_t index)
{
    if (Users_.empty())
        return nullptr;
    TUser& user = *Users_.at(index);
    user.Settings = ReceiveSettingsOf(*Options_());
    if (Observer_)
        Observer_->AccountMadeCurrent(user);
    return &user;
}

TUser* TAdmin::MakeInitialCurrent()
{
    if (Users_.empty())
        return Current_ = nullptr;
    const int index = DefaultIndex();
    return Current_ = MakeCurrent(index >= 0 ? static_cast<std::size_t>(index) : 0);
}

std::vector<TAccountListRow> TAdmin::FillAccountList() const
{
    std::vector<TAccountListRow> rows;
    for (const auto& user : Users_) {
        const TUserID& id = user->ID();
        rows.push_back(
            {id.DisplayName + (id.IsDefault ? " ( default )" : ""), id.Host, id.Organization, id.ShortVis});
    }
    return rows;
}

TAccountMenus TAdmin::BuildAccountMenus() const
{
    TAccountMenus menus;
    menus.Receive.push_back({"Current User", -1, true, true, "F5"});
    menus.Receive.push_back({"", -2, true, false, ""});
    menus.Popup.push_back({"Add new accounts...", -1, true, false, ""});
    menus.Popup.push_back({"", -2, true, false, ""});
    for (std::size_t i = 0; i < Users_.size(); ++i) {
        const TUserID& id = Users_[i]->ID();
        const TAccountMenuItem item{id.DisplayName, static_cast<int>(i), id.ShortVis, false, ""};
        menus.Receive.push_back(item);
        menus.Popup.push_back(item);
    }
    return menus;
}

} // namespace tarnwick::accounts
