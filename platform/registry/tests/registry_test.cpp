#include "platform/registry/registry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testsupport/test_support.h"

namespace quil::registry {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<fs::path> Backups(Root root) {
    fs::path store = StorePath(root);
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(store.parent_path())) {
        if (entry.path().filename().string().starts_with(store.filename().string() + ".bad-")) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// Runs `body` in a child process; returns its exit status.
template <typename Fn>
int InChild(Fn body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(fs::path(StorePath(Root::LocalMachine)).parent_path(), ignored);
    }
};

TEST_F(RegistryTest, CreatesReadsAndWritesTypedValues) {
    EXPECT_FALSE(Key::Open(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet"));
    auto key = Key::Create(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->WriteDword("Output Format", 3));
    EXPECT_TRUE(key->WriteString("Output Folder", "/home/u/Quilfetch"));
    EXPECT_TRUE(key->WriteString("", "default value"));
    EXPECT_EQ(key->ReadDword("Output Format"), 3u);
    EXPECT_EQ(key->ReadString("Output Folder"), "/home/u/Quilfetch");
    EXPECT_EQ(key->ReadString(""), "default value");
    EXPECT_FALSE(key->ReadDword("Missing"));

    EXPECT_TRUE(key->WriteDword("Output Format", 0xffffffffu));
    EXPECT_EQ(key->ReadDword("Output Format"), 0xffffffffu);
    EXPECT_TRUE(Key::Open(Root::LocalMachine, "SOFTWARE\\Corvane"));
    EXPECT_FALSE(Key::Open(Root::CurrentUser, "SOFTWARE\\Corvane"));

    auto values = key->Values();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "Output Format");
    EXPECT_EQ(values[0].Type(), ValueType::Dword);
    EXPECT_EQ(values[1].Type(), ValueType::String);

    EXPECT_TRUE(key->DeleteValue("output folder"));
    EXPECT_FALSE(key->DeleteValue("output folder"));
    EXPECT_FALSE(key->ReadString("Output Folder"));
}

TEST_F(RegistryTest, TypeMismatchReadsAsMissing) {
    auto key = Key::Create(Root::CurrentUser, "Software\\Test");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteString("Number", "42"));
    ASSERT_TRUE(key->WriteDword("Text", 7));
    EXPECT_FALSE(key->ReadDword("Number"));
    EXPECT_FALSE(key->ReadString("Text"));
    EXPECT_EQ(key->ReadValue("Number")->Type(), ValueType::String);

    // Rewriting with the other type replaces the value.
    ASSERT_TRUE(key->WriteDword("Number", 42));
    EXPECT_EQ(key->ReadDword("Number"), 42u);
    EXPECT_FALSE(key->ReadString("Number"));
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndCasePreserving) {
    auto key = Key::Create(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet");
    ASSERT_TRUE(key);
    auto again = Key::Create(Root::LocalMachine, "software\\CORVANE\\quillet\\Sub");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "SOFTWARE\\Corvane\\Quillet\\Sub");

    auto opened = Key::Open(Root::LocalMachine, "Software\\corvane\\QUILLET");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path(), "SOFTWARE\\Corvane\\Quillet");

    ASSERT_TRUE(key->WriteDword("Wav Format", 2));
    EXPECT_EQ(opened->ReadDword("WAV FORMAT"), 2u);
    ASSERT_TRUE(opened->WriteDword("wav format", 5));
    auto values = key->Values();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "Wav Format");
    EXPECT_EQ(key->ReadDword("Wav Format"), 5u);

    auto parent = Key::Open(Root::LocalMachine, "SOFTWARE\\CORVANE");
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->SubKeyNames(), std::vector<std::string>{"Quillet"});
}

TEST_F(RegistryTest, EnumeratesAndDeletesTrees) {
    auto root = Key::Create(Root::ClassesRoot, "CLSID");
    ASSERT_TRUE(root);
    ASSERT_TRUE(root->CreateSubKey("{B}\\InprocServer32"));
    ASSERT_TRUE(root->CreateSubKey("{a}"));
    ASSERT_TRUE(root->CreateSubKey("{C}"));
    ASSERT_TRUE(Key::Create(Root::ClassesRoot, "CLSIDX"));
    auto names = root->SubKeyNames();
    EXPECT_EQ(names, (std::vector<std::string>{"{a}", "{B}", "{C}"}));

    ASSERT_TRUE(root->OpenSubKey("{b}\\inprocserver32")->WriteString("", "/x.so"));
    EXPECT_TRUE(root->DeleteSubKey("{B}"));
    EXPECT_FALSE(root->OpenSubKey("{B}"));
    EXPECT_FALSE(Key::Open(Root::ClassesRoot, "CLSID\\{B}\\InprocServer32"));
    EXPECT_FALSE(root->DeleteSubKey("{B}"));
    EXPECT_FALSE(root->DeleteSubKey(""));
    EXPECT_TRUE(Key::Open(Root::ClassesRoot, "CLSIDX"));
    EXPECT_EQ(root->SubKeyNames().size(), 2u);
}

