#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "accounts/TUser.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::engine {

// Shows a wait for the server's login delay: the seconds left and the delay the server asked for.
using TShowLoginWait = std::function<void(std::int64_t secondsLeft, std::int32_t delaySeconds)>;
// Waits for the time given, or less when the user stops; false after a stop.
using TSleep = std::function<bool(std::chrono::steady_clock::duration)>;

// "Waiting 42 s for the login delay of 60 s ..."
std::string LoginWaitText(std::int64_t secondsLeft, std::int32_t delaySeconds);

// Logs `client` in, for a server that may ask for a pause between two logins (RFC 2449
// LOGIN-DELAY): first the rest of the delay since this program's last login of the account is
// waited out, as far as it is known; a login still refused with "[LOGIN-DELAY]" is tried once more
// after the delay (the server's, from its capability list before the login, or the one learnt
// earlier). Every successful login is remembered in `pacing`. False when the user stopped during a
// wait; the errors of Open otherwise go to the caller.
bool OpenPaced(retrieval::TPOP3Client& client, accounts::TLoginPacing& pacing, const TShowLoginWait& show,
               const TSleep& sleep);

} // namespace tarnwick::engine
