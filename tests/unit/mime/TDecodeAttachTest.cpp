#include "mime/TDecodeAttach.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "core/Errors.h"
#include "core/TextUtils.h"
#include "support/TTempHome.h"

using namespace tarnwick::mime;
using tarnwick::core::TFileError;
using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

namespace {

struct TExpected
{
    std::string Name;
    int Position;
    std::string Bytes; // the decoded content
};

// Lines joined with CR LF, as the cache stores them.
std::string CrLf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

unsigned ModeOf(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

unsigned CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

void ExpectEntries(const TDecodeAttach& decoded, const std::vector<TExpected>& expected,
                   const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(decoded.Attachments().size(), expected.size());
    EXPECT_EQ(decoded.HasAttachments(), !expected.empty());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TAttachmentEntry& entry = decoded.Attachments()[i];
        EXPECT_EQ(entry.Name, expected[i].Name);
        EXPECT_EQ(entry.Position, expected[i].Position);
        EXPECT_EQ(ReadFileBytes(decoded.ContentPath(entry.Position)), expected[i].Bytes);
        EXPECT_EQ(decoded.DecodedSize(entry.Position), expected[i].Bytes.size());
    }
}

// Every test process removes the attachment folder it made, as the program does at exit.
class TFolderCleanup : public ::testing::Environment
{
public:
    void TearDown() override { RemoveAttachmentFolder(); }
};
[[maybe_unused]] ::testing::Environment* const Cleanup =
    ::testing::AddGlobalTestEnvironment(new TFolderCleanup);

} // namespace

TEST(DecodeAttach, FindsNamesPositionsAndExactBytesInTheFixtures)
{
    const struct
    {
        const char* File;
        std::vector<TExpected> Expected;
    } cases[] = {
        // The text part before it takes position 0.
        {"MixedPdf.eml", {{"a.pdf", 1, std::string("%PDF-1.4\n\0\xff tiny\n", 17)}}},
        {"GifNameOnly.eml", {{"x.gif", 0, std::string("GIF89a\x01\0\x01\0", 10)}}},
        // Further parameters stay in an unquoted name; ".." loses one dot.
        {"UnquotedName.eml", {{"a.txt; size=5", 0, "hello\r\n.dot\r\n"}}},
        {"AttachmentWithoutName.eml", {{"", 1, "raw\r\n"}}},
        // The alternative part and both of its parts count.
        {"AlternativeInMixed.eml", {{"doc.txt", 3, "the doc\r\n"}}},
        {"SingleBase64.eml", {}},
        // Two words, the blank between them dropped.
        {"Latin1Name.eml",
         {{"Gr\xC3\xBC\xC3\x9F"
           "e.txt",
           0, "Hallo\r\n"}}},
        // Soft breaks join lines; "=ZZ" is no byte and stays.
        {"QuotedPrintable.eml", {{"q.txt", 0, "abcdef==ghi\r\n=ZZ end\xC3\xBC\r\n"}}},
        {"NoBlankAfterColon.eml", {{"found.txt", 1, "found\r\n"}}},
        {"ContinuationLines.eml", {{"long name.txt", 0, "folded\r\n"}}},
    };
    for (const auto& c : cases) {
        const TDecodeAttach decoded(Fixture(std::string("mime/attach/") + c.File));
        ExpectEntries(decoded, c.Expected, c.File);
    }
}

