#pragma once

#include <memory>

#include "accounts/TAdmin.h"
#include "accounts/TUserID.h"
#include "core/Modules.h"

namespace tarnwick::test {

// The program's administrator over the test's store, with one saved account "user" ("Main" on
// pop.example.org), loaded again: a main window made over it greets no first start.
inline std::unique_ptr<accounts::TAdmin> AdminWithOneAccount()
{
    auto admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
    accounts::TUserID id;
    id.AccountName = "user";
    id.DisplayName = "Main";
    id.Host = "pop.example.org";
    admin->AddUser(id);
    admin->SaveUsers();
    admin->LoadUsers();
    return admin;
}

} // namespace tarnwick::test
