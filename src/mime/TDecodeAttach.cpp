#include "mime/TDecodeAttach.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Errors.h"
#include "core/TextUtils.h"
#include "mime/ReadWholeFile.h"
#include "retrieval/GMimeSupport.h"
#include "retrieval/HeaderText.h"

namespace tarnwick::mime {

namespace gmime = retrieval::gmime;

namespace {

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, const char* verb,
                                 int error)
{
    throw core::TFileError("The " + what + " " + Quoted(path) + " cannot be " + verb + ": " +
                           std::strerror(error));
}

// The lines of the file one after the other, each without its LF and a CR before it. A last line
// without LF counts; an LF at the very end does not begin another line. Lines are found as they
// are read, so a file of many short lines costs no more memory than its bytes.
class TLineCursor
{
public:
    explicit TLineCursor(std::string_view text)
        : Text_(text)
    {}
    bool More() const { return Pos_ < Text_.size(); }
    std::string_view Next()
    {
        std::size_t end = Text_.find('\n', Pos_);
        const std::size_t next = end == std::string_view::npos ? Text_.size() : end + 1;
        if (end == std::string_view::npos)
            end = Text_.size();
        std::string_view line = Text_.substr(Pos_, end - Pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        Pos_ = next;
        return line;
    }
    void Restart() { Pos_ = 0; }

private:
    std::string_view Text_;
    std::size_t Pos_ = 0;
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return core::AsciiEqualNoCase(a, b);
}

bool ContainsNoCase(std::string_view text, std::string_view word)
{
    return core::AsciiUpper(text).find(core::AsciiUpper(word)) != std::string::npos;
}

// One header line as name and value: the name is the text before the first ": " (colon and blank),
// the value the text after it. A line without ": " has no name and is never found.
struct THeaderLine
{
    std::string Line;
    std::size_t Split = std::string::npos; // where ": " began in the line as written
};

class THeaderList
{
public:
    // A line of its own: its first ": " separates name and value.
    void Add(std::string_view line)
    {
        THeaderLine entry{std::string(line), line.find(": ")};
        Lines_.push_back(std::move(entry));
    }
    // A continuation: appended after one blank to the line before; with none, a line of its own.
    void Continue(std::string_view rest)
    {
        if (Lines_.empty()) {
            Add(rest);
            return;
        }
        Lines_.back().Line += ' ';
        Lines_.back().Line += rest;
    }
    std::size_t Size() const { return Lines_.size(); }
    bool LastIs(std::string_view name) const
    {
        const THeaderLine& entry = Lines_.back();
        return entry.Split != std::string::npos &&
               EqualNoCase(std::string_view(entry.Line).substr(0, entry.Split), name);
    }
    // The index of the first line with that name (no case), or npos.
    std::size_t Find(std::string_view name) const
    {
        for (std::size_t i = 0; i < Lines_.size(); ++i) {
            const THeaderLine& entry = Lines_[i];
            if (entry.Split != std::string::npos &&
                EqualNoCase(std::string_view(entry.Line).substr(0, entry.Split), name))
                return i;
        }
        return std::string::npos;
    }
    std::string_view Value(std::size_t index) const
    {
        if (index >= Lines_.size())
            return {};
        const THeaderLine& entry = Lines_[index];
        return std::string_view(entry.Line).substr(entry.Split + 2);
    }
    std::string_view Value(std::string_view name) const { return Value(Find(name)); }

private:
    std::vector<THeaderLine> Lines_;
};

bool IsContinuation(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// The boundary of a Content-Type value: the text after "BOUNDARY=" (found without regard to case);
// between double quotes when it starts with one, else the rest of the value.
std::string BoundaryOf(std::string_view contentType)
{
    const std::size_t at = core::AsciiUpper(contentType).find("BOUNDARY=");
    if (at == std::string::npos)
        return {};
    std::string_view rest = contentType.substr(at + 9);
    if (!rest.empty() && rest[0] == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(rest);
}

// The text after the first `word` (found in an upper-case copy), `skip` characters on; between
// double quotes when it starts with one.
std::string ParameterText(std::string_view value, std::string_view word, std::size_t skip)
{
    const std::size_t at = core::AsciiUpper(value).find(word);
    if (at == std::string::npos || at + skip >= value.size())
        return {};
    return std::string(value.substr(at + skip));
}

std::string Unquoted(std::string_view text)
{
    if (text.empty() || text[0] != '"')
        return std::string(text);
    text.remove_prefix(1);
    return std::string(text.substr(0, text.find('"')));
}

// An encoded word "=?charset?B|Q?payload?=" starting at `at`: its length, or 0 when there is none.
// Charset and payload hold no blanks, no control characters and no "?".
std::size_t EncodedWordLength(std::string_view text, std::size_t at, std::string_view& charset)
{
    if (text.compare(at, 2, "=?") != 0)
        return 0;
    auto token = [&](std::size_t from) {
        std::size_t i = from;
        while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' && text[i] != '?' &&
               text[i] != 0x7F)
            ++i;
        return i;
    };
    const std::size_t charsetEnd = token(at + 2);
    if (charsetEnd == at + 2 || charsetEnd + 2 >= text.size() || text[charsetEnd] != '?')
        return 0;
    const char encoding = text[charsetEnd + 1];
    if ((encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') ||
        text[charsetEnd + 2] != '?')
        return 0;
    const std::size_t payloadEnd = token(charsetEnd + 3);
    if (payloadEnd + 1 >= text.size() || text[payloadEnd] != '?' || text[payloadEnd + 1] != '=')
        return 0;
    charset = text.substr(at + 2, charsetEnd - at - 2);
    return payloadEnd + 2 - at;
}

// The name with its encoded words in ISO-* and WINDOWS-* charsets decoded (blanks between two of
// them dropped, as RFC 2047 says); other words stay as written. The result is valid UTF-8.
std::string DecodeName(std::string_view name)
{
    if (name.find("=?") == std::string_view::npos)
        return retrieval::Utf8Text(name);
    gmime::EnsureInitialized();
    std::string out;
    std::string pendingBlanks;
    bool afterWord = false;
    for (std::size_t i = 0; i < name.size();) {
        std::string_view charset;
        const std::size_t length = EncodedWordLength(name, i, charset);
        const std::string upper = core::AsciiUpper(charset);
        if (length > 0 && (upper.starts_with("ISO") || upper.starts_with("WINDOWS"))) {
            const std::string word(name.substr(i, length));
            gmime::TGCharPtr decoded(g_mime_utils_header_decode_text(gmime::HeaderOptions(), word.c_str()));
            if (!afterWord)
                out += pendingBlanks;
            pendingBlanks.clear();
            out += decoded ? decoded.get() : word.c_str();
            afterWord = true;
            i += length;
            continue;
        }
        if (name[i] == ' ' || name[i] == '\t') {
            pendingBlanks += name[i++];
            continue;
        }
        out += pendingBlanks;
        pendingBlanks.clear();
        afterWord = false;
        const std::size_t take = length > 0 ? length : 1;
        out.append(name.substr(i, take));
        i += take;
    }
    out += pendingBlanks;
    return retrieval::Utf8Text(out);
}

// Base64 as mail writes it, decoded piece by piece: characters outside the alphabet are skipped, a
// "=" ends the current group of four (so padding in the middle does not stop the decoding).
class TBase64Decoder
{
public:
    void Decode(std::string_view text, std::string& out)
    {
        for (const char c : text) {
            const int value = core::Base64DigitValue(c);
            if (c == '=') {
                Flush(out);
                continue;
            }
            if (value < 0)
                continue;
            Bits_ = (Bits_ << 6) | static_cast<unsigned>(value);
            if (++Count_ == 4) {
                out += static_cast<char>((Bits_ >> 16) & 0xFF);
                out += static_cast<char>((Bits_ >> 8) & 0xFF);
                out += static_cast<char>(Bits_ & 0xFF);
                Bits_ = 0;
                Count_ = 0;
            }
        }
    }
    // The bytes of an incomplete last group: two characters give one byte, three give two.
    void Flush(std::string& out)
    {
        if (Count_ == 2) {
            out += static_cast<char>((Bits_ >> 4) & 0xFF);
        } else if (Count_ == 3) {
            out += static_cast<char>((Bits_ >> 10) & 0xFF);
            out += static_cast<char>((Bits_ >> 2) & 0xFF);
        }
        Bits_ = 0;
        Count_ = 0;
    }

private:
    unsigned Bits_ = 0;
    int Count_ = 0;
};

// One line of quoted-printable followed by CR LF: "=XY" is a byte, "=" before the line end a soft
// break that joins the next line; any other "=" stays as written.
void DecodeQuotedPrintableLine(std::string_view line, std::string& out)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '=') {
            out += line[i];
            continue;
        }
        if (i + 1 == line.size())
            return; // soft break: no CR LF
        const int high = i + 2 < line.size() ? core::HexDigitValue(line[i + 1]) : -1;
        const int low = high >= 0 ? core::HexDigitValue(line[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += '=';
        }
    }
    out += "\r\n";
}

enum class TEncoding
{
    None,
    Base64,
    QuotedPrintable
};

TEncoding EncodingOf(std::string_view transferEncoding)
{
    if (ContainsNoCase(transferEncoding, "base64"))
        return TEncoding::Base64;
    if (ContainsNoCase(transferEncoding, "quoted-printable"))
        return TEncoding::QuotedPrintable;
    return TEncoding::None;
}

// Appends to a bounded text: what goes beyond `limit` is dropped.
void AppendBounded(std::string& text, std::string_view more, std::size_t limit)
{
    if (text.size() < limit)
        text.append(more.substr(0, limit - text.size()));
}

// A new file of the attachment folder, 0600, written through a buffer.
class TContentFile
{
public:
    explicit TContentFile(std::string_view extension)
    {
        std::string pattern = AttachmentFolder() + "/part-XXXXXX";
        const std::size_t suffix = extension.size();
        pattern += extension;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        Fd_ = ::mkostemps(name.data(), static_cast<int>(suffix), O_CLOEXEC);
        if (Fd_ < 0)
            ThrowFileError("attachment file", pattern, "created", errno);
        Path_ = name.data();
    }
    // A file that was not completed is removed again.
    ~TContentFile()
    {
        if (Fd_ >= 0)
            ::close(Fd_);
        if (!Complete_)
            ::unlink(Path_.c_str());
    }
    TContentFile(const TContentFile&) = delete;
    TContentFile& operator=(const TContentFile&) = delete;

