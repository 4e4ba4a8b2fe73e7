#include "OpenPaced.h"

#include <algorithm>

#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

namespace {

using TClock = accounts::TLoginPacing::TClock;

// Waits `wait`, showing the seconds left once a second.
bool WaitOut(TClock::duration wait, std::int32_t delay, const TShowLoginWait& show, const TSleep& sleep)
{
    const TClock::time_point end = TClock::now() + wait;
    for (TClock::time_point now = TClock::now(); now < end; now = TClock::now()) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(end - now);
        if (show)
            show(left.count(), delay);
        if (!sleep(std::min<TClock::duration>(end - now, std::chrono::seconds(1))))
            return false;
    }
    return true;
}

} // namespace

std::string LoginWaitText(std::int64_t secondsLeft, std::int32_t delaySeconds)
{
    // Short enough for the receiving window's status line.
    return "Waiting " + std::to_string(secondsLeft) + " s for the login delay of " +
           std::to_string(delaySeconds) + " s ...";
}

bool OpenPaced(retrieval::TPOP3Client& client, accounts::TLoginPacing& pacing, const TShowLoginWait& show,
               const TSleep& sleep)
{
    if (!WaitOut(pacing.WaitBeforeLogin(), pacing.DelaySeconds(), show, sleep))
        return false;
    try {
        client.Open();
    } catch (const retrieval::TLoginRefusedError& error) {
        if (error.Code() != "LOGIN-DELAY")
            throw;
        const std::int32_t delay =
            error.LoginDelaySeconds() > 0 ? error.LoginDelaySeconds() : pacing.DelaySeconds();
        if (delay <= 0)
            throw; // no delay is known to wait for: the caller reports the server's words
        pacing.SetDelaySeconds(delay);
        // Refused although this program's last login is long enough ago: another program logged in
        // meanwhile, so the whole delay is waited.
        TClock::duration wait = pacing.WaitBeforeLogin();
        if (wait == TClock::duration::zero())
            wait = std::chrono::seconds(delay);
        if (!WaitOut(wait, delay, show, sleep))
            return false;
        client.Open();
    }
    pacing.LoggedIn();
    if (const std::int32_t delay = client.CapabilitiesBeforeLogin().LoginDelaySeconds; delay > 0)
        pacing.SetDelaySeconds(std::max(delay, pacing.DelaySeconds()));
    return true;
}

} // namespace tarnwick::engine
