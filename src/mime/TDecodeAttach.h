#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::mime {

// An attachment part of a message as the attachment list shows it.
struct TAttachmentEntry
{
    std::string Name; // the name as the message gives it, UTF-8
    int Position = 0; // the part's position among all parts, text parts included, from 0
};

// One decoded message: reads the cache file at once, splits it into parts, decodes attachment
// parts into files of a private temporary folder. Throws core::TFileError (the path and the
// system's reason) when the file cannot be read. Never throws for malformed content.
class TDecodeAttach
{
public:
    explicit TDecodeAttach(const std::string& cacheFile);
    ~TDecodeAttach(); // removes its temporary files
    TDecodeAttach(const TDecodeAttach&) = delete;
    TDecodeAttach& operator=(const TDecodeAttach&) = delete;

    const std::vector<TAttachmentEntry>& Attachments() const;
    bool HasAttachments() const;
    // The decoded bytes of the attachment part at `position`: their size and the file holding them
    // (empty path when `position` is no attachment part).
    std::uint64_t DecodedSize(int position) const;
    std::string ContentPath(int position) const;
    // Copies the decoded content of the attachment part at `position` to `targetPath`, replacing a
    // file there (the caller asks first). Throws core::TFileError on failure (path + reason);
    // returns false, doing nothing, when `position` is not an attachment part.
    bool SaveAttachment(const std::string& targetPath, int position) const;

    // The number of parts found, text parts included.
    int PartCount() const { return static_cast<int>(Parts_.size()); }

private:
    struct TPart
    {
        bool IsAttachment = false;
        std::string Name;
        std::string Text; // a text part's content, bounded
        std::string Path; // an attachment part's decoded content
        std::uint64_t Size = 0;
    };
    class TReader;
    const TPart* FindAttachment(int position) const;

    std::vector<TPart> Parts_;
    std::vector<TAttachmentEntry> Attachments_;
    std::string BodyText_; // the top-level body lines, bounded
};

// At most this many parts are made; the rest of the message is read as body and ignored.
inline constexpr int MaxAttachParts = 10000;
// At most this many boundaries are open at once.
inline constexpr std::size_t MaxBoundaryDepth = 64;
// A text part keeps at most this many bytes of its content.
inline constexpr std::size_t MaxPartText = 1u << 20;

// A plain file name for saving an attachment: never a path. Directory parts ("/", "\"), "..",
// leading dots, control characters (C0, DEL, C1), characters invalid in UTF-8 are removed or
// replaced; trailing dots/blanks trimmed; at most 255 bytes (cut at a UTF-8 boundary, keeping
// the extension when it can); a name empty after cleaning becomes "attachment-<position+1>".
std::string SafeFileName(std::string_view name, int position);

// The private folder of this process for decoded attachments ($XDG_RUNTIME_DIR or the temporary
// folder, created 0700 on first use with mkdtemp) and its removal (the program calls it at exit).
std::string AttachmentFolder();
void RemoveAttachmentFolder() noexcept;

} // namespace tarnwick::mime