    std::string& Buffer() { return Buffer_; }
    // Writes the buffer out once it is large, or always when `all`.
    void Drain(bool all)
    {
        if (!all && Buffer_.size() < (1u << 16))
            return;
        std::size_t done = 0;
        while (done < Buffer_.size()) {
            const ssize_t wrote = ::write(Fd_, Buffer_.data() + done, Buffer_.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0)
                ThrowFileError("attachment file", Path_, "written", errno);
            done += static_cast<std::size_t>(wrote);
        }
        Size_ += Buffer_.size();
        Buffer_.clear();
    }
    void Close()
    {
        Drain(true);
        const int fd = Fd_;
        Fd_ = -1;
        if (::close(fd) != 0)
            ThrowFileError("attachment file", Path_, "written", errno);
        Complete_ = true;
    }
    const std::string& Path() const { return Path_; }
    std::uint64_t Size() const { return Size_; }

private:
    int Fd_ = -1;
    std::string Path_;
    std::string Buffer_;
    std::uint64_t Size_ = 0;
    bool Complete_ = false;
};

// The extension of a safe name, for the content file, when it is short and plain.
std::string ContentExtension(const std::string& safeName)
{
    const std::size_t dot = safeName.rfind('.');
    if (dot == std::string::npos || dot == 0 || safeName.size() - dot > 16)
        return {};
    for (std::size_t i = dot + 1; i < safeName.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(safeName[i]);
        if (!(std::isalnum(c) || c == '-' || c == '_'))
            return {};
    }
    return safeName.substr(dot);
}

std::mutex FolderMutex;
std::string FolderPath;

} // namespace

// The line reader of one message: a cursor over its lines and the stack of open boundaries.
class TDecodeAttach::TReader
{
public:
    TReader(TDecodeAttach& owner, std::string_view text)
        : Owner_(owner)
        , Lines_(text)
    {}