TEST_F(RegistryTest, WritingToADeletedKeyFails) {
    auto key = Key::Create(Root::CurrentUser, "Gone\\Soon");
    ASSERT_TRUE(key);
    ASSERT_TRUE(Key::Open(Root::CurrentUser, "Gone")->DeleteSubKey("Soon"));
    EXPECT_FALSE(key->WriteDword("x", 1));
    EXPECT_FALSE(key->ReadDword("x"));
    EXPECT_FALSE(Key::Open(Root::CurrentUser, "Gone\\Soon"));
}

TEST_F(RegistryTest, KeepsAwkwardTextThroughTheFile) {
    const std::string awkward = "line one\nline \"two\"\\\tend\x01 caf\xc3\xa9 [x]=y";
    auto key = Key::Create(Root::LocalMachine, "Odd Names\\With = and [brackets]");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteString("name \"quoted\" = x", awkward));
    EXPECT_EQ(0, InChild([&] {
                  auto child = Key::Open(Root::LocalMachine, "odd names\\with = and [BRACKETS]");
                  return child && child->ReadString("NAME \"QUOTED\" = X") == awkward ? 0 : 1;
              }));
    EXPECT_FALSE(Key::Create(Root::LocalMachine, "Bad\nName"));
}

TEST_F(RegistryTest, PersistsAcrossProcesses) {
    EXPECT_EQ(0, InChild([] {
                  auto key = Key::Create(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet");
                  return key && key->WriteDword("Written By Child", 11) &&
                                 key->WriteString("Name", "child")
                             ? 0
                             : 1;
              }));
    auto key = Key::Open(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadDword("Written By Child"), 11u);
    EXPECT_EQ(key->ReadString("Name"), "child");

    // A change made by another process after this one has read the store is seen.
    EXPECT_EQ(0, InChild([] {
                  auto key = Key::Open(Root::LocalMachine, "SOFTWARE\\Corvane\\Quillet");
                  return key && key->WriteDword("Written By Child", 12) ? 0 : 1;
              }));
    EXPECT_EQ(key->ReadDword("Written By Child"), 12u);

    std::string text = ReadText(StorePath(Root::LocalMachine));
    EXPECT_NE(text.find("[SOFTWARE\\Corvane\\Quillet]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Written By Child\"=dword:0000000c"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Name\"=\"child\""), std::string::npos) << text;
}

TEST_F(RegistryTest, ReadsAHandEditedFile) {
    WriteText(
        StorePath(Root::CurrentUser),
        "Quillet registry 1\r\n; edited by hand\r\n\r\n[Software\\Test]\r\n"
        "\"A\"=dword:1F\r\n@=\"def\"\r\n\"A\"=dword:20\r\n[Software\\Test]\r\n\"B\"=\"b\"\r\n");
    auto key = Key::Open(Root::CurrentUser, "software\\test");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadDword("a"), 0x20u);
    EXPECT_EQ(key->ReadString(""), "def");
    EXPECT_EQ(key->ReadString("B"), "b");
    EXPECT_TRUE(Key::Open(Root::CurrentUser, "Software"));
}

// One damaged line costs that line only: every value that reads is kept, read and written
// back, and the whole damaged file is kept aside.
TEST_F(RegistryTest, DamagedLinesAreSetAsideAndEveryReadableValueKept) {
    const std::string damaged =
        "Quillet registry 1\n[Good]\n\"before\"=dword:00000001\n\"v\"=dword:zz\n"
        "\"after\"=\"kept\"\n[Broken\n\"orphan\"=dword:00000002\n[Other]\n@=\"x\"\n";
    WriteText(StorePath(Root::LocalMachine), damaged);

    testing::internal::CaptureStderr();
    auto good = Key::Open(Root::LocalMachine, "Good");
    std::string warned = testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find("damaged (line 4)"), std::string::npos) << warned;
    ASSERT_TRUE(good);
    EXPECT_EQ(good->ReadDword("before"), 1u);
    EXPECT_EQ(good->ReadString("after"), "kept");
    EXPECT_FALSE(good->ReadValue("v"));
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Other")->ReadString(""), "x");
    EXPECT_TRUE(Backups(Root::LocalMachine).empty());  // reading alone changes nothing
    EXPECT_EQ(ReadText(StorePath(Root::LocalMachine)), damaged);

    testing::internal::CaptureStderr();
    auto key = Key::Create(Root::LocalMachine, "Fresh");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteDword("v", 1));
    warned = testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find(".bad-"), std::string::npos) << warned;

    auto backups = Backups(Root::LocalMachine);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadText(backups[0]), damaged);
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Fresh")->ReadDword("v"), 1u);
    // The saved store holds every value that read, and nothing of the damaged lines.
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Good")->ReadDword("before"), 1u);
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Good")->ReadString("after"), "kept");
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Other")->ReadString(""), "x");
    EXPECT_FALSE(Key::Open(Root::LocalMachine, "Broken"));
    std::string saved = ReadText(StorePath(Root::LocalMachine));
    EXPECT_EQ(saved.find("zz"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("orphan"), std::string::npos) << saved;
    // The saved file is whole again: the next write sets nothing aside.
    ASSERT_TRUE(key->WriteDword("w", 2));
    EXPECT_EQ(Backups(Root::LocalMachine).size(), 1u);
}

