// tarnwick-cli inspect: the header record that Tarnwick builds from a message file, as JSON.

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include "TCli.h"
#include "classify/TAddressLists.h"
#include "classify/TDecodeIp.h"
#include "classify/TDispatchMail.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TJsonWriter.h"
#include "core/TPrompter.h"
#include "mime/TDecodeAttach.h"
#include "retrieval/TDecodeMail.h"
#include "retrieval/TParsedHeader.h"

namespace tarnwick::app {

namespace {

std::string ReadMessageFile(const std::string& file, TCliStreams& io)
{
    if (file == "-")
        return std::string{std::istreambuf_iterator<char>(io.In), std::istreambuf_iterator<char>()};
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw core::TFileError("Cannot read \"" + file + "\": it is a folder.");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw core::TFileError("Cannot read \"" + file + "\".");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        throw core::TFileError("Cannot read \"" + file + "\".");
    return std::move(content).str();
}

// "yyyy-mm-ddThh:nn:ss+hh:mm" in local time.
std::string LocalIsoText(std::int64_t sent)
{
    const std::int64_t seconds = sent / 1000 - (sent % 1000 < 0 ? 1 : 0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return {};
    const long offset = local.tm_gmtoff;
    const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

// Damaged list files are reported on standard error; nothing here asks a question.
class TInspectPrompter : public core::TPrompter
{
public:
    explicit TInspectPrompter(std::ostream& err)
        : Err_(err)
    {}
    void Inform(core::TMessageKind, const std::string& text) override
    {
        Err_ << "tarnwick-cli: " << text << '\n';
    }
    core::TAnswer Ask(core::TMessageKind, const std::string&, const std::vector<core::TAnswer>&) override
    {
        return core::TAnswer::No;
    }

private:
    std::ostream& Err_;
};

// The SHA-256 of a file's bytes in lower-case hex.
std::string Sha256Of(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw core::TFileError("The decoded attachment \"" + path +
                               "\" cannot be read: " + std::strerror(errno));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw core::TError("SHA-256 is not available.");
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw core::TFileError("The decoded attachment \"" + path + "\" cannot be read.");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += Hex[digest[i] >> 4];
        text += Hex[digest[i] & 15];
    }
    return text;
}

// The attachment folder goes when the command ends, whichever way it ends.
struct TAttachmentFolderGuard
{
    ~TAttachmentFolderGuard() { mime::RemoveAttachmentFolder(); }
};

// Standard input kept in a file of the attachment folder, since the reader takes a file.
std::string StandardInputFile(TCliStreams& io)
{
    const std::string content{std::istreambuf_iterator<char>(io.In), std::istreambuf_iterator<char>()};
    std::string path = mime::AttachmentFolder() + "/stdin-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        throw core::TFileError("The file \"" + path + "\" cannot be created: " + std::strerror(errno));
    std::ofstream out(path, std::ios::binary);
    ::close(fd);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw core::TFileError("The file \"" + path + "\" cannot be written.");
    return path;
}

int InspectAttachments(const std::string& file, TCliStreams& io)
{
    const TAttachmentFolderGuard guard;
    std::error_code ec;
    if (file != "-" && std::filesystem::is_directory(file, ec))
        throw core::TFileError("Cannot read \"" + file + "\": it is a folder.");
    const mime::TDecodeAttach decoded(file == "-" ? StandardInputFile(io) : file);
    core::TJsonWriter json;
    json.BeginObject();
    json.Key("File").String(file);
    json.Key("Attachments").BeginArray();
    for (const mime::TAttachmentEntry& entry : decoded.Attachments()) {
        json.BeginObject();
        json.Key("Name").String(entry.Name);
        json.Key("SafeName").String(mime::SafeFileName(entry.Name, entry.Position));
        json.Key("Position").Int(entry.Position);
        json.Key("Size").Int(static_cast<std::int64_t>(decoded.DecodedSize(entry.Position)));
        json.Key("Sha256").String(Sha256Of(decoded.ContentPath(entry.Position)));
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    io.Out << json.Text();
    return 0;
}

int Inspect(std::span<const std::string> args, TCliStreams& io)
{
    bool lookup = false;
    bool attachments = false;
    const std::string* file = nullptr;
    for (const std::string& word : args) {
        if (word == "--lookup")
            lookup = true;
        else if (word == "--attachments")
            attachments = true;
        else if (file)
            throw TUsageError("inspect takes one message file.");
        else
            file = &word;
    }
    if (!file)
        throw TUsageError("inspect takes one message file.");
    if (lookup && attachments)
        throw TUsageError("inspect takes --lookup or --attachments, not both.");
    if (attachments)
        return InspectAttachments(*file, io);
    const std::string content = ReadMessageFile(*file, io);
    const retrieval::TParsedHeader parsed = retrieval::ParseMessageText(content);
    retrieval::TDecodeMail decoder;
    const std::int32_t size =
        content.size() > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(content.size());
    const accounts::TMailMessage& record = decoder.Decode(parsed, size, 0, retrieval::CacheNameOf(parsed));

    core::TJsonWriter json;
    json.BeginObject();
    json.Key("Priority").Int(record.Priority);
    json.Key("HasAttachments").Bool(record.HasAttachments);
    json.Key("FromName").String(record.FromName);
    json.Key("FromText").String(record.FromText);
    json.Key("Subject").String(record.Subject);
    json.Key("FromAddress").String(record.FromAddress);
    json.Key("Organization").String(record.Organization);
    json.Key("CcText").String(record.CcText);
    if (record.Sent == accounts::TMailMessage::NoDate) {
        json.Key("Sent").Null();
        json.Key("SentLocal").Null();
    } else {
        json.Key("Sent").Int(record.Sent);
        json.Key("SentLocal").String(LocalIsoText(record.Sent));
    }
    json.Key("Size").Int(record.Size);
    json.Key("ToText").String(record.ToText);
    json.Key("Number").Int(record.Number);
    json.Key("Fetched").Bool(record.Fetched);
    json.Key("CacheName").String(record.CacheName);
    json.Key("Trashed").Bool(record.Trashed);
    json.Key("UniqueId").String(record.UniqueId);
    std::vector<std::string> relays;
    classify::TDecodeIp(record.Headers).ExtractAddresses(relays);
    json.Key("Relays").BeginArray();
    for (const std::string& relay : relays)
        json.String(relay);
    json.EndArray();
    if (lookup) {
        // The classification a receive would give the message now: the current lists, the
        // enabled spam databases and the options.
        TInspectPrompter prompter(io.Err);
        classify::AddressLists().Load(core::Folders().DataFolder, prompter);
        classify::TDispatchMail classifier(accounts::TUserID{});
        const classify::TClassifyReport report = classifier.Explain(record);
        json.Key("Servers").BeginArray();
        for (const std::string& server : report.Servers)
            json.String(server);
        json.EndArray();
        json.Key("LookupText").String(report.LookupText);
        json.Key("Classification").String(classify::ResultName(report.Result));
        json.Key("Reason").String(classify::ReasonText(report));
        json.Key("Explanation").String(classify::ExplainText(report));
    }
    json.EndObject();
    io.Out << json.Text();
    return 0;
}

constexpr TCliCommand Commands[] = {
    {"inspect", "show the header record built from a message file, as JSON",
     R"(Usage: tarnwick-cli inspect FILE [--lookup | --attachments]

Reads a message file (a whole message or only its header, lines ending in LF
or CR LF; "-" reads standard input) and prints as JSON the header record that
Tarnwick builds from it when the message arrives from a server:
  Priority        6 high, 5 normal, 4 low
  HasAttachments  the last Content-Type line says multipart/mixed
  FromName, FromText, FromAddress, Subject, Organization, ToText, CcText
                  decoded to UTF-8 (encoded words, 8-bit charsets)
  Sent            milliseconds since 1970-01-01 UTC, null without a valid date
  SentLocal       the same in local time, ISO 8601 (set TZ to choose the zone)
  Size            the file's size in bytes
  Number          0: the file does not come from a server
  Fetched         the file holds a body after the header
  CacheName       the message's file name in the cache, without ".eml"
  Trashed, UniqueId  false and empty for a file
  Relays          the relay addresses of its Received lines

With --lookup the message is also classified as a receive would classify it
now, with the current address lists, the enabled spam databases and the
options: Servers (the zones asked), LookupText (their answers),
Classification (good, trash, spam, questionable), Reason (the sentence a
received message keeps) and Explanation.

With --attachments the message's parts are read as the attachment window
reads them, and the JSON lists its attachments instead: File, then for each
attachment Name (as the message gives it, decoded to UTF-8), SafeName (the
plain file name it is saved under), Position (the part's position among all
parts, text parts included, from 0), Size (decoded bytes) and Sha256 (of the
decoded bytes, hex).
)",
     Inspect},
};

} // namespace

std::span<const TCliCommand> InspectCommands()
{
    return Commands;
}

} // namespace tarnwick::app