    void Read()
    {
        ReadMessageHeader();
        ScanBody();
    }

private:
    enum class TEnd
    {
        NextPart,
        Closed,
        Message
    };

    void Push(const std::string& boundary)
    {
        if (boundary.empty() || Stack_.size() >= MaxBoundaryDepth ||
            (!Stack_.empty() && Stack_.back() == boundary))
            return;
        Stack_.push_back(boundary);
    }
    const std::string& Top() const
    {
        static const std::string None;
        return Stack_.empty() ? None : Stack_.back();
    }

    bool IsEnd(std::string_view line) const { return line == "."; }
    static bool IsBoundary(std::string_view line, std::string_view boundary)
    {
        return line.size() == boundary.size() + 2 && line.starts_with("--") &&
               EqualNoCase(line.substr(2), boundary);
    }
    static bool IsClosing(std::string_view line, std::string_view boundary)
    {
        return line.size() == boundary.size() + 4 && line.starts_with("--") && line.ends_with("--") &&
               EqualNoCase(line.substr(2, boundary.size()), boundary);
    }

    // The header block: every line before the first empty line. After each line the content type
    // is read again and a boundary in it pushed. Only the first Content-Type line and its
    // continuations can change it, so only they are looked at.
    void ReadMessageHeader()
    {
        THeaderList header;
        std::size_t typeLine = std::string::npos;
        bool emptyLine = false;
        while (Lines_.More()) {
            const std::string_view line = Lines_.Next();
            if (line.empty()) {
                emptyLine = true;
                break;
            }
            bool typeChanged = false;
            if (IsContinuation(line) && header.Size() > 0) {
                header.Continue(line.substr(1));
                typeChanged = typeLine == header.Size() - 1;
            } else {
                header.Add(IsContinuation(line) ? line.substr(1) : line);
                if (typeLine == std::string::npos && header.LastIs("Content-Type")) {
                    typeLine = header.Size() - 1;
                    typeChanged = true;
                }
            }
            if (typeChanged)
                MessageTypeChanged(header.Value(typeLine));
        }
        const std::string encoding = core::AsciiLower(core::Trim(header.Value("Content-Transfer-Encoding")));
        if (encoding == "base64")
            BodyEncoding_ = TEncoding::Base64;
        else if (encoding == "quoted-printable")
            BodyEncoding_ = TEncoding::QuotedPrintable;
        if (!emptyLine)
            Lines_.Restart(); // every line is a body line too
    }

