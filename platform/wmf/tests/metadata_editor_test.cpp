#include "platform/wmf/metadata_editor.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/strings.h"
#include "testsupport/test_support.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;
using quil::test::MakeTempDir;
using quil::test::ReadFile;
using quil::test::RunCommand;

enum class Format { Mp3, Wav, Wma };

const char* Extension(Format format) {
    return format == Format::Mp3 ? ".mp3" : format == Format::Wav ? ".wav" : ".wma";
}

// Two seconds of tone; extra ffmpeg options (metadata) go before the output name.
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

std::vector<std::string> FolderEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

struct Value {
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    std::vector<BYTE> bytes;
};

class Editor {
public:
    explicit Editor(const fs::path& path) {
        EXPECT_EQ(WMCreateEditor(editor_.Put()), S_OK);
        openResult = editor_->Open(quil::Widen(path.string()).c_str());
        info_ = editor_.As<IWMHeaderInfo>();
    }

    HRESULT openResult = E_FAIL;
    IWMMetadataEditor* operator->() const { return editor_.Get(); }
    IWMHeaderInfo* info() const { return info_.Get(); }

    std::optional<Value> Get(const std::wstring& name) const {
        WORD stream = 0;
        WORD length = 0;
        Value value;
        if (FAILED(info_->GetAttributeByName(&stream, name.c_str(), &value.type, nullptr, &length)))
            return std::nullopt;
        value.bytes.resize(length);
        EXPECT_EQ(info_->GetAttributeByName(&stream, name.c_str(), &value.type, value.bytes.data(),
                                            &length),
                  S_OK);
        return value;
    }
    std::optional<std::wstring> Text(const std::wstring& name) const {
        auto value = Get(name);
        if (!value || value->type != WMT_TYPE_STRING) return std::nullopt;
        return quil::wmf::StringOf(value->bytes);
    }
    std::optional<uint64_t> Number(const std::wstring& name) const {
        auto value = Get(name);
        if (!value) return std::nullopt;
        uint64_t number = 0;
        std::memcpy(&number, value->bytes.data(), std::min<size_t>(8, value->bytes.size()));
        return number;
    }
    HRESULT Set(const std::wstring& name, WMT_ATTR_DATATYPE type,
                const std::vector<BYTE>& bytes) const {
        return info_->SetAttribute(0, name.c_str(), type, bytes.data(),
                                   static_cast<WORD>(bytes.size()));
    }
    HRESULT SetText(const std::wstring& name, const std::wstring& text) const {
        return Set(name, WMT_TYPE_STRING, quil::wmf::StringValue(text));
    }
    WORD Count() const {
        WORD count = 0;
        EXPECT_EQ(info_->GetAttributeCount(0, &count), S_OK);
        return count;
    }

private:
    ComPtr<IWMMetadataEditor> editor_;
    ComPtr<IWMHeaderInfo> info_;
};

// Runs body in a child process and returns its exit code, or -1 when it died.
template <class Body>
int InChild(Body body) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MetadataEditor, OpenRejectsMissingUnreadableAndBrokenFiles) {
    auto dir = MakeTempDir("open");
    EXPECT_EQ(Editor(dir / "missing.mp3").openResult, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Editor(dir).openResult, E_ACCESSDENIED);

    std::ofstream(dir / "notes.wma") << "not a media file at all";
    EXPECT_EQ(Editor(dir / "notes.wma").openResult, quil::wmf::kUnreadableFile);

    // A WMA cut inside its header and an MP3 of noise must fail or read, never crash.
    auto wma = MakeAudio(dir, "cut", Format::Wma, "-metadata title=T");
    fs::resize_file(wma, 200);
    EXPECT_EQ(Editor(wma).openResult, quil::wmf::kUnreadableFile);
    std::ofstream noise(dir / "noise.mp3", std::ios::binary);
    for (int i = 0; i < 5000; ++i) noise.put(static_cast<char>((i * 7919) >> 3));
    noise.close();
    Editor broken(dir / "noise.mp3");
    if (SUCCEEDED(broken.openResult)) {
        EXPECT_FALSE(broken.Text(L"Title"));
    }
}

