#include "platform/profile/profile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = quil::test::MakeTempDir("profile");
        path_ = (dir_ / "test.ini").string();
    }

    std::string Get(const char* section, const char* key, const char* fallback = "default",
                    DWORD size = 260, DWORD* length = nullptr) {
        char buffer[260];
        std::memset(buffer, 0x0c, sizeof buffer);
        DWORD got = GetPrivateProfileStringA(section, key, fallback, buffer, size, path_.c_str());
        if (length) *length = got;
        return std::string(buffer, got);
    }

    fs::path dir_;
    std::string path_;
};

constexpr const char* kSample =
    "[section1]\r\n"
    "name1=val1\r\n"
    "name2=\"val2\"\r\n"
    "name3\r\n"
    "name4=a\r\n"
    "[section2]\r\n";

TEST_F(ProfileTest, ReadsValuesWithoutRegardToCase) {
    WriteText(path_, kSample);
    EXPECT_EQ(Get("section1", "name1"), "val1");
    EXPECT_EQ(Get("SECTION1", "NaMe1"), "val1");
    EXPECT_EQ(Get("section1", "name2"), "val2");  // quotes stripped
    EXPECT_EQ(Get("section1", "name4"), "a");
    EXPECT_EQ(Get("section1", "name3"), "default");  // no "=": not a key
    EXPECT_EQ(Get("section1", "notakey"), "default");
    EXPECT_EQ(Get("notasection", "name1"), "default");
    EXPECT_EQ(Get("", "name1"), "default");
    EXPECT_EQ(Get("section1", ""), "default");
    EXPECT_EQ(Get("section2", "DoesntExist", ""), "");
}

TEST_F(ProfileTest, AcceptsEveryLineEnd) {
    WriteText(path_, "[a]\rk1=1\r[b]\nk2=2\r\nk3=3");
    EXPECT_EQ(Get("a", "k1"), "1");
    EXPECT_EQ(Get("b", "k2"), "2");
    EXPECT_EQ(Get("b", "k3"), "3");
}

TEST_F(ProfileTest, DefaultHandling) {
    EXPECT_EQ(Get("s", "k", "default"), "default");  // no file at all
    EXPECT_EQ(Get("s", "k", nullptr), "");
    EXPECT_EQ(Get("s", "k", ""), "");
    EXPECT_EQ(Get("s", "k", "default  "), "default");  // trailing blanks dropped
    EXPECT_EQ(Get("s", "k", "one two  "), "one two");
    EXPECT_EQ(Get("s", "k", "  lead"), "  lead");

    char buffer[16] = "kumquat";
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "default", buffer, sizeof buffer, nullptr), 7u);
    EXPECT_STREQ(buffer, "default");
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "default", buffer, sizeof buffer, ""), 7u);
}

TEST_F(ProfileTest, CutsToTheBufferSize) {
    WriteText(path_, kSample);
    char buffer[8];
    std::strcpy(buffer, "kumquat");
    EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "default", buffer, 0, path_.c_str()),
              0u);
    EXPECT_STREQ(buffer, "kumquat");  // untouched

    DWORD length = 0;
    EXPECT_EQ(Get("section1", "name1", "default", 4, &length), "val");
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(Get("section1", "name1", "default", 5, &length), "val1");
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(Get("section1", "name4", "default", 1, &length), "");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(Get("missing", "x", "default", 3, &length), "de");  // the default is cut too

    // The 256-byte reads of the schedule: at most 255 characters come back.
    std::string longTitle(400, 'x');
    ASSERT_TRUE(
        WritePrivateProfileStringA("Task 1", "strTaskTitle", longTitle.c_str(), path_.c_str()));
    char title[256];
    EXPECT_EQ(
        GetPrivateProfileStringA("Task 1", "strTaskTitle", "", title, sizeof title, path_.c_str()),
        255u);
    EXPECT_EQ(std::string(title), std::string(255, 'x'));
}

