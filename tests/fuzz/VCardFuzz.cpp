// The vCard reader on arbitrary text: it never fails, keeps within its bounds, and everything it
// lists is valid UTF-8 with names and addresses on one line, so the windows can show them as they are.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/TextUtils.h"
#include "import/TVCard.h"
#include "import/TWab.h"

namespace {

bool OneLineUtf8(const std::string& text)
{
    if (!tarnwick::core::IsValidUtf8(text))
        return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnwick::import;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TVCardText cards = ParseVCards(text, 64);
    if (cards.Cards.size() > 64)
        std::abort();
    for (const auto& card : cards.Cards) {
        if (card.Emails.size() > MaxVCardEmails)
            std::abort();
        if (!OneLineUtf8(card.FormattedName) || !OneLineUtf8(card.ComposedName))
            std::abort();
        for (const auto& email : card.Emails)
            if (email.empty() || !OneLineUtf8(email))
                std::abort();
    }
    const auto rows = WabRowsOf(cards.Cards);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].RowNumber != static_cast<int>(i) || !OneLineUtf8(rows[i].DisplayName))
            std::abort();
        if (!rows[i].IsGroup && !rows[i].Members.empty())
            std::abort();
        for (const auto& member : rows[i].Members)
            if (member.empty() || !OneLineUtf8(member))
                std::abort();
    }
    return 0;
}