// A process that keeps the store locked makes writers give up after a while, naming the lock,
// instead of hanging them.
TEST_F(RegistryTest, AHeldLockFailsTheWriteAfterABoundedWait) {
    ASSERT_TRUE(Key::Create(Root::CurrentUser, "Software"));
    std::string lockPath = StorePath(Root::CurrentUser) + ".lock";
    int holder[2];
    ASSERT_EQ(pipe(holder), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
        char ready = 1;
        if (write(holder[1], &ready, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(holder[0], &ready, 1), 1);
    testing::internal::CaptureStderr();
    bool written = Key::Open(Root::CurrentUser, "Software")->WriteDword("v", 1);
    std::string warned = testing::internal::GetCapturedStderr();
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(holder[0]);
    close(holder[1]);
    EXPECT_FALSE(written);
    EXPECT_NE(warned.find(lockPath), std::string::npos) << warned;
    // Once the holder is gone, writes go through again.
    EXPECT_TRUE(Key::Open(Root::CurrentUser, "Software")->WriteDword("v", 1));
    EXPECT_EQ(Key::Open(Root::CurrentUser, "Software")->ReadDword("v"), 1u);
}

TEST_F(RegistryTest, FileWithoutHeaderOrBinaryIsCorrupt) {
    WriteText(StorePath(Root::ClassesRoot), std::string("\x7f"
                                                        "ELF\0\0\x01",
                                                        7));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Key::Open(Root::ClassesRoot, ""));  // the root is always there
    EXPECT_TRUE(Key::Open(Root::ClassesRoot, "")->SubKeyNames().empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("damaged"), std::string::npos);

    WriteText(StorePath(Root::ClassesRoot), "");  // empty is simply empty
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Key::Create(Root::ClassesRoot, "CLSID"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(Backups(Root::ClassesRoot).empty());
}

TEST_F(RegistryTest, UnreadableFileIsMovedAsideNotOverwritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteText(StorePath(Root::CurrentUser), "Quillet registry 1\n[Keep]\n\"x\"=dword:00000001\n");
    fs::permissions(StorePath(Root::CurrentUser), fs::perms::none);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Key::Open(Root::CurrentUser, "Keep"));
    ASSERT_TRUE(Key::Create(Root::CurrentUser, "New"));
    std::string warned = testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find("cannot be read"), std::string::npos) << warned;
    auto backups = Backups(Root::CurrentUser);
    ASSERT_EQ(backups.size(), 1u);
    fs::permissions(backups[0], fs::perms::owner_read);
    EXPECT_NE(ReadText(backups[0]).find("[Keep]"), std::string::npos);
}

TEST_F(RegistryTest, SaveLeavesNoTemporaryFiles) {
    auto key = Key::Create(Root::LocalMachine, "A");
    ASSERT_TRUE(key);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(key->WriteDword("n", i));
    fs::path folder = fs::path(StorePath(Root::LocalMachine)).parent_path();
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
    }
}

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
    ASSERT_TRUE(Key::Create(Root::LocalMachine, "SOFTWARE\\Shared"));
    constexpr int kPerWriter = 150;
    auto writer = [](const char* prefix) {
        return [prefix] {
            auto key = Key::Open(Root::LocalMachine, "SOFTWARE\\Shared");
            if (!key) return 1;
            for (int i = 0; i < kPerWriter; ++i) {
                if (!key->WriteDword(std::string(prefix) + std::to_string(i), i)) return 2;
                if (i % 10 == 0 &&
                    !key->CreateSubKey(std::string(prefix) + "sub" + std::to_string(i)))
                    return 3;
            }
            return 0;
        };
    };
    pid_t first = fork();
    if (first == 0) _exit(writer("a")());
    pid_t second = fork();
    if (second == 0) _exit(writer("b")());
    int status = 0;
    waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    waitpid(second, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto key = Key::Open(Root::LocalMachine, "SOFTWARE\\Shared");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Values().size(), 2u * kPerWriter);
    for (int i = 0; i < kPerWriter; ++i) {
        EXPECT_EQ(key->ReadDword("a" + std::to_string(i)), static_cast<uint32_t>(i));
        EXPECT_EQ(key->ReadDword("b" + std::to_string(i)), static_cast<uint32_t>(i));
    }
    EXPECT_EQ(key->SubKeyNames().size(), 2u * (kPerWriter / 10));
}

}  // namespace
}  // namespace quil::registry