    // The message's content type grew by a line: the boundary in it, when there is one, is
    // pushed. "BOUNDARY=" is looked for in the new text only, and a quoted boundary once closed
    // cannot change any more, so a long folded value costs no more than reading it.
    void MessageTypeChanged(std::string_view value)
    {
        if (TypeSettled_ || Stack_.size() >= MaxBoundaryDepth)
            return;
        if (BoundaryAt_ == std::string::npos) {
            const std::size_t from = TypeSearched_ >= 8 ? TypeSearched_ - 8 : 0;
            const std::size_t at = core::AsciiUpper(value.substr(from)).find("BOUNDARY=");
            TypeSearched_ = value.size();
            if (at == std::string::npos)
                return;
            BoundaryAt_ = from + at;
        }
        std::string_view rest = value.substr(BoundaryAt_ + 9);
        if (rest.starts_with('"')) {
            const std::size_t close = rest.find('"', 1);
            TypeSettled_ = close != std::string_view::npos;
            rest = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        }
        Push(std::string(rest));
    }

    void ScanBody()
    {
        while (Lines_.More()) {
            const std::string_view line = Lines_.Next();
            if (IsEnd(line))
                return;
            if (line.size() >= 2 && line.starts_with("--") && IsBoundary(line, Top())) {
                if (!ReadParts())
                    return;
                continue;
            }
            if (BodyEncoding_ != TEncoding::None) {
                ReadRestAsText(BodyEncoding_, line);
                return;
            }
            std::string_view text = line;
            if (text.starts_with(".."))
                text.remove_prefix(1);
            AppendBounded(Owner_.BodyText_, text, MaxPartText);
            AppendBounded(Owner_.BodyText_, "\r\n", MaxPartText);
        }
    }

