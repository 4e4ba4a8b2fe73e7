#include "TUser.h"

#include "core/ScrambleText.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"

namespace tarnwick::accounts {

namespace {

// Flags are stored as decimal numbers, 1 meaning true. A missing or hand-damaged value reads as
// false instead of stopping the whole account list from loading.
bool ReadFlag(core::TRegistry& registry, const char* name)
{
    return core::ParseInt32(registry.ReadString(name)) == 1;
}

std::string Flag(bool value)
{
    return value ? "1" : "0";
}

} // namespace

TUser::TUser(TUserID id)
    : ID_(std::move(id))
{}

std::string PasswordForStore(const std::string& password)
{
    const std::string scrambled = core::ScrambleText(password, PasswordKey, core::TScrambleDirection::Store);
    std::string text;
    for (const char c : scrambled) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (b >> 6));
            text += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return text;
}

std::string PasswordFromStore(const std::string& stored)
{
    const std::string scrambled = core::Utf8ToSingleBytes(stored).value_or(stored);
    const std::string password = core::ScrambleText(scrambled, PasswordKey, core::TScrambleDirection::Load);
    // Passwords saved here are UTF-8; one that is not came from Windows in its ANSI code page.
    return core::IsValidUtf8(password) ? password : core::Windows1252ToUtf8(password);
}

void TUser::LoadFrom(core::TRegistry& registry, const std::string& keyName)
{
    registry.OpenKey(std::string(AccountsKey) + "\\" + keyName, false);
    TUserID id;
    id.DisplayName = registry.ReadString("Display Name");
    id.AccountName = registry.ReadString("Acount Name");
    id.RememberPassword = ReadFlag(registry, "Remember Password");
    if (id.RememberPassword)
        id.Password = PasswordFromStore(registry.ReadString("Password"));
    id.Host = registry.ReadString("Host");
    id.Organization = registry.ReadString("Organization");
    id.KeyName = keyName;
    id.ShortVis = ReadFlag(registry, "ShortVis");
    id.IsDefault = ReadFlag(registry, "Default");

    const auto security = core::ParseInt32(registry.ReadString("Security")).value_or(0);
    id.Security = (security == 1 || security == 2) ? static_cast<TConnectionSecurity>(security)
                                                   : TConnectionSecurity::None;
    const auto port = core::ParseInt32(registry.ReadString("Port"));
    if (port && *port > 0 && *port < 65536)
        id.Port = *port;
    else
        id.Port = id.Security == TConnectionSecurity::Tls ? DefaultPop3sPort : DefaultPop3Port;
    ID_ = std::move(id);
    registry.CloseKey();
}

void TUser::SaveTo(core::TRegistry& registry) const
{
    registry.Store().Transaction([&] {
        registry.OpenKey(std::string(AccountsKey) + "\\" + ID_.KeyName, true);
        registry.WriteString("Display Name", ID_.DisplayName);
        registry.WriteString("Acount Name", ID_.AccountName);
        // A password the user no longer wants remembered is removed from the disk, not left
        // behind unread.
        if (ID_.RememberPassword)
            registry.WriteString("Password", PasswordForStore(ID_.Password));
        else
            registry.DeleteValue("Password");
        registry.WriteString("Host", ID_.Host);
        registry.WriteString("Organization", ID_.Organization);
        registry.WriteString("Remember Password", Flag(ID_.RememberPassword));
        registry.WriteString("ShortVis", Flag(ID_.ShortVis));
        registry.WriteString("Default", Flag(ID_.IsDefault));
        registry.WriteString("Port", std::to_string(ID_.Port));
        registry.WriteString("Security", std::to_string(static_cast<int>(ID_.Security)));
        if (!registry.KeyExists("Rules"))
            registry.CreateKey("Rules");
    });
    registry.CloseKey();
}

} // namespace tarnwick::accounts
