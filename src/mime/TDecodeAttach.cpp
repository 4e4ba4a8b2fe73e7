#include "mime/TDecodeAttach.h"

#include "core/Errors.h"

namespace tarnwick::mime {

TDecodeAttach::TDecodeAttach(const std::string& cacheFile)
{
    throw core::TFileError(cacheFile + ": attachment reading is not yet available");
}

TDecodeAttach::~TDecodeAttach() = default;

const std::vector<TAttachmentEntry>& TDecodeAttach::Attachments() const
{
    return Attachments_;
}

bool TDecodeAttach::HasAttachments() const
{
    return !Attachments_.empty();
}

const TDecodeAttach::TPart* TDecodeAttach::FindAttachment(int position) const
{
    if (position < 0 || position >= static_cast<int>(Parts_.size()) || !Parts_[position].IsAttachment)
        return nullptr;
    return &Parts_[position];
}

std::uint64_t TDecodeAttach::DecodedSize(int position) const
{
    const TPart* part = FindAttachment(position);
    return part ? part->Size : 0;
}

std::string TDecodeAttach::ContentPath(int position) const
{
    const TPart* part = FindAttachment(position);
    return part ? part->Path : std::string();
}

bool TDecodeAttach::SaveAttachment(const std::string& targetPath, int) const
{
    throw core::TFileError(targetPath + ": attachment saving is not yet available");
}

std::string SafeFileName(std::string_view, int position)
{
    return "attachment-" + std::to_string(position + 1);
}

std::string AttachmentFolder()
{
    throw core::TFileError("attachment folder: not yet available");
}

void RemoveAttachmentFolder() noexcept {}

} // namespace tarnwick::mime