TEST(DecodeAttach, FollowsTheLineRulesOnWrittenMessages)
{
    const struct
    {
        const char* What;
        std::string Message;
        std::vector<TExpected> Expected;
    } cases[] = {
        {"no empty line: every line is header and body too",
         "Content-Type: multipart/mixed; boundary=b\n--b\nContent-Type: text/plain; name=n.txt\n",
         {{"n.txt", 0, ""}}},
        {"the first Content-Type of the message counts",
         CrLf({"Content-Type: multipart/mixed; boundary=one", "Content-Type: multipart/mixed; boundary=two",
               "", "--two", "Content-Type: a/b; name=wrong", "", "x", "--one",
               "Content-Type: a/b; name=right", "", "y", "--one--"}),
         {{"right", 0, "y\r\n"}}},
        {"a line \".\" ends the message",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: a/b; name=before", "",
               "kept", ".", "--b", "Content-Type: a/b; name=after", "", "lost"}),
         {{"before", 0, "kept\r\n"}}},
        {"padding in the middle and characters outside the alphabet",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: a/b; name=p",
               "Content-Transfer-Encoding: BASE64", "", "QQ==QU!I=", "", "Q*U*J*D", "RA", "--b--"}),
         {{"p", 0, "AABABCD"}}},
        {"no final boundary: the content runs to the end",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: a/b; name=open", "",
               "one", "two"}),
         {{"open", 0, "one\r\ntwo\r\n"}}},
        {"boundary lines are compared without regard to case; a closed boundary starts no more parts",
         CrLf({"Content-Type: multipart/mixed; boundary=Mix", "", "--MIX", "Content-Type: a/b; name=in", "",
               "i", "--mix--", "--Mix", "Content-Type: a/b; name=again", "", "j", "--Mix--"}),
         {{"in", 0, "i\r\n"}}},
        {"an empty filename falls back to the type's name",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b",
               "Content-Type: a/b; name=\"typed.bin\"", "Content-Disposition: attachment; filename=", "", "z",
               "--b--"}),
         {{"typed.bin", 0, "z\r\n"}}},
        {"encoded words in charsets other than ISO-* and WINDOWS-* stay as written",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b",
               "Content-Type: a/b; name=\"=?UTF-8?Q?x=C3=BC?= =?windows-1252?Q?=80?=\"", "", "z", "--b--"}),
         {{"=?UTF-8?Q?x=C3=BC?= \xE2\x82\xAC", 0, "z\r\n"}}},
        {"a continuation as the part's first header line stands alone",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", " Content-Type: a/b; name=lead", "",
               "z", "--b--"}),
         {{"lead", 0, "z\r\n"}}},
        {"a part header cut by \".\" makes no part",
         CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: a/b; name=cut", "."}),
         {}},
        {"a folded message boundary is pushed line by line; the last one opens the parts",
         CrLf({"Content-Type: multipart/mixed; boundary=\"split", " here\"", "", "--split here",
               "Content-Type: a/b; name=f", "", "z", "--split here--"}),
         {{"f", 0, "z\r\n"}}},
    };
    for (const auto& c : cases) {
        TTempHome home(false);
        WriteFileBytes(home / "m.eml", c.Message);
        const TDecodeAttach decoded(home / "m.eml");
        ExpectEntries(decoded, c.Expected, c.What);
    }
}