TEST(MetadataEditor, CallsNeedAnOpenFile) {
    auto dir = MakeTempDir("closed");
    auto mp3 = MakeAudio(dir, "a", Format::Mp3);
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(editor.Put()), S_OK);
    auto info = editor.As<IWMHeaderInfo>();
    ASSERT_TRUE(info);
    WORD stream = 0, length = 0;
    WMT_ATTR_DATATYPE type{};
    EXPECT_EQ(info->GetAttributeByName(&stream, L"Title", &type, nullptr, &length), E_UNEXPECTED);
    EXPECT_EQ(editor->Flush(), E_UNEXPECTED);
    EXPECT_EQ(editor->Close(), E_UNEXPECTED);
    std::wstring path = quil::Widen(mp3.string());
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    EXPECT_EQ(editor->Open(path.c_str()), E_UNEXPECTED);
    EXPECT_EQ(editor->Close(), S_OK);
}

TEST(MetadataEditor, TitleOnlyFilesCarryOneAttribute) {
    auto dir = MakeTempDir("titleonly");
    for (Format format : {Format::Mp3, Format::Wav}) {
        SCOPED_TRACE(Extension(format));
        Editor editor(MakeAudio(dir, "t", format, "-metadata title=Alone"));
        ASSERT_EQ(editor.openResult, S_OK);
        EXPECT_EQ(editor.Count(), 1);
        EXPECT_EQ(editor.Text(L"title"), L"Alone");  // names ignore case

        WORD stream = 0, length = 99;
        WMT_ATTR_DATATYPE type{};
        EXPECT_EQ(editor.info()->GetAttributeByName(&stream, L"Author", &type, nullptr, &length),
                  ASF_E_NOTFOUND);
        EXPECT_EQ(length, 0);
        EXPECT_FALSE(editor.Get(L"Bitrate"));
        EXPECT_FALSE(editor.Get(L"Duration"));

        length = 0;
        ASSERT_EQ(editor.info()->GetAttributeByName(&stream, L"Title", &type, nullptr, &length),
                  S_OK);
        EXPECT_EQ(type, WMT_TYPE_STRING);
        EXPECT_EQ(length, 6 * sizeof(WCHAR));
        std::vector<BYTE> small(4);
        WORD smallLength = 4;
        EXPECT_EQ(
            editor.info()->GetAttributeByName(&stream, L"Title", &type, small.data(), &smallLength),
            ASF_E_BUFFERTOOSMALL);
        EXPECT_EQ(smallLength, length);

        WCHAR name[16] = {};
        WORD nameLength = 16, valueLength = 0;
        ASSERT_EQ(editor.info()->GetAttributeByIndex(0, &stream, name, &nameLength, &type, nullptr,
                                                     &valueLength),
                  S_OK);
        EXPECT_STREQ(name, L"Title");
        EXPECT_EQ(nameLength, 6);
        EXPECT_EQ(editor.info()->GetAttributeByIndex(1, &stream, name, &nameLength, &type, nullptr,
                                                     &valueLength),
                  E_INVALIDARG);
    }
}

TEST(MetadataEditor, WmaReportsBitrateAndDurationOfItsAudio) {
    auto dir = MakeTempDir("wmaprops");
    Editor editor(MakeAudio(dir, "w", Format::Wma));
    ASSERT_EQ(editor.openResult, S_OK);
    auto bitrate = editor.Get(L"Bitrate");
    ASSERT_TRUE(bitrate);
    EXPECT_EQ(bitrate->type, WMT_TYPE_DWORD);
    EXPECT_NEAR(static_cast<double>(*editor.Number(L"Bitrate")), 128000, 16000);
    auto duration = editor.Get(L"Duration");
    ASSERT_TRUE(duration);
    EXPECT_EQ(duration->type, WMT_TYPE_QWORD);
    EXPECT_NEAR(static_cast<double>(*editor.Number(L"Duration")), 2e7, 1e6);  // 100-ns units
    EXPECT_EQ(editor.Set(L"Duration", WMT_TYPE_QWORD, quil::wmf::QwordValue(1)), E_ACCESSDENIED);
}

