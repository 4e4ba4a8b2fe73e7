#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::accounts {

// How the connection to the POP3 server is secured.
enum class TConnectionSecurity : std::int32_t
{
    None = 0,     // plain POP3
    StartTls = 1, // STLS before the login
    Tls = 2,      // TLS from the first byte (POP3S)
};

inline constexpr std::int32_t DefaultPop3Port = 110;
inline constexpr std::int32_t DefaultPop3sPort = 995;

// Identity of one account, copied by value between the administrator, the dialogs and the POP3
// sessions.
struct TUserID
{
    std::string AccountName; // POP3 user name
    std::string Password;    // empty when not remembered and not yet asked for
    std::string DisplayName;
    std::string Host;
    std::string Organization;
    bool IsDefault = false;
    std::string KeyName; // name of the account's key; empty until first saved
    bool RememberPassword = false;
    bool ShortVis = false; // listed in the receive menus
    std::int32_t Port = DefaultPop3Port;
    TConnectionSecurity Security = TConnectionSecurity::None;

    bool operator==(const TUserID&) const = default;
};

// Per-account receive settings, filled from the options when the account is made current and
// before each receive.
struct TReceiveSettings
{
    std::int32_t Connections = 1;   // parallel POP3 sessions, 1 to 8
    std::int32_t TimeoutMs = 30000; // connect time-out
    bool FullMessage = false;       // whole messages are downloaded into the cache

    bool operator==(const TReceiveSettings&) const = default;
};

} // namespace tarnwick::accounts
