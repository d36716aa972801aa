// Tag saves that must never lose audio or the file's identity: inconsistent containers are
// refused, killed saves leave nothing that lasts, hard links and extended attributes survive,
// and the tag library's diagnostics stay off the standard streams.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/com/strings.h"
#include "platform/wmf/metadata_editor.h"
#include "platform/wmf/save_checks.h"
#include "testsupport/test_support.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;
using quil::test::MakeTempDir;
using quil::test::ReadFile;
using quil::test::RunCommand;

fs::path MakeAudio(const fs::path& dir, const std::string& name, const std::string& codec) {
    fs::path path = dir / name;
    std::string command = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -ac 2 " +
                          codec + " -fflags +bitexact '" + path.string() + "'";
    EXPECT_EQ(RunCommand(command), 0) << command;
    return path;
}
fs::path MakeWav(const fs::path& dir, const std::string& name) {
    return MakeAudio(dir, name, "-c:a pcm_s16le");
}
fs::path MakeWma(const fs::path& dir, const std::string& name) {
    return MakeAudio(dir, name, "-c:a wmav2 -b:a 128k");
}
fs::path MakeMp3(const fs::path& dir, const std::string& name) {
    return MakeAudio(dir, name, "-c:a libmp3lame -b:a 128k");
}

void PutLe(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t GetLe(const std::vector<uint8_t>& bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}
void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Opens, sets a title and flushes; the flush's result.
HRESULT SaveTitle(const fs::path& path, const std::wstring& title, HRESULT* openResult = nullptr) {
    ComPtr<IWMMetadataEditor> editor;
    EXPECT_EQ(WMCreateEditor(editor.Put()), S_OK);
    HRESULT hr = editor->Open(quil::Widen(path.string()).c_str());
    if (openResult) *openResult = hr;
    if (FAILED(hr)) return hr;
    auto info = editor.As<IWMHeaderInfo>();
    auto value = quil::wmf::StringValue(title);
    EXPECT_EQ(info->SetAttribute(0, L"Title", WMT_TYPE_STRING, value.data(),
                                 static_cast<WORD>(value.size())),
              S_OK);
    hr = editor->Flush();
    editor->Close();
    return hr;
}

std::wstring ReadTitle(const fs::path& path) {
    ComPtr<IWMMetadataEditor> editor;
    EXPECT_EQ(WMCreateEditor(editor.Put()), S_OK);
    if (FAILED(editor->Open(quil::Widen(path.string()).c_str()))) return L"<unreadable>";
    auto info = editor.As<IWMHeaderInfo>();
    WORD stream = 0, length = 0;
    WMT_ATTR_DATATYPE type{};
    if (FAILED(info->GetAttributeByName(&stream, L"Title", &type, nullptr, &length))) return L"";
    std::vector<BYTE> value(length);
    info->GetAttributeByName(&stream, L"Title", &type, value.data(), &length);
    editor->Close();
    return quil::wmf::StringOf(value);
}

std::vector<std::string> FolderEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(TagSaveSafety, AsfHeaderSizesThatDisagreeWithTheFileAreRefused) {
    auto dir = MakeTempDir("asf_sizes");
    auto good = MakeWma(dir, "good.wma");
    auto bytes = ReadFile(good);
    uint64_t headerSize = GetLe(bytes, 16, 8);
    for (int64_t change : {+1, -1, +100000}) {
        SCOPED_TRACE(change);
        auto bad = dir / "bad.wma";
        auto mutated = bytes;
        PutLe(mutated, 16, headerSize + change, 8);
        WriteBytes(bad, mutated);
        HRESULT opened = E_FAIL;
        HRESULT saved = SaveTitle(bad, L"Lost audio?", &opened);
        if (FAILED(opened)) continue;  // the reader refused it already
        EXPECT_EQ(saved, quil::wmf::kInconsistentFile);
        EXPECT_TRUE(ReadFile(bad) == mutated);
    }
    // The file as written by the encoder is consistent and takes the title.
    EXPECT_EQ(SaveTitle(good, L"Fine"), S_OK);
    EXPECT_EQ(ReadTitle(good), L"Fine");
}

TEST(TagSaveSafety, WavSizesThatDisagreeWithTheFileAreRefused) {
    auto dir = MakeTempDir("wav_sizes");
    auto good = MakeWav(dir, "good.wav");
    auto bytes = ReadFile(good);
    // RIFF and data sizes of 0, as a writer that never finished its header leaves them.
    auto zero = bytes;
    PutLe(zero, 4, 0, 4);
    size_t dataAt = 12;
    while (std::memcmp(&zero[dataAt], "data", 4) != 0) dataAt += 8 + GetLe(zero, dataAt + 4, 4);
    PutLe(zero, dataAt + 4, 0, 4);
    WriteBytes(dir / "zero.wav", zero);
    // A RIFF size past the end of the file.
    auto longer = bytes;
    PutLe(longer, 4, GetLe(bytes, 4, 4) + 1000, 4);
    WriteBytes(dir / "longer.wav", longer);
    // Thousands of empty chunks ahead of the audio.
    std::vector<uint8_t> many(bytes.begin(), bytes.begin() + 12);
    for (int i = 0; i < 20000; ++i) {
        const uint8_t junk[8] = {'J', 'U', 'N', 'K', 0, 0, 0, 0};
        many.insert(many.end(), junk, junk + 8);
    }
    many.insert(many.end(), bytes.begin() + 12, bytes.end());
    PutLe(many, 4, many.size() - 8, 4);
    WriteBytes(dir / "many.wav", many);

    for (const char* name : {"zero.wav", "longer.wav", "many.wav"}) {
        SCOPED_TRACE(name);
        auto before = ReadFile(dir / name);
        HRESULT opened = E_FAIL;
        HRESULT saved = SaveTitle(dir / name, L"Not here", &opened);
        if (FAILED(opened)) continue;
        EXPECT_EQ(saved, quil::wmf::kInconsistentFile);
        EXPECT_TRUE(ReadFile(dir / name) == before);
    }
    EXPECT_EQ(SaveTitle(good, L"Here"), S_OK);
    EXPECT_EQ(ReadTitle(good), L"Here");
}

TEST(TagSaveSafety, TheAudioFingerprintSeesTheAudioAndNotTheTags) {
    auto dir = MakeTempDir("fingerprint");
    for (auto make : {MakeWav, MakeWma, MakeMp3}) {
        auto path = make(dir, "a." + std::string(make == MakeWav   ? "wav"
                                                 : make == MakeWma ? "wma"
                                                                   : "mp3"));
        auto before = quil::wmf::FingerprintAudio(path.string());
        ASSERT_TRUE(before) << path;
        EXPECT_GT(before->packets, 0u);
        ASSERT_EQ(SaveTitle(path, L"A title that moves the audio along"), S_OK) << path;
        auto after = quil::wmf::FingerprintAudio(path.string());
        ASSERT_TRUE(after);
        EXPECT_TRUE(*after == *before) << path;
    }
    auto wav = MakeWav(dir, "b.wav");
    auto before = quil::wmf::FingerprintAudio(wav.string());
    auto bytes = ReadFile(wav);
    bytes[bytes.size() - 100] ^= 0x55;
    WriteBytes(wav, bytes);
    EXPECT_FALSE(*quil::wmf::FingerprintAudio(wav.string()) == *before);
}

TEST(TagSaveSafety, ASaveRemovesCopiesThatKilledSavesLeftAndNoOneHolds) {
    auto dir = MakeTempDir("stale");
    auto wav = MakeWav(dir, "song.wav");
    std::ofstream(dir / ".song.wav.quiltag-new-AbC123") << std::string(100000, 'x');
    std::ofstream(dir / ".other.wav.quiltag-new-XyZ789") << "left by a killed save";
    // A save running in another process holds its copy locked.
    std::ofstream(dir / ".busy.wav.quiltag-new-Run000") << "being written";
    int held = ::open((dir / ".busy.wav.quiltag-new-Run000").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // Backups are never taken away: they may be the only intact copy.
    std::ofstream(dir / ".song.wav.quiltag-backup-Keep00") << "backup";
    std::ofstream(dir / "notes.txt") << "mine";

    ASSERT_EQ(SaveTitle(wav, L"Clean"), S_OK);
    ::close(held);
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{".busy.wav.quiltag-new-Run000",
                                                            ".song.wav.quiltag-backup-Keep00",
                                                            "notes.txt", "song.wav"}));
}