    // The parts that follow a boundary line, one after the other; false when the message ended.
    bool ReadParts()
    {
        for (;;) {
            if (Owner_.Parts_.size() >= static_cast<std::size_t>(MaxAttachParts))
                return false;
            TPart part;
            std::string boundary = Top();
            TEncoding encoding = TEncoding::None;
            if (!ReadPartHeader(part, boundary, encoding))
                return false;
            const TEnd end = ReadPartBody(part, boundary, encoding);
            Owner_.Parts_.push_back(std::move(part));
            if (end == TEnd::Message)
                return false;
            if (end == TEnd::Closed)
                return true;
        }
    }

    // Lines up to and including the first empty line; false (no part) at a line ".".
    bool ReadPartHeader(TPart& part, std::string& boundary, TEncoding& encoding)
    {
        THeaderList header;
        while (Lines_.More()) {
            const std::string_view line = Lines_.Next();
            if (line.empty())
                break;
            if (IsEnd(line))
                return false;
            if (IsContinuation(line))
                header.Continue(line.substr(1));
            else
                header.Add(line);
        }
        const std::string_view type = header.Value("Content-Type");
        const std::string own = BoundaryOf(type);
        if (!own.empty()) {
            boundary = own;
            Push(own);
        }
        encoding = EncodingOf(header.Value("Content-Transfer-Encoding"));

        const std::string_view disposition = header.Value("Content-Disposition");
        const std::string dispositionType = core::Trim(disposition.substr(0, disposition.find(';')));
        if (!EqualNoCase(dispositionType, "attachment") &&
            core::AsciiUpper(type).find("NAME") == std::string::npos)
            return true;
        part.IsAttachment = true;
        std::string taken = ParameterText(disposition, "FILENAME", 9);
        if (taken.empty())
            taken = ParameterText(type, "NAME", 5);
        part.Name = DecodeName(Unquoted(taken));
        return true;
    }

    TEnd ReadPartBody(TPart& part, const std::string& boundary, TEncoding encoding)
    {
        std::optional<TContentFile> file;
        if (part.IsAttachment)
            file.emplace(ContentExtension(SafeFileName(part.Name, static_cast<int>(Owner_.Parts_.size()))));
        std::string scratch;
        std::string& out = file ? file->Buffer() : scratch;
        TBase64Decoder base64;
        TEnd end = TEnd::Message;
        while (Lines_.More()) {
            const std::string_view line = Lines_.Next();
            if (IsEnd(line))
                break;
            if (line.starts_with("--")) {
                if (IsBoundary(line, boundary)) {
                    end = TEnd::NextPart;
                    break;
                }
                if (IsClosing(line, boundary)) {
                    if (!Stack_.empty())
                        Stack_.pop_back();
                    end = TEnd::Closed;
                    break;
                }
            }
            AppendContent(line, encoding, base64, out);
            if (file)
                file->Drain(false);
            else
                Keep(part, out);
        }
        if (encoding == TEncoding::Base64)
            base64.Flush(out);
        if (file) {
            file->Close();
            part.Path = file->Path();
            part.Size = file->Size();
        } else {
            Keep(part, out);
        }
        return end;
    }

