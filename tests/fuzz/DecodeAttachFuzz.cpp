// Feeds arbitrary bytes as a message file through the attachment reader. Besides the sanitizers'
// checks it stops when an attachment's safe file name could be a path or a hidden name, when the
// reader's bounds do not hold, or when a decoded file does not hold the size it reports.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "core/TextUtils.h"
#include "mime/TDecodeAttach.h"

using namespace tarnwick;

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "decode attach fuzz: %s\n", what);
        std::abort();
    }
}

// One input file, reused for every run of this process; its folder goes at exit.
const std::string& InputPath()
{
    static const std::string path = [] {
        std::atexit(mime::RemoveAttachmentFolder);
        return mime::AttachmentFolder() + "/fuzz-input.eml";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    Require(file != nullptr, "cannot write the input file");
    Require(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write the input");
    std::fclose(file);

    const mime::TDecodeAttach decoded(InputPath());
    Require(decoded.PartCount() <= mime::MaxAttachParts, "too many parts");
    for (const mime::TAttachmentEntry& entry : decoded.Attachments()) {
        Require(core::IsValidUtf8(entry.Name), "a name that is not UTF-8");
        const std::string safe = mime::SafeFileName(entry.Name, entry.Position);
        Require(!safe.empty() && safe.size() <= 255, "a safe name that is empty or too long");
        Require(safe.find('/') == std::string::npos, "a safe name with a slash");
        Require(safe != "." && safe != "..", "a safe name that is a folder");
        Require(!safe.starts_with('.'), "a hidden safe name");
        Require(core::IsValidUtf8(safe), "a safe name that is not UTF-8");
        const std::string path = decoded.ContentPath(entry.Position);
        Require(!path.empty(), "an attachment without its file");
        std::error_code ec;
        Require(std::filesystem::file_size(path, ec) == decoded.DecodedSize(entry.Position) && !ec,
                "a decoded file of another size");
    }
    // The name alone, as the save dialog would pass any text.
    const std::string direct = mime::SafeFileName(
        std::string_view(reinterpret_cast<const char*>(data), size < 1024 ? size : 1024), 0);
    Require(direct.find('/') == std::string::npos && direct != "." && direct != "..",
            "a direct name that is a path");
    return 0;
}