TEST(MetadataEditor, AsfAttributesKeepTheirTypes) {
    auto dir = MakeTempDir("asftypes");
    auto wma = MakeAudio(dir, "w", Format::Wma);
    const std::vector<BYTE> blob = {0, 1, 2, 0xFE, 0xFF};
    {
        Editor editor(wma);
        ASSERT_EQ(editor.openResult, S_OK);
        EXPECT_EQ(editor.SetText(L"WM/Composer", L"Zoë"), S_OK);
        EXPECT_EQ(editor.Set(L"WM/Counter", WMT_TYPE_DWORD, quil::wmf::DwordValue(0xFFFFFFFF)),
                  S_OK);
        EXPECT_EQ(editor.Set(L"WM/Big", WMT_TYPE_QWORD, quil::wmf::QwordValue(1ull << 40)), S_OK);
        EXPECT_EQ(editor.Set(L"WM/Small", WMT_TYPE_WORD, quil::wmf::WordValue(513)), S_OK);
        EXPECT_EQ(editor.Set(L"WM/Flag", WMT_TYPE_BOOL, quil::wmf::BoolValue(true)), S_OK);
        EXPECT_EQ(editor.Set(L"WM/Blob", WMT_TYPE_BINARY, blob), S_OK);
        EXPECT_EQ(editor.Set(L"WM/Odd", WMT_TYPE_DWORD, {1, 2, 3}), E_INVALIDARG);
        EXPECT_EQ(editor.Set(L"Title", WMT_TYPE_DWORD, quil::wmf::DwordValue(1)), E_INVALIDARG);
        ASSERT_EQ(editor->Flush(), S_OK);
        EXPECT_EQ(editor.Text(L"WM/Composer"), L"Zoë");
        EXPECT_EQ(editor->Close(), S_OK);
    }
    Editor reread(wma);
    ASSERT_EQ(reread.openResult, S_OK);
    EXPECT_EQ(reread.Text(L"wm/composer"), L"Zoë");
    EXPECT_EQ(reread.Get(L"WM/Counter")->type, WMT_TYPE_DWORD);
    EXPECT_EQ(reread.Number(L"WM/Counter"), 0xFFFFFFFFu);
    EXPECT_EQ(reread.Get(L"WM/Big")->type, WMT_TYPE_QWORD);
    EXPECT_EQ(reread.Number(L"WM/Big"), 1ull << 40);
    EXPECT_EQ(reread.Get(L"WM/Small")->type, WMT_TYPE_WORD);
    EXPECT_EQ(reread.Number(L"WM/Small"), 513u);
    EXPECT_EQ(reread.Get(L"WM/Flag")->type, WMT_TYPE_BOOL);
    EXPECT_EQ(reread.Number(L"WM/Flag"), 1u);
    EXPECT_EQ(reread.Get(L"WM/Blob")->type, WMT_TYPE_BINARY);
    EXPECT_EQ(reread.Get(L"WM/Blob")->bytes, blob);
    EXPECT_TRUE(Decodes(wma));
}

TEST(MetadataEditor, Mp3AndWavTakeOnlyTheirTagAttributes) {
    auto dir = MakeTempDir("tagrules");
    for (Format format : {Format::Mp3, Format::Wav}) {
        SCOPED_TRACE(Extension(format));
        Editor editor(MakeAudio(dir, "r", format));
        ASSERT_EQ(editor.openResult, S_OK);
        EXPECT_EQ(editor.SetText(L"WM/Composer", L"x"), E_INVALIDARG);
        EXPECT_EQ(editor.Set(L"Title", WMT_TYPE_DWORD, quil::wmf::DwordValue(1)), E_INVALIDARG);
        EXPECT_EQ(editor.Set(L"Bitrate", WMT_TYPE_DWORD, quil::wmf::DwordValue(1)), E_INVALIDARG);
        EXPECT_EQ(editor.Set(L"Title", WMT_TYPE_STRING, {1, 0, 0}), E_INVALIDARG);
        EXPECT_EQ(editor.info()->SetAttribute(1, L"Title", WMT_TYPE_STRING, nullptr, 0),
                  E_INVALIDARG);
        EXPECT_EQ(editor.Set(L"WM/Track", WMT_TYPE_DWORD, quil::wmf::DwordValue(3)), S_OK);
        EXPECT_EQ(editor.SetText(L"WM/Track", L"4/9"), S_OK);
    }
}