    static void AppendContent(std::string_view line, TEncoding encoding, TBase64Decoder& base64,
                              std::string& out)
    {
        switch (encoding) {
        case TEncoding::Base64:
            if (!line.empty())
                base64.Decode(line, out);
            break;
        case TEncoding::QuotedPrintable:
            DecodeQuotedPrintableLine(line, out);
            break;
        case TEncoding::None:
            if (line.starts_with('.'))
                line.remove_prefix(1);
            out.append(line);
            out += "\r\n";
            break;
        }
    }

    // A text part keeps the start of its content only.
    static void Keep(TPart& part, std::string& decoded)
    {
        AppendBounded(part.Text, decoded, MaxPartText);
        decoded.clear();
    }

    // The rest of an encoded single-part body: one text part.
    void ReadRestAsText(TEncoding encoding, std::string_view first)
    {
        TPart part;
        TBase64Decoder base64;
        std::string out;
        AppendContent(first, encoding, base64, out);
        Keep(part, out);
        while (Lines_.More()) {
            AppendContent(Lines_.Next(), encoding, base64, out);
            Keep(part, out);
        }
        base64.Flush(out);
        Keep(part, out);
        Owner_.Parts_.push_back(std::move(part));
    }

    TDecodeAttach& Owner_;
    TLineCursor Lines_;
    std::vector<std::string> Stack_;
    TEncoding BodyEncoding_ = TEncoding::None;
    std::size_t BoundaryAt_ = std::string::npos; // where "BOUNDARY=" is in the message's content type
    std::size_t TypeSearched_ = 0;
    bool TypeSettled_ = false;
};

TDecodeAttach::TDecodeAttach(const std::string& cacheFile)
{
    const std::string content = ReadWholeFile(cacheFile, "message file");
    try {
        TReader(*this, content).Read();
    } catch (...) {
        for (const TPart& part : Parts_)
            if (!part.Path.empty())
                ::unlink(part.Path.c_str());
        throw;
    }
    for (std::size_t i = 0; i < Parts_.size(); ++i)
        if (Parts_[i].IsAttachment)
            Attachments_.push_back({Parts_[i].Name, static_cast<int>(i)});
}

TDecodeAttach::~TDecodeAttach()
{
    for (const TPart& part : Parts_)
        if (!part.Path.empty())
            ::unlink(part.Path.c_str());
}

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

// The copy is written beside the target and renamed over it at the end, so a failure leaves an
// existing file as it was.
bool TDecodeAttach::SaveAttachment(const std::string& targetPath, int position) const
{
    const TPart* part = FindAttachment(position);
    if (!part)
        return false;
    const int in = ::open(part->Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        ThrowFileError("decoded attachment", part->Path, "read", errno);
    // The copy's name is short, so that a target name of 255 bytes still leaves room for it; the
    // mode 0666 gives it the usual permissions of a new file under the umask.
    const std::filesystem::path target(targetPath);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    static std::atomic<unsigned> Counter{0};
    std::string tempPath;
    int out = -1;
    for (int attempt = 0; out < 0 && attempt < 100; ++attempt) {
        tempPath = folder + "/.tarnwick-save-" + std::to_string(::getpid()) + "-" + std::to_string(Counter++);
        out = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0) {
        const int error = errno;
        ::close(in);
        ThrowFileError("attachment", targetPath, "saved", error);
    }
    const char* temp = tempPath.c_str();
    auto fail = [&](const std::string& path, const char* verb, int error) {
        ::close(in);
        ::close(out);
        ::unlink(temp);
        ThrowFileError(verb[0] == 'r' ? "decoded attachment" : "attachment", path, verb, error);
    };
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(part->Path, "read", errno);
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t wrote = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0)
                fail(targetPath, "saved", errno);
            done += wrote;
        }
    }
    ::close(in);
    if (::close(out) != 0) {
        const int error = errno;
        ::unlink(temp);
        ThrowFileError("attachment", targetPath, "saved", error);
    }
    if (::rename(temp, targetPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp);
        ThrowFileError("attachment", targetPath, "saved", error);
    }
    return true;
}

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte begins none.
std::size_t Utf8Length(std::string_view text, std::size_t at)
{
    const unsigned char c = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        length = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        length = 4;
    else
        return 0;
    if (at + length > text.size() || !core::IsValidUtf8(text.substr(at, length)))
        return 0;
    return length;
}