TEST_F(ProfileTest, ListsSectionAndKeyNames) {
    WriteText(path_, kSample);
    DWORD length = 0;
    std::string list = Get(nullptr, "name1", "default", 260, &length);
    EXPECT_EQ(length, 18u);
    EXPECT_EQ(list, std::string("section1\0section2\0", 18));

    list = Get("section1", nullptr, "default", 260, &length);
    EXPECT_EQ(length, 18u);
    EXPECT_EQ(list, std::string("name1\0name2\0name4\0", 18));

    // Cut lists still end in two zeros and report size - 2.
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, "x", "d", buffer, 16, path_.c_str()), 14u);
    EXPECT_EQ(std::string(buffer, 16), std::string("section1\0secti\0\0", 16));
    EXPECT_EQ(GetPrivateProfileStringA("section1", nullptr, "d", buffer, 16, path_.c_str()), 14u);
    EXPECT_EQ(std::string(buffer, 16), std::string("name1\0name2\0na\0\0", 16));
}

TEST_F(ProfileTest, TrimsBlanksAndKeepsEqualsInValues) {
    WriteText(path_,
              "  [ Spaced Section ]  trailing text\n"
              "  key one  =  value with = signs = here  \n"
              "\tquoted\t= \"  inner blanks  \" \n"
              "single='x'\n"
              "half=\"open\n"
              "mixed=\"a'\n"
              "empty=\n"
              "=no name\n"
              "; comment=not a key\n"
              "dup=first\n"
              "DUP=second\n"
              "[spaced section]\n"
              "dup=other section\n");
    EXPECT_EQ(Get("Spaced Section", "key one"), "value with = signs = here");
    EXPECT_EQ(Get("  spaced section  ", "  KEY ONE "), "value with = signs = here");
    EXPECT_EQ(Get("spaced section", "quoted"), "  inner blanks  ");
    EXPECT_EQ(Get("spaced section", "single"), "x");
    EXPECT_EQ(Get("spaced section", "half"), "\"open");
    EXPECT_EQ(Get("spaced section", "mixed"), "\"a'");
    EXPECT_EQ(Get("spaced section", "empty"), "");
    EXPECT_EQ(Get("spaced section", ""), "no name");
    EXPECT_EQ(Get("spaced section", "; comment"), "default");
    EXPECT_EQ(Get("spaced section", "dup"), "first");  // first section, first key win
}

TEST_F(ProfileTest, WriteBuildsTheFileInOrder) {
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", "string1", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key2", "string2", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key3", "string3", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App2", "key4", "string4", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App3", "key5", "string5", path_.c_str()));
    EXPECT_EQ(ReadText(path_),
              "[App1]\nkey1=string1\nkey2=string2\nkey3=string3\n"
              "[App2]\nkey4=string4\n[App3]\nkey5=string5\n");

    ASSERT_TRUE(WritePrivateProfileStringA("app1", "KEY2", nullptr, path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key2", nullptr, path_.c_str()));
    EXPECT_EQ(ReadText(path_),
              "[App1]\nkey1=string1\nkey3=string3\n[App2]\nkey4=string4\n[App3]\nkey5=string5\n");

    ASSERT_TRUE(WritePrivateProfileStringA("App1", nullptr, "ignored", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("App2", nullptr, nullptr, path_.c_str()));
    EXPECT_EQ(ReadText(path_), "[App3]\nkey5=string5\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App3", "key5", nullptr, path_.c_str()));
    EXPECT_EQ(ReadText(path_), "[App3]\n");

    ASSERT_TRUE(WritePrivateProfileStringA("App", "key", "", path_.c_str()));
    EXPECT_EQ(Get("App", "key"), "");
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "x", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "x", ""));
}

TEST_F(ProfileTest, WriteKeepsOtherLinesAsTheyWere) {
    const std::string original =
        "; schedule\r\n"
        "[Task Count]\r\n"
        "  nCount = 1 \r\n"
        "\r\n"
        "[Task 1]\r\n"
        "dwID=7536671\r\n"
        "strTaskTitle=Morning\r\n"
        "\r\n"
        "[Other]\r\n"
        "x=1";
    WriteText(path_, original);
    ASSERT_TRUE(WritePrivateProfileStringA("task count", "NCOUNT", "2", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Task 1", "bActiveTask", "1", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Task 2", "dwID", "9", path_.c_str()));
    EXPECT_EQ(ReadText(path_),
              "; schedule\r\n"
              "[Task Count]\r\n"
              "nCount=2\r\n"
              "\r\n"
              "[Task 1]\r\n"
              "dwID=7536671\r\n"
              "strTaskTitle=Morning\r\n"
              "bActiveTask=1\r\n"
              "\r\n"
              "[Other]\r\n"
              "x=1\r\n"
              "[Task 2]\r\n"
              "dwID=9\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Task Count", "nCount", 0, path_.c_str()), 2u);
}

