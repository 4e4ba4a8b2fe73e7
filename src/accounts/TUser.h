#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accounts/TMailMessage.h"
#include "accounts/TUserID.h"

namespace tarnwick::core {
class TRegistry;
}

namespace tarnwick::accounts {

inline constexpr const char* AccountsKey = "\\Software\\Orvalent\\Tarnwick\\Acounts";
inline constexpr const char* PasswordKey = "Vorn";

// Per-account state that a higher layer attaches to the account (the rules, a running receive or
// deletion); the account owns it and frees it with itself.
class TUserAttachment
{
public:
    virtual ~TUserAttachment() = default;
};

// How often the account's server lets the user log in, as learnt during this run: the least time
// between two logins that it asked for (RFC 2449 LOGIN-DELAY) and when this program last logged in.
// A session that would log in sooner waits instead of being refused. Any thread.
class TLoginPacing
{
public:
    using TClock = std::chrono::steady_clock;

    void SetDelaySeconds(std::int32_t seconds)
    {
        std::lock_guard lock(Mutex_);
        DelaySeconds_ = seconds > 0 ? seconds : 0;
    }
    std::int32_t DelaySeconds() const
    {
        std::lock_guard lock(Mutex_);
        return DelaySeconds_;
    }
    void LoggedIn(TClock::time_point at = TClock::now())
    {
        std::lock_guard lock(Mutex_);
        LastLogin_ = at;
    }
    // How long from `now` a login must wait so that the server's delay has passed; zero when there
    // is no delay or it has passed.
    TClock::duration WaitBeforeLogin(TClock::time_point now = TClock::now()) const
    {
        std::lock_guard lock(Mutex_);
        if (DelaySeconds_ == 0 || !LastLogin_)
            return TClock::duration::zero();
        const TClock::time_point allowed = *LastLogin_ + std::chrono::seconds(DelaySeconds_);
        return allowed > now ? allowed - now : TClock::duration::zero();
    }

private:
    mutable std::mutex Mutex_;
    std::int32_t DelaySeconds_ = 0;
    std::optional<TClock::time_point> LastLogin_;
};

// One account: its identity, receive settings, message list and the state of its trash.
class TUser
{
public:
    explicit TUser(TUserID id = {});

    const TUserID& ID() const { return ID_; }
    void SetID(TUserID id) { ID_ = std::move(id); }
    TUserID& MutableID() { return ID_; }

    TReceiveSettings Settings;
    TMails Mails;
    // Number of entries in Mails after the last complete download or deletion.
    std::int32_t SyncedCount = 0;
    std::atomic<bool> TrashNotEmpty{false};
    // The server's login delay and this program's last login, for every session of the account.
    TLoginPacing LoginPacing;
    // A request to stop filling a message view; the fill checks it between records.
    std::atomic<bool> StopView{false};
    void RequestStopView() { StopView = true; }

    // The account's rules, attached by the rules layer.
    std::unique_ptr<TUserAttachment> Rules;

    // Reads the account from its key (the key's name becomes KeyName).
    void LoadFrom(core::TRegistry& registry, const std::string& keyName);
    // Writes the account into its key below the accounts key, creating it (and an empty "Rules"
    // subkey) when missing. KeyName must be set.
    void SaveTo(core::TRegistry& registry) const;

private:
    TUserID ID_;
};

// The stored form of a password: scrambled with "Vorn", each scrambled byte kept as the character
// of the same number, so that the value is text as Windows kept it and survives a ".reg" round trip.
std::string PasswordForStore(const std::string& password);
// The password from its stored form; also reads values brought over from Windows, whose scrambled
// bytes are Windows-1252 characters and whose passwords are Windows-1252 text.
std::string PasswordFromStore(const std::string& stored);

} // namespace tarnwick::accounts