class MetadataEditorFormats : public testing::TestWithParam<Format> {};

TEST_P(MetadataEditorFormats, FlushWritesEveryTagAndTheFileStillDecodes) {
    auto dir = MakeTempDir("flush");
    auto file = MakeAudio(dir, "song", GetParam());
    const std::wstring title = L"Ünïcödé 漢字 🎵";
    {
        Editor editor(file);
        ASSERT_EQ(editor.openResult, S_OK);
        ASSERT_EQ(editor.SetText(L"Title", title), S_OK);
        ASSERT_EQ(editor.SetText(L"Author", L"Ärtist"), S_OK);
        ASSERT_EQ(editor.SetText(L"Description", L"A comment"), S_OK);
        ASSERT_EQ(editor.SetText(L"Copyright", L"© 2004 Someone"), S_OK);
        ASSERT_EQ(editor.SetText(L"WM/Genre", L"Rock"), S_OK);
        ASSERT_EQ(editor.SetText(L"WM/Year", L"2004"), S_OK);
        ASSERT_EQ(editor.SetText(L"WM/AlbumTitle", L"Ålbum"), S_OK);
        ASSERT_EQ(editor.Set(L"WM/Track", WMT_TYPE_DWORD, quil::wmf::DwordValue(0xFFFFFFFF)), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
        EXPECT_EQ(editor.Text(L"Title"), title);
        ASSERT_EQ(editor->Close(), S_OK);
    }
    EXPECT_TRUE(Decodes(file));
    EXPECT_EQ(ProbeTag(file, "title"), quil::Narrow(title));

    Editor reread(file);
    ASSERT_EQ(reread.openResult, S_OK);
    EXPECT_EQ(reread.Text(L"Title"), title);
    EXPECT_EQ(reread.Text(L"Author"), L"Ärtist");
    EXPECT_EQ(reread.Text(L"Description"), L"A comment");
    EXPECT_EQ(reread.Text(L"Copyright"), L"© 2004 Someone");
    EXPECT_EQ(reread.Text(L"WM/Genre"), L"Rock");
    EXPECT_EQ(reread.Text(L"WM/Year"), L"2004");
    EXPECT_EQ(reread.Text(L"WM/AlbumTitle"), L"Ålbum");
    ASSERT_TRUE(reread.Get(L"WM/Track"));
    EXPECT_EQ(reread.Get(L"WM/Track")->type, WMT_TYPE_DWORD);
    EXPECT_EQ(reread.Number(L"WM/Track"), 0xFFFFFFFFu);
}

TEST_P(MetadataEditorFormats, EmptyTextRemovesTheTag) {
    auto dir = MakeTempDir("empty");
    auto file = MakeAudio(dir, "e", GetParam());
    {
        Editor editor(file);
        ASSERT_EQ(editor.SetText(L"Title", L"Gone soon"), S_OK);
        ASSERT_EQ(editor.SetText(L"Copyright", L"Stays"), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
        ASSERT_EQ(editor.SetText(L"Title", L""), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
    }
    Editor reread(file);
    EXPECT_FALSE(reread.Get(L"Title"));
    EXPECT_EQ(reread.Text(L"Copyright"), L"Stays");
    EXPECT_TRUE(Decodes(file));
}

TEST_P(MetadataEditorFormats, CloseForgetsChangesThatWereNotFlushed) {
    auto dir = MakeTempDir("close");
    auto file = MakeAudio(dir, "c", GetParam(), "-metadata title=Kept");
    auto before = ReadFile(file);
    Editor editor(file);
    ASSERT_EQ(editor.SetText(L"Title", L"Dropped"), S_OK);
    EXPECT_EQ(editor.Text(L"Title"), L"Dropped");
    ASSERT_EQ(editor->Close(), S_OK);
    EXPECT_EQ(ReadFile(file), before);
}

TEST_P(MetadataEditorFormats, ReadOnlyFileIsNeverWritten) {
    auto dir = MakeTempDir("readonly");
    auto file = MakeAudio(dir, "ro", GetParam(), "-metadata title=Old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto before = ReadFile(file);
    auto entries = FolderEntries(dir);
    Editor editor(file);
    ASSERT_EQ(editor.openResult, S_OK);
    EXPECT_EQ(editor.Text(L"Title"), L"Old");
    ASSERT_EQ(editor.SetText(L"Title", L"New"), S_OK);
    EXPECT_EQ(editor->Flush(), E_ACCESSDENIED);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(FolderEntries(dir), entries);
}

TEST_P(MetadataEditorFormats, FlushReplacesTheFileWholeAndKeepsItsMode) {
    auto dir = MakeTempDir("replace");
    auto file = MakeAudio(dir, "song", GetParam());
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(file.filename(), dir / "link");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    Editor editor(dir / "link");
    ASSERT_EQ(editor.SetText(L"Title", L"Through the link"), S_OK);
    ASSERT_EQ(editor->Flush(), S_OK);

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file, renamed over the old one
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"link", file.filename().string()}));
    EXPECT_EQ(Editor(file).Text(L"Title"), L"Through the link");
}

INSTANTIATE_TEST_SUITE_P(AllFormats, MetadataEditorFormats,
                         testing::Values(Format::Mp3, Format::Wav, Format::Wma),
                         [](const auto& info) { return std::string(Extension(info.param) + 1); });

TEST(MetadataEditor, TrackTextWithTotalReadsAsNumber) {
    auto dir = MakeTempDir("track");
    Editor editor(MakeAudio(dir, "t", Format::Mp3, "-metadata track=7/12"));
    ASSERT_TRUE(editor.Get(L"WM/Track"));
    EXPECT_EQ(editor.Get(L"WM/Track")->type, WMT_TYPE_DWORD);
    EXPECT_EQ(editor.Number(L"WM/Track"), 7u);
}

// An ID3v1 tag at the end: "TAG", title, artist, album (30 each), year (4), comment (30), genre.
void AppendId3v1(const fs::path& file, const std::string& title, const std::string& artist) {
    std::string tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, title.size(), title);
    tag.replace(33, artist.size(), artist);
    tag[127] = static_cast<char>(17);  // Rock
    std::ofstream(file, std::ios::binary | std::ios::app) << tag;
}