TEST_F(ProfileTest, ValuesReadBackAsWindowsReadsThem) {
    ASSERT_TRUE(WritePrivateProfileStringA("s", "formula", "a=b=c", path_.c_str()));
    EXPECT_EQ(Get("s", "formula"), "a=b=c");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "padded", "  text  ", path_.c_str()));
    EXPECT_EQ(Get("s", "padded"), "text");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "quoted", "\"  text  \"", path_.c_str()));
    EXPECT_EQ(Get("s", "quoted"), "  text  ");
}

TEST_F(ProfileTest, RefusesWhatTheFileCouldNotHold) {
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", path_.c_str()));
    const std::string before = ReadText(path_);
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "two\nlines", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "x\r[evil]", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", "a=b", "v", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", "[k", "v", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("a]b", "k", "v", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("a\nb", "k", "v", path_.c_str()));
    EXPECT_EQ(ReadText(path_), before);
}

TEST_F(ProfileTest, WriteFailsCleanlyWhereTheFolderIsMissing) {
    std::string nowhere = (dir_ / "no" / "such" / "folder.ini").string();
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", nowhere.c_str()));
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(ProfileTest, WriteReplacesTheFileAtomically) {
    WriteText(path_, "[s]\nk=old\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct stat before {};
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "new", path_.c_str()));
    struct stat after {};
    ASSERT_EQ(stat(path_.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over the old one
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename(), "test.ini");  // no temporary files left
    }

    // Writing through a link changes the file it points to and keeps the link.
    fs::path link = dir_ / "link.ini";
    fs::create_symlink(path_, link);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "linked", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get("s", "k"), "linked");
}

// Every write of every writer succeeds and lands, however the writers interleave.
TEST_F(ProfileTest, ConcurrentWritersFromSeveralProcessesAllSucceed) {
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 150;
    auto writer = [&](const std::string& section) {
        int failed = 0;
        for (int i = 0; i < kPerWriter; ++i) {
            std::string key = "k" + std::to_string(i);
            if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), std::to_string(i).c_str(),
                                            path_.c_str()))
                ++failed;
        }
        _exit(failed > 0 ? 1 : 0);
    };
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) writer("S" + std::to_string(w));
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write returned FALSE";
    }
    for (int w = 0; w < kWriters; ++w) {
        std::string section = "S" + std::to_string(w);
        for (int i = 0; i < kPerWriter; ++i) {
            std::string key = "k" + std::to_string(i);
            EXPECT_EQ(GetPrivateProfileIntA(section.c_str(), key.c_str(), -1, path_.c_str()),
                      UINT(i));
        }
    }
    // The folder holds the file alone: no lock or temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, IntegersConvertAsWindowsConvertsThem) {
    struct Case {
        const char* value;
        int fallback;
        UINT expected;
    };
    const Case cases[] = {
        {"-1", 1, 4294967295u}, {"1", -1, 1},          {"+1", -1, 1},
        {"4294967296", 1, 0},   {"4294967297", -1, 1}, {"-4294967297", 1, 4294967295u},
        {"42A94967297", 1, 42}, {"B4294967297", 1, 0}, {"", 7, 7},
        {"\"12\"", 0, 12},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WritePrivateProfileStringA("Test", "ProfileInt", c.value, path_.c_str()));
        EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", c.fallback, path_.c_str()),
                  c.expected)
            << c.value;
    }
    EXPECT_EQ(GetPrivateProfileIntA("Test", "Missing", -1, path_.c_str()), 4294967295u);
    EXPECT_EQ(GetPrivateProfileIntA("Missing", "ProfileInt", 5, path_.c_str()), 5u);
    EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 5, (dir_ / "none.ini").c_str()), 5u);
}

}  // namespace