TEST(SafeFileName, NeverYieldsAPathAndKeepsWhatIsSafe)
{
    const std::string longStem(300, 'a');
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xC3\xA9";
    const struct
    {
        std::string Name;
        int Position;
        std::string Expected;
    } cases[] = {
        {"../../x", 0, "x"},
        {"/etc/passwd", 0, "passwd"},
        {"C:\\Users\\me\\evil.exe", 0, "evil.exe"},
        {".bashrc", 0, "bashrc"},
        {"a\x01"
         "b\x7f"
         "c\xC2\x85"
         "d",
         0, "abcd"},
        {"", 3, "attachment-4"},
        {"..", 0, "attachment-1"},
        {"dir/", 1, "attachment-2"},
        {" . . ", 0, "attachment-1"},
        {"name. . ", 0, "name"},
        {"\xFF\xFEok.txt", 0, "__ok.txt"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e.txt",
         0,
         "Gr\xC3\xBC\xC3\x9F"
         "e.txt"},
        {"a.txt; size=5", 0, "a.txt; size=5"},
        {longStem + ".pdf", 0, std::string(251, 'a') + ".pdf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeFileName(c.Name, c.Position), c.Expected) << c.Name;

    // Long names are cut at a character boundary, keeping a short extension.
    for (const std::string& name : {accents + ".pdf", accents, accents + "." + accents}) {
        const std::string safe = SafeFileName(name, 0);
        EXPECT_LE(safe.size(), 255u);
        EXPECT_GE(safe.size(), 250u);
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(safe)) << safe;
        if (name.ends_with(".pdf")) {
            EXPECT_TRUE(safe.ends_with(".pdf")) << safe;
        }
    }
}

TEST(DecodeAttach, SavesIntoTheChosenFolderOnlyAndReplacesTheFile)
{
    TTempHome home(false);
    std::filesystem::create_directory(home / "inbox");
    std::filesystem::create_directory(home / "save");
    WriteFileBytes(
        home / "inbox/m.eml",
        CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: text/plain", "", "text",
              "--b", "Content-Disposition: attachment; filename=\"../../escape.txt\"", "", "payload", "--b",
              "Content-Disposition: attachment; filename=\"/etc/passwd\"", "", "pw", "--b",
              "Content-Disposition: attachment; filename=" + std::string(300, 'n') + ".txt", "", "long",
              "--b--"}));
    const TDecodeAttach decoded(home / "inbox/m.eml");
    ASSERT_EQ(decoded.Attachments().size(), 3u);
    for (const TAttachmentEntry& entry : decoded.Attachments()) {
        const std::string target = home / ("save/" + SafeFileName(entry.Name, entry.Position));
        WriteFileBytes(target, "an older file that is longer");
        EXPECT_TRUE(decoded.SaveAttachment(target, entry.Position));
    }
    EXPECT_EQ(ReadFileBytes(home / "save/escape.txt"), "payload\r\n");
    EXPECT_EQ(ReadFileBytes(home / "save/passwd"), "pw\r\n");
    // A name of the longest length still saves: the temporary copy's name is short.
    EXPECT_EQ(ReadFileBytes(home / ("save/" + std::string(251, 'n') + ".txt")), "long\r\n");
    EXPECT_EQ(ModeOf(home / "save/passwd"), 0666u & ~CurrentUmask()) << "the usual mode of a new file";
    std::vector<std::string> saved;
    for (const auto& item : std::filesystem::recursive_directory_iterator(home.Path()))
        saved.push_back(item.path().string());
    EXPECT_EQ(saved.size(), 6u) << "only inbox, save and their files, no temporary copies";

    // The text part is no attachment: nothing is written.
    EXPECT_FALSE(decoded.SaveAttachment(home / "save/text", 0));
    EXPECT_FALSE(decoded.SaveAttachment(home / "save/text", 7));
    EXPECT_FALSE(std::filesystem::exists(home / "save/text"));
    EXPECT_EQ(decoded.ContentPath(0), "");
    EXPECT_EQ(decoded.DecodedSize(-1), 0u);

    // A target that cannot be written names itself and the reason.
    for (const std::string& target : {home / "missing/x.txt", home / "save"}) {
        try {
            decoded.SaveAttachment(target, 1);
            ADD_FAILURE() << "no error for " << target;
        } catch (const TFileError& error) {
            EXPECT_NE(std::string(error.what()).find(target), std::string::npos) << error.what();
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(home / "save"));
}

TEST(DecodeAttach, AnUnreadableFileIsAnErrorNamingIt)
{
    TTempHome home(false);
    for (const std::string& path : {home / "missing.eml", home.Path()}) {
        try {
            TDecodeAttach decoded(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const TFileError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find("\"" + path + "\""), std::string::npos) << text;
            EXPECT_NE(text.find(": "), std::string::npos) << "the system's reason: " << text;
        }
    }
}

