// Stand-in for the header parser until the real one is merged: keeps the lines and the message id.
#include "TParsedHeader.h"
#include "core/TextUtils.h"

namespace tarnwick::retrieval {

TParsedHeader ParseHeader(std::vector<std::string> lines, bool hasBody)
{
    TParsedHeader header;
    header.HasBody = hasBody;
    for (const std::string& line : lines) {
        if (header.MessageId.empty() && core::AsciiLower(line.substr(0, 11)) == "message-id:")
            header.MessageId = core::Trim(std::string_view(line).substr(11));
    }
    header.Lines = std::move(lines);
    return header;
}

std::string CacheNameOf(const TParsedHeader& header)
{
    const std::string source =
        !header.MessageId.empty() ? header.MessageId : "MsgIDPrefix" + header.FromName + header.FromAddress;
    std::string name;
    for (const unsigned char c : source) {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("!#$%&'()-.^_`{}@").find(static_cast<char>(c)) != std::string_view::npos;
        if (plain)
            name += static_cast<char>(c);
        else
            name += "~" + std::to_string(c);
    }
    return name;
}

} // namespace tarnwick::retrieval
