#include "TAddressImport.h"

#include "core/TPrompter.h"

namespace tarnwick::classify {

std::string MoveQuestionText(TListKind target)
{
    const TListKind other = target == TListKind::White ? TListKind::Black : TListKind::White;
    return "This address is already in the " + std::string(ListName(other)) +
           " list. Do you want to move it to " + std::string(ListName(target)) + " list ?";
}

TImportSummary ImportAddresses(TAddressList& list, TAddressList& other, std::span<const std::string> phaseOne,
                               std::span<const std::string> phaseTwo, core::TPrompter& prompter)
{
    using core::TAnswer;
    TImportSummary summary;
    // The remembered answer: Yes to All or No to All, once given, holds for both phases.
    TAnswer remembered = TAnswer::Cancel;
    const std::string question = MoveQuestionText(list.Kind);

    const auto move = [&](const std::string& address) {
        const std::size_t before = other.Rows.size();
        if (MoveToList(list, other, address))
            ++summary.Added;
        summary.Removed += before - other.Rows.size();
    };

    const auto runPhase = [&](std::span<const std::string> addresses) {
        const std::vector<TAnswer> buttons =
            addresses.size() < 2 ? std::vector<TAnswer>{TAnswer::Yes, TAnswer::No}
                                 : std::vector<TAnswer>{TAnswer::Yes, TAnswer::No, TAnswer::Cancel,
                                                        TAnswer::YesToAll, TAnswer::NoToAll};
        for (const auto& address : addresses) {
            if (address.empty())
                continue;
            if (!IsListed(other, address)) {
                move(address);
                continue;
            }
            if (remembered == TAnswer::NoToAll)
                continue;
            if (remembered == TAnswer::YesToAll) {
                move(address);
                continue;
            }
            const TAnswer answer = prompter.Ask(core::TMessageKind::Confirmation, question, buttons);
            if (answer == TAnswer::YesToAll || answer == TAnswer::NoToAll)
                remembered = answer;
            if (answer == TAnswer::Yes || answer == TAnswer::YesToAll)
                move(address);
            else if (answer == TAnswer::Cancel)
                return true;
        }
        return false;
    };

    summary.PhaseOneCancelled = runPhase(phaseOne);
    summary.PhaseTwoCancelled = runPhase(phaseTwo);
    return summary;
}

} // namespace tarnwick::classify