TEST(TagSaveSafety, AFileWithTwoLinksIsEditedInPlaceAndBothNamesSeeTheTags) {
    auto dir = MakeTempDir("links");
    for (auto make : {MakeWav, MakeMp3, MakeWma}) {
        std::string extension = make == MakeWav ? ".wav" : make == MakeWma ? ".wma" : ".mp3";
        auto path = make(dir, "first" + extension);
        auto second = dir / ("second" + extension);
        fs::create_hard_link(path, second);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        auto audio = quil::wmf::FingerprintAudio(path.string());

        ASSERT_EQ(SaveTitle(path, L"Shared"), S_OK) << extension;
        struct stat after {};
        ASSERT_EQ(::stat(second.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_nlink, 2u);
        EXPECT_EQ(ReadTitle(second), L"Shared") << extension;
        EXPECT_TRUE(*quil::wmf::FingerprintAudio(second.string()) == *audio);
    }
    // No backup or copy stays behind.
    for (const auto& name : FolderEntries(dir)) EXPECT_NE(name[0], '.') << name;
}

TEST(TagSaveSafety, ExtendedAttributesAndModeSurviveASave) {
    auto dir = MakeTempDir("xattrs");
    auto wav = MakeWav(dir, "labelled.wav");
    const char value[] = "keep me";
    if (::setxattr(wav.c_str(), "user.quillet.note", value, sizeof value, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    ASSERT_EQ(::chmod(wav.c_str(), 0640), 0);
    ASSERT_EQ(SaveTitle(wav, L"Labelled"), S_OK);
    char read[32] = {};
    ASSERT_EQ(::getxattr(wav.c_str(), "user.quillet.note", read, sizeof read),
              static_cast<ssize_t>(sizeof value));
    EXPECT_STREQ(read, value);
    struct stat info {};
    ASSERT_EQ(::stat(wav.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadTitle(wav), L"Labelled");
}

TEST(TagSaveSafety, TheTagLibraryTalksToItsOwnLogNotToTheStandardStreams) {
    auto dir = MakeTempDir("quiet");
    auto wav = MakeWav(dir, "odd.wav");
    auto bytes = ReadFile(wav);
    // A chunk that claims more than the file holds makes the library complain.
    const uint8_t odd[8] = {'o', 'd', 'd', ' ', 0xFF, 0xFF, 0xFF, 0x00};
    bytes.insert(bytes.end(), odd, odd + 8);
    PutLe(bytes, 4, bytes.size() - 8, 4);
    WriteBytes(wav, bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ReadTitle(wav);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.find("TagLib"), std::string::npos) << out;
    EXPECT_EQ(err.find("TagLib"), std::string::npos) << err;
    // Debian's TagLib is built without its debug lines; a build with them fills the log.
    EXPECT_LE(quil::wmf::TagLibMessages().size(), 100u);
}

}  // namespace