TEST(DecodeAttach, PartsAreBoundedAndLargePartsStreamed)
{
    TTempHome home(false);
    {
        // 12,000 parts: only the first 10,000 are read; the attachment after them is not made.
        std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
        for (int i = 0; i < 12000; ++i)
            message += i == 5       ? "--b\r\nContent-Type: a/b; name=early\r\n\r\nx\r\n"
                       : i == 11000 ? "--b\r\nContent-Type: a/b; name=late\r\n\r\nx\r\n"
                                    : "--b\r\nContent-Type: text/plain\r\n\r\nx\r\n";
        WriteFileBytes(home / "many.eml", message);
        const TDecodeAttach decoded(home / "many.eml");
        EXPECT_EQ(decoded.PartCount(), MaxAttachParts);
        ASSERT_EQ(decoded.Attachments().size(), 1u);
        EXPECT_EQ(decoded.Attachments()[0].Name, "early");
    }
    {
        // Boundaries nested 100 deep: the stack keeps 64 and nothing breaks.
        std::string message = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
        for (int i = 0; i < 100; ++i)
            message += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" +
                       std::to_string(i + 1) + "\r\n\r\n";
        message += "--b100\r\nContent-Type: a/b; name=deep\r\n\r\nx\r\n";
        WriteFileBytes(home / "deep.eml", message);
        const TDecodeAttach decoded(home / "deep.eml");
        EXPECT_LE(decoded.PartCount(), 101);
    }
    {
        // A 50 MB base64 part decodes into its file; the whole message is read in a few seconds.
        const std::string line =
            "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0";
        const std::size_t lines = 920000; // 57 bytes each
        {
            std::ofstream out(home / "big.eml", std::ios::binary);
            out << "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                   "Content-Type: application/octet-stream; name=big.bin\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n";
            for (std::size_t i = 0; i < lines; ++i)
                out << line << "\r\n";
            out << "--b--\r\n";
        }
        const auto start = std::chrono::steady_clock::now();
        const TDecodeAttach decoded(home / "big.eml");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(decoded.Attachments().size(), 1u);
        EXPECT_EQ(decoded.DecodedSize(0), lines * 57);
        EXPECT_EQ(std::filesystem::file_size(decoded.ContentPath(0)), lines * 57);
        std::ifstream in(decoded.ContentPath(0), std::ios::binary);
        std::string head(57, '\0');
        in.read(head.data(), 57);
        EXPECT_EQ(head, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz01234");
        EXPECT_LT(seconds, 60.0);
    }
}

TEST(DecodeAttach, ManyShortLinesCostNoMoreMemoryThanTheirBytes)
{
    // 40 MB of empty lines inside a part: kept as one line table, they would take 16 bytes each.
    TTempHome home(false);
    const std::size_t lines = 40u << 20;
    {
        std::ofstream out(home / "blank.eml", std::ios::binary);
        out << "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: a/b; name=blank\n\n";
        const std::string chunk(1u << 20, '\n');
        for (std::size_t i = 0; i < lines / chunk.size(); ++i)
            out << chunk;
        out << "--b--\n";
    }
    const TDecodeAttach decoded(home / "blank.eml");
    ASSERT_EQ(decoded.Attachments().size(), 1u);
    // Each empty line after the part header is content: CR LF.
    EXPECT_EQ(decoded.DecodedSize(0), lines * 2);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory hides the reader's";
#else
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_SELF, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 300L * 1024) << "peak resident size in KiB";
#endif
}

TEST(DecodeAttach, KeepsDecodedFilesPrivateAndRemovesThem)
{
    TTempHome runtime(false);
    const char* before = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = before ? before : "";
    RemoveAttachmentFolder();
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);

    std::string path;
    std::string folder;
    {
        const TDecodeAttach decoded(Fixture("mime/attach/MixedPdf.eml"));
        path = decoded.ContentPath(1);
        folder = AttachmentFolder();
        EXPECT_EQ(folder.rfind(runtime.Path() + "/", 0), 0u) << folder;
        EXPECT_EQ(std::filesystem::path(path).parent_path().string(), folder);
        EXPECT_TRUE(path.ends_with(".pdf")) << "the extension lets a program open it: " << path;
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_EQ(ModeOf(folder), 0700u);
    }
    EXPECT_FALSE(std::filesystem::exists(path)) << "the destructor removes its files";
    EXPECT_TRUE(std::filesystem::exists(folder));
    RemoveAttachmentFolder();
    EXPECT_FALSE(std::filesystem::exists(folder));
    const std::string next = AttachmentFolder();
    EXPECT_NE(next, folder) << "a new folder after removal";
    RemoveAttachmentFolder();

    if (before)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}