bool IsTrimmedAtEnd(char c)
{
    return c == '.' || c == ' ' || c == '\t';
}

// The longest start of `text` of at most `limit` bytes that ends at a character boundary.
std::string_view CutAtCharacter(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

std::string SafeFileName(std::string_view name, int position)
{
    // Only the last path component counts: "../../x" and "C:\dir\x" both give "x".
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string clean;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = Utf8Length(name, i);
        if (length == 0) {
            clean += '_';
            ++i;
            continue;
        }
        const unsigned char first = static_cast<unsigned char>(name[i]);
        const bool control = first < 0x20 || first == 0x7F ||
                             (length == 2 && first == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0);
        if (!control)
            clean.append(name.substr(i, length));
        i += length;
    }
    // No leading dots or blanks (no hidden file, no "." or ".."), no trailing ones either.
    std::size_t start = 0;
    while (start < clean.size() && (clean[start] == '.' || clean[start] == ' ' || clean[start] == '\t'))
        ++start;
    std::string_view result = std::string_view(clean).substr(start);
    while (!result.empty() && IsTrimmedAtEnd(result.back()))
        result.remove_suffix(1);

    constexpr std::size_t MaxName = 255;
    std::string cut;
    if (result.size() > MaxName) {
        const std::size_t dot = result.rfind('.');
        const std::size_t extension = dot == std::string_view::npos ? 0 : result.size() - dot;
        if (extension > 0 && extension <= 32) {
            std::string_view stem = CutAtCharacter(result.substr(0, dot), MaxName - extension);
            while (!stem.empty() && IsTrimmedAtEnd(stem.back()))
                stem.remove_suffix(1);
            cut = std::string(stem) + std::string(result.substr(dot));
        } else {
            std::string_view head = CutAtCharacter(result, MaxName);
            while (!head.empty() && IsTrimmedAtEnd(head.back()))
                head.remove_suffix(1);
            cut = std::string(head);
        }
        // A stem cut to nothing would leave a hidden name: ".pdf".
        if (cut.starts_with('.'))
            cut.clear();
    } else {
        cut = std::string(result);
    }
    if (cut.empty())
        return "attachment-" + std::to_string(static_cast<long long>(position) + 1);
    return cut;
}

std::string AttachmentFolder()
{
    std::lock_guard lock(FolderMutex);
    if (!FolderPath.empty())
        return FolderPath;
    std::string base;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info
    {};
    if (runtime && *runtime && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) &&
        ::access(runtime, W_OK | X_OK) == 0) {
        base = runtime;
    } else {
        std::error_code ec;
        base = std::filesystem::temp_directory_path(ec).string();
        if (ec || base.empty())
            base = "/tmp";
    }
    std::string pattern = base + "/tarnwick-attachments-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        ThrowFileError("attachment folder", pattern, "created", errno);
    FolderPath = name.data();
    return FolderPath;
}

void RemoveAttachmentFolder() noexcept
{
    std::lock_guard lock(FolderMutex);
    if (FolderPath.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(FolderPath, ec);
    FolderPath.clear();
}

} // namespace tarnwick::mime
