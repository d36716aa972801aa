#include "app/tags/media_tag_editor.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/com/strings.h"
#include "platform/wmf/metadata_editor.h"
#include "testsupport/test_support.h"

namespace {

namespace fs = std::filesystem;
using quil::MediaTagEditor;
using quil::MediaTagRecord;
using quil::test::MakeTempDir;
using quil::test::ReadFile;
using quil::test::RunCommand;

enum class Format { Mp3, Wav, Wma };

const char* Extension(Format format) {
    return format == Format::Mp3 ? ".mp3" : format == Format::Wav ? ".wav" : ".wma";
}

fs::path MakeAudio(const fs::path& dir, const std::string& name, Format format,
                   const std::string& extra = "") {
    const char* codec = format == Format::Mp3   ? "-c:a libmp3lame -b:a 128k"
                        : format == Format::Wav ? "-c:a pcm_s16le"
                                                : "-c:a wmav2 -b:a 128k";
    fs::path path = dir / (name + Extension(format));
    std::string command = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -ac 2 " +
                          std::string(codec) + " -fflags +bitexact " + extra + " '" +
                          path.string() + "'";
    EXPECT_EQ(RunCommand(command), 0) << command;
    return path;
}

bool Decodes(const fs::path& path) {
    std::string errors;
    int status = RunCommand("ffmpeg -v error -i '" + path.string() + "' -f null - 2>&1", &errors);
    return status == 0 && errors.empty();
}

std::string ProbeTag(const fs::path& path, const std::string& key) {
    std::string out;
    RunCommand("ffprobe -v error -show_entries format_tags=" + key + " -of default=nw=1:nk=1 '" +
                   path.string() + "'",
               &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void SetText(char (&field)[quil::kTagTextSize], const std::string& text) {
    quil::CopyBounded(text, field, sizeof field);
}

// Sets one attribute straight through the platform editor, bypassing the record's bounds.
void SetAttribute(const fs::path& file, const std::wstring& name, WMT_ATTR_DATATYPE type,
                  const std::vector<BYTE>& value) {
    quil::ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(editor.Put()), S_OK);
    ASSERT_EQ(editor->Open(quil::Widen(file.string()).c_str()), S_OK);
    auto info = editor.As<IWMHeaderInfo>();
    ASSERT_EQ(
        info->SetAttribute(0, name.c_str(), type, value.data(), static_cast<WORD>(value.size())),
        S_OK);
    ASSERT_EQ(editor->Flush(), S_OK);
    ASSERT_EQ(editor->Close(), S_OK);
}

std::optional<DWORD> StoredDword(const fs::path& file, const std::wstring& name) {
    quil::ComPtr<IWMMetadataEditor> editor;
    WMCreateEditor(editor.Put());
    if (FAILED(editor->Open(quil::Widen(file.string()).c_str()))) return std::nullopt;
    auto info = editor.As<IWMHeaderInfo>();
    WORD stream = 0, length = sizeof(DWORD);
    WMT_ATTR_DATATYPE type{};
    DWORD value = 0;
    HRESULT hr = info->GetAttributeByName(&stream, name.c_str(), &type,
                                          reinterpret_cast<BYTE*>(&value), &length);
    if (FAILED(hr) || type != WMT_TYPE_DWORD) return std::nullopt;
    return value;
}

struct Captured {
    bool result;
    std::string output;
};

Captured Read(const fs::path& file, MediaTagRecord& record) {
    testing::internal::CaptureStdout();
    bool result = MediaTagEditor().ReadTags(file.c_str(), record);
    return {result, testing::internal::GetCapturedStdout()};
}

Captured Write(const fs::path& file, const MediaTagRecord& record) {
    testing::internal::CaptureStdout();
    bool result = MediaTagEditor().WriteTags(file.c_str(), record);
    return {result, testing::internal::GetCapturedStdout()};
}

MediaTagRecord FullRecord(const std::string& title) {
    MediaTagRecord record;
    SetText(record.szTitle, title);
    SetText(record.szAuthor, "Ärtist");
    SetText(record.szDescription, "Recorded live");
    SetText(record.szGenre, "Rock");
    SetText(record.szYear, "2004");
    SetText(record.szAlbumTitle, "Ålbum");
    SetText(record.szCopyright, "© Someone");
    record.nTrack = 7;
    return record;
}

void ExpectSameTexts(const MediaTagRecord& a, const MediaTagRecord& b) {
    EXPECT_STREQ(a.szTitle, b.szTitle);
    EXPECT_STREQ(a.szAuthor, b.szAuthor);
    EXPECT_STREQ(a.szDescription, b.szDescription);
    EXPECT_STREQ(a.szGenre, b.szGenre);
    EXPECT_STREQ(a.szYear, b.szYear);
    EXPECT_STREQ(a.szAlbumTitle, b.szAlbumTitle);
    EXPECT_STREQ(a.szCopyright, b.szCopyright);
}

class MediaTagEditorFormats : public testing::TestWithParam<Format> {};

TEST_P(MediaTagEditorFormats, FileWithOnlyATitle) {
    auto dir = MakeTempDir("titleonly");
    auto file = MakeAudio(dir, "t", GetParam(), "-metadata title=Alone");
    if (GetParam() == Format::Wma)  // ffmpeg writes its own "title"; give it the real Title
        SetAttribute(file, L"Title", WMT_TYPE_STRING, quil::wmf::StringValue(L"Alone"));

    MediaTagRecord record;
    SetText(record.szAuthor, "left over from the previous file");
    record.nTrack = 9;
    auto read = Read(file, record);
    ASSERT_TRUE(read.result) << read.output;
    EXPECT_STREQ(record.szTitle, "Alone");
    ExpectSameTexts(record, [] {
        MediaTagRecord expected;
        SetText(expected.szTitle, "Alone");
        return expected;
    }());
    EXPECT_EQ(record.nTrack, -1);
    EXPECT_NE(read.output.find("Attribute Name = Title\t\tValue = Alone\n"), std::string::npos);
    if (GetParam() == Format::Wma) {
        // An ASF header always names its bit rate and duration.
        EXPECT_GT(record.dwBitrate, 100000u);
        EXPECT_GT(record.dwDuration, 19000000u);
        EXPECT_TRUE(read.output.ends_with("\n\tFound 3 ID3v2 Tags\n")) << read.output;
    } else {
        EXPECT_EQ(record.dwBitrate, 0u);
        EXPECT_EQ(record.dwDuration, 0u);
        EXPECT_EQ(read.output, "Attribute Name = Title\t\tValue = Alone\n\n\tFound 1 ID3v2 Tags\n");
    }
}

TEST_P(MediaTagEditorFormats, WriteAndReadBackEveryAttribute) {
    auto dir = MakeTempDir("roundtrip");
    auto file = MakeAudio(dir, "song", GetParam());
    MediaTagRecord written = FullRecord("Ünïcödé 漢字 🎵");
    auto write = Write(file, written);
    ASSERT_TRUE(write.result) << write.output;
    EXPECT_EQ(write.output, "");
    EXPECT_TRUE(Decodes(file));
    EXPECT_EQ(ProbeTag(file, "title"), "Ünïcödé 漢字 🎵");

    MediaTagRecord read;
    ASSERT_TRUE(Read(file, read).result);
    ExpectSameTexts(read, written);
    EXPECT_EQ(read.nTrack, 7);

    // The cleared record of the tag page: empty texts and no track.
    MediaTagRecord cleared;
    ASSERT_TRUE(Write(file, cleared).result);
    EXPECT_TRUE(Decodes(file));
    EXPECT_FALSE(StoredDword(file, L"WM/Track"));
    auto reread = Read(file, read);
    ASSERT_TRUE(reread.result);
    ExpectSameTexts(read, cleared);
    EXPECT_EQ(read.nTrack, -1);
    EXPECT_EQ(reread.output.find("WM/Track"), std::string::npos);

    ASSERT_TRUE(Write(file, FullRecord("Second pass")).result);
    EXPECT_TRUE(Decodes(file));
    ASSERT_TRUE(Read(file, read).result);
    EXPECT_STREQ(read.szTitle, "Second pass");
}

// File names are bytes: a Latin-1 name is read and tagged like any other.
TEST_P(MediaTagEditorFormats, NameThatIsNotUtf8IsReadAndTagged) {
    auto dir = MakeTempDir("latin1");
    auto made = MakeAudio(dir, "made", GetParam());
    fs::path file = dir / (std::string("caf\xE9 d\xE9j\xE0") + Extension(GetParam()));
    fs::rename(made, file);
    auto write = Write(file, FullRecord("Named in Latin-1"));
    ASSERT_TRUE(write.result) << write.output;
    MediaTagRecord read;
    auto reread = Read(file, read);
    ASSERT_TRUE(reread.result) << reread.output;
    EXPECT_STREQ(read.szTitle, "Named in Latin-1");
    EXPECT_EQ(read.nTrack, 7);
    EXPECT_TRUE(Decodes(file));
}

TEST_P(MediaTagEditorFormats, ReadOnlyFileFailsAtTheFirstRowAndStaysUntouched) {
    auto dir = MakeTempDir("readonly");
    auto file = MakeAudio(dir, "ro", GetParam(), "-metadata title=Old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto before = ReadFile(file);
    auto write = Write(file, FullRecord("New"));
    EXPECT_FALSE(write.result);
    EXPECT_EQ(write.output, "Flush failed (hr=0x80070005).\n");
    EXPECT_EQ(ReadFile(file), before);
}

TEST_P(MediaTagEditorFormats, FullDiskLeavesTheOriginalIntact) {
    auto dir = MakeTempDir("full");
    auto file = MakeAudio(dir, "full", GetParam(), "-metadata title=Old");
    auto before = ReadFile(file);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        // No room to grow: the first pass that needs more space fails like a full disk.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(MediaTagEditor().WriteTags(file.c_str(), FullRecord(std::string(200, 'x'))) ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_TRUE(Decodes(file));
}

INSTANTIATE_TEST_SUITE_P(AllFormats, MediaTagEditorFormats,
                         testing::Values(Format::Mp3, Format::Wav, Format::Wma),
                         [](const auto& info) { return std::string(Extension(info.param) + 1); });

TEST(MediaTagEditor, LongTextsAreCutOnACharacterBoundary) {
    auto dir = MakeTempDir("long");
    auto file = MakeAudio(dir, "long", Format::Mp3);
    std::wstring long_title(200, L'é');  // 400 bytes of UTF-8
    SetAttribute(file, L"Title", WMT_TYPE_STRING, quil::wmf::StringValue(long_title));
    MediaTagRecord record;
    ASSERT_TRUE(Read(file, record).result);
    EXPECT_EQ(std::string(record.szTitle), quil::Narrow(std::wstring(129, L'é')));

    // A record text that fills its whole buffer without a terminator is cut the same way.
    MediaTagRecord full;
    std::string filled = quil::Narrow(std::wstring(130, L'é'));
    std::memcpy(full.szTitle, filled.data(), sizeof full.szTitle);
    ASSERT_TRUE(Write(file, full).result);
    ASSERT_TRUE(Read(file, record).result);
    EXPECT_EQ(std::string(record.szTitle), quil::Narrow(std::wstring(129, L'é')));
}

TEST(MediaTagEditor, TextThatIsNotUtf8StopsTheWrite) {
    auto dir = MakeTempDir("badtext");
    auto file = MakeAudio(dir, "bad", Format::Mp3);
    MediaTagRecord record = FullRecord("Written first");
    SetText(record.szAuthor, "caf\xE9");  // Latin-1, not UTF-8
    auto write = Write(file, record);
    EXPECT_FALSE(write.result);
    EXPECT_EQ(write.output, "Internal error (hr=0x80070459)\n");
    MediaTagRecord read;
    ASSERT_TRUE(Read(file, read).result);
    EXPECT_STREQ(read.szTitle, "Written first");  // rows before the failure stay written
    EXPECT_STREQ(read.szAuthor, "");
    EXPECT_TRUE(Decodes(file));
}

TEST(MediaTagEditor, MissingFileFailsBothOperations) {
    auto dir = MakeTempDir("missing");
    auto file = dir / "gone.mp3";
    MediaTagRecord record;
    auto read = Read(file, record);
    EXPECT_FALSE(read.result);
    EXPECT_EQ(read.output, "Could not open outfile " + file.string() + " (hr=0x80070002).\n");
    auto write = Write(file, FullRecord("x"));
    EXPECT_FALSE(write.result);
    EXPECT_EQ(write.output, "Could not open the file " + file.string() + " (hr=0x80070002).\n");
    EXPECT_FALSE(fs::exists(file));
}

TEST(MediaTagEditor, ReadPrintsEveryAttributeOfAFullWma) {
    auto dir = MakeTempDir("lines");
    auto file = MakeAudio(dir, "full", Format::Wma);
    MediaTagRecord written = FullRecord("Lines");
    written.nTrack = -1;
    ASSERT_TRUE(Write(file, written).result);
    MediaTagRecord record;
    auto read = Read(file, record);
    ASSERT_TRUE(read.result);
    const std::string& out = read.output;
    EXPECT_TRUE(
        out.starts_with("Attribute Name = Title\t\tValue = Lines\n"
                        "Attribute Name = Author\t\tValue = Ärtist\n"
                        "Attribute Name = Description\t\tValue = Recorded live\n"
                        "Attribute Name = Copyright\t\tValue = © Someone\n"
                        "Attribute Name = WM/Genre\t\tValue = Rock\n"
                        "Attribute Name = WM/Year\t\tValue = 2004\n"
                        "Attribute Name = WM/AlbumTitle\t\tValue = Ålbum\n"
                        "Attribute Name = Bitrate\t\tValue = "))
        << out;
    EXPECT_NE(out.find("Attribute Name = Duration\t\tValue = " + std::to_string(record.dwDuration)),
              std::string::npos);
    EXPECT_TRUE(out.ends_with("\n\tFound 9 ID3v2 Tags\n"));  // no track: no WM/Track
}

TEST(MediaTagEditor, TrackStoredAsTextIsConverted) {
    auto dir = MakeTempDir("tracktext");
    auto file = MakeAudio(dir, "t", Format::Wma);
    SetAttribute(file, L"WM/Track", WMT_TYPE_STRING, quil::wmf::StringValue(L"12"));
    MediaTagRecord record;
    auto read = Read(file, record);
    ASSERT_TRUE(read.result);
    EXPECT_EQ(record.nTrack, 12);
    EXPECT_NE(read.output.find("Attribute Name = WM/Track\t\tValue = 12\n"), std::string::npos);
}

// One save is one copy of the file, however many attributes it holds.
TEST_P(MediaTagEditorFormats, ASaveWritesTheFileOnce) {
    auto dir = MakeTempDir("onepass");
    auto file = MakeAudio(dir, "once", GetParam());
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    ASSERT_TRUE(Write(file, FullRecord("Once")).result);
    int renames = 0, writes = 0;
    alignas(inotify_event) char buffer[16384];
    for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            if (event->mask & IN_MOVED_TO) ++renames;
            if (event->mask & IN_CLOSE_WRITE) ++writes;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(writes, 1);
    MediaTagRecord back;
    ASSERT_TRUE(Read(file, back).result);
    ExpectSameTexts(back, FullRecord("Once"));
    EXPECT_EQ(back.nTrack, 7);
}

// -1 means no track: the attribute goes, it is not stored as 4294967295.
TEST_P(MediaTagEditorFormats, NoTrackRemovesTheTrackAttribute) {
    auto dir = MakeTempDir("notrack");
    auto file = MakeAudio(dir, "t", GetParam());
    ASSERT_TRUE(Write(file, FullRecord("Numbered")).result);
    MediaTagRecord record = FullRecord("Unnumbered");
    record.nTrack = -1;
    ASSERT_TRUE(Write(file, record).result);
    MediaTagRecord back;
    ASSERT_TRUE(Read(file, back).result);
    EXPECT_EQ(back.nTrack, -1);
    EXPECT_STREQ(back.szTitle, "Unnumbered");
    EXPECT_FALSE(StoredDword(file, L"WM/Track"));
    std::string everything;
    RunCommand("ffprobe -v error -show_entries format_tags -of default=nw=1 '" + file.string() +
                   "'",
               &everything);
    EXPECT_EQ(everything.find("4294967295"), std::string::npos) << everything;
    EXPECT_EQ(everything.find("18446744073709551615"), std::string::npos) << everything;
    EXPECT_TRUE(Decodes(file));
}

}  // namespace