TEST(MetadataEditor, Mp3FallsBackToId3v1AndKeepsItCurrent) {
    auto dir = MakeTempDir("id3v1");
    auto file = MakeAudio(dir, "old", Format::Mp3, "-id3v2_version 0");
    AppendId3v1(file, "Old title", "Old artist");
    {
        Editor editor(file);
        ASSERT_EQ(editor.openResult, S_OK);
        EXPECT_EQ(editor.Text(L"Title"), L"Old title");
        EXPECT_EQ(editor.Text(L"Author"), L"Old artist");
        EXPECT_EQ(editor.Text(L"WM/Genre"), L"Rock");
        // ID3v1 has no copyright, so this creates the ID3v2 tag.
        ASSERT_EQ(editor.SetText(L"Copyright", L"Mine"), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
        EXPECT_EQ(editor.Text(L"Title"), L"Old title");
        ASSERT_EQ(editor.SetText(L"Title", L"New title"), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
    }
    Editor reread(file);
    EXPECT_EQ(reread.Text(L"Title"), L"New title");
    EXPECT_EQ(reread.Text(L"Author"), L"Old artist");
    EXPECT_EQ(reread.Text(L"Copyright"), L"Mine");
    auto bytes = ReadFile(file);
    ASSERT_GE(bytes.size(), 128u);
    std::string id3v1(bytes.end() - 128, bytes.end());
    EXPECT_EQ(id3v1.substr(0, 12), std::string("TAGNew title"));
    EXPECT_TRUE(Decodes(file));
}

TEST(MetadataEditor, WavCarriesBothInfoListAndId3Chunk) {
    auto dir = MakeTempDir("wavtags");
    auto file = MakeAudio(dir, "w", Format::Wav, "-metadata title=Before");
    {
        Editor editor(file);
        EXPECT_EQ(editor.Text(L"Title"), L"Before");  // from the INFO list ffmpeg wrote
        ASSERT_EQ(editor.SetText(L"Author", L"Änne"), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
        EXPECT_EQ(editor.Text(L"Title"), L"Before");
    }
    auto bytes = ReadFile(file);
    std::string content(bytes.begin(), bytes.end());
    size_t info = content.find("IART");
    ASSERT_NE(info, std::string::npos);
    EXPECT_EQ(content.compare(info + 8, 5, "Änne"), 0);  // UTF-8, after the 4-byte size
    EXPECT_TRUE(content.find("id3 ") != std::string::npos ||
                content.find("ID3 ") != std::string::npos);
    EXPECT_EQ(ProbeTag(file, "artist"), "Änne");
    EXPECT_EQ(ProbeTag(file, "title"), "Before");
    EXPECT_TRUE(Decodes(file));
}

// The big title makes the tag grow by tens of kilobytes when written.
std::wstring BigTitle() {
    return std::wstring(16000, L'ẞ');
}

TEST(MetadataEditorFullDisk, FileSizeLimitLeavesTheOriginalIntact) {
    auto dir = MakeTempDir("fsize");
    auto file = MakeAudio(dir, "full", Format::Mp3, "-metadata title=Original");
    auto before = ReadFile(file);
    auto entries = FolderEntries(dir);
    int code = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        Editor editor(file);
        if (editor.SetText(L"Title", BigTitle()) != S_OK) return 11;
        return editor->Flush() == HRESULT_DISK_FULL ? 0 : 12;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(FolderEntries(dir), entries);
    EXPECT_EQ(Editor(file).Text(L"Title"), L"Original");
}

// Exit codes of the child below; 77 when this machine cannot mount a private tmpfs.
int FlushOnFullTmpfs(const fs::path& source, const fs::path& mountPoint, bool roomForCopy) {
    if (unshare(CLONE_NEWNS) != 0) return 77;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) return 77;
    fs::path file = mountPoint / source.filename();
    std::error_code failure;
    if (!fs::copy_file(source, file, failure)) return 20;
    // Fill the disk, then free just the pages a copy of the file needs, or nothing.
    fs::path filler = mountPoint / "filler";
    {
        std::ofstream out(filler, std::ios::binary);
        std::string block(4096, 'x');
        while (out.write(block.data(), block.size())) out.flush();
    }
    uintmax_t pages = (fs::file_size(file) + 4095) / 4096;
    if (roomForCopy) fs::resize_file(filler, fs::file_size(filler) - pages * 4096 - 4096);
    auto before = ReadFile(file);
    auto entries = FolderEntries(mountPoint);
    {
        Editor editor(file);
        if (editor.openResult != S_OK) return 21;
        if (editor.SetText(L"Title", BigTitle()) != S_OK) return 22;
        if (editor->Flush() != HRESULT_DISK_FULL) return 23;
    }
    if (ReadFile(file) != before) return 24;
    if (FolderEntries(mountPoint) != entries) return 25;
    if (Editor(file).Text(L"Title") != L"Original") return 26;
    return 0;
}

TEST(MetadataEditorFullDisk, FullTmpfsLeavesTheOriginalIntact) {
    auto dir = MakeTempDir("tmpfs");
    auto file = MakeAudio(dir, "full", Format::Wma, "-metadata title=Original");
    {
        Editor editor(file);  // the standard Title, not ffmpeg's own attribute
        ASSERT_EQ(editor.SetText(L"Title", L"Original"), S_OK);
        ASSERT_EQ(editor->Flush(), S_OK);
    }
    fs::create_directories(dir / "mnt");
    for (bool roomForCopy : {false, true}) {
        SCOPED_TRACE(roomForCopy ? "the copy fits, the edit does not" : "no room at all");
        int code = InChild([&] { return FlushOnFullTmpfs(file, dir / "mnt", roomForCopy); });
        if (code == 77) GTEST_SKIP() << "no private tmpfs here";
        EXPECT_EQ(code, 0);
    }
}

}  // namespace
