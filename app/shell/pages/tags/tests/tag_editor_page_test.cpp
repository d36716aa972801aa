// The tag editor page on a folder of MP3, WMA and WAV files made for each test, acting on its
// real widgets offscreen; tags go through the real editor.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/shell/pages/tags/tag_editor_page.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "app/tags/media_tag_editor.h"
#include "testsupport/test_support.h"

namespace quil::shell {
namespace {

namespace fs = std::filesystem;

class TagEditorPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EnsureApplication();
        folder = test::MakeTempDir("tagpage");
        page = std::make_unique<TagEditorPage>(host);
        page->resize(663, 404);
        page->show();
    }

    void MakeMedia(const std::string& name, double seconds = 1.0) {
        const fs::path path = folder / name;
        std::string extension = path.extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(c));
        const std::string codec = extension == ".wma"   ? "-c:a wmav2 -f asf"
                                  : extension == ".mp3" ? "-c:a libmp3lame -f mp3"
                                                        : "-f wav";
        const std::string command = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" +
                                    std::to_string(seconds) + " " + codec + " '" + path.string() +
                                    "'";
        ASSERT_EQ(test::RunCommand(command), 0) << command;
    }

    MediaTagRecord Read(const fs::path& path) {
        MediaTagRecord record;
        MediaTagEditor editor;
        EXPECT_TRUE(editor.ReadTags(path.c_str(), record)) << path;
        return record;
    }

    void Write(const fs::path& path, const char* title, int track) {
        MediaTagRecord record;
        std::snprintf(record.szTitle, sizeof record.szTitle, "%s", title);
        record.nTrack = track;
        MediaTagEditor editor;
        ASSERT_TRUE(editor.WriteTags(path.c_str(), record));
    }

    QLineEdit* Edit(const char* name) { return page->findChild<QLineEdit*>(name); }
    QStringList Boxes() { return host.testServices.messages.Texts(); }
    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder;
    testing::TestPageHost host;
    std::unique_ptr<TagEditorPage> page;
};

TEST_F(TagEditorPageTest, ListsOnlyTheKnownSpellingsOfTheExtensions) {
    for (const char* name : {"a.Mp3", "b.mp3", "c.WAV", "d.wma", "e.Wma", "f.ogg"}) MakeMedia(name);
    std::ofstream(folder / "notes.txt") << "x";
    page->SelectFolder(QString::fromStdString(folder.string()));
    QStringList listed = page->ListedFiles();
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"b.mp3", "c.WAV", "d.wma"}));
    EXPECT_FALSE(page->CurrentFile().isEmpty()) << "the first row is read at once";
}

TEST_F(TagEditorPageTest, TrackIsKeptFromThePreviousFileAndWrittenByUpdate) {
    MakeMedia("one.mp3");
    MakeMedia("two.mp3");
    Write(folder / "one.mp3", "One", 7);
    page->SelectFolder(QString::fromStdString(folder.string()));
    const int first = page->ListedFiles().indexOf("one.mp3");
    page->SelectRow(first);
    EXPECT_EQ(Edit("title")->text(), "One");
    EXPECT_EQ(Edit("track")->text(), "7");
    page->SelectRow(1 - first);
    EXPECT_EQ(Edit("track")->text(), "7");
    page->Update();
    EXPECT_EQ(Read(folder / "two.mp3").nTrack, 7);
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("|").toStdString();
}

TEST_F(TagEditorPageTest, RenameTakesTheTitleAndNeverOverwrites) {
    MakeMedia("x.mp3");
    page->SelectFolder(QString::fromStdString(folder.string()));
    page->findChild<QCheckBox*>("rename")->setChecked(true);
    Edit("title")->setText("Song");
    page->Update();
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Song.mp3"});
    EXPECT_EQ(page->ListedFiles(), QStringList{"Song.mp3"}) << "the list shows the new name";
    EXPECT_STREQ(Read(folder / "Song.mp3").szTitle, "Song");

    MakeMedia("y.mp3", 2.0);
    page->SelectFolder(QString::fromStdString(folder.string()));
    page->SelectRow(page->ListedFiles().indexOf("y.mp3"));
    Edit("title")->setText("Song");
    Edit("artist")->setText("Someone");
    const auto songSize = fs::file_size(folder / "Song.mp3");
    page->Update();
    EXPECT_EQ(Boxes(), QStringList{"Replacing file name is failed!"});
    EXPECT_EQ(host.testServices.messages.shown.back().caption, "Quillet 4.0");
    EXPECT_STREQ(Read(folder / "y.mp3").szAuthor, "Someone") << "the tags are written";
    EXPECT_EQ(fs::file_size(folder / "Song.mp3"), songSize);
}

TEST_F(TagEditorPageTest, HostileTitlesStayInTheFolderAndLoseNothing) {
    MakeMedia("x.mp3");
    const auto size = fs::file_size(folder / "x.mp3");
    page->SelectFolder(QString::fromStdString(folder.string()));
    page->findChild<QCheckBox*>("rename")->setChecked(true);
    const std::string longTitle(300, 'L');
    struct Case {
        std::string title;
        std::string expected;  // empty: the rename is refused
    };
    const Case cases[] = {{"../x", ".._x.mp3"},
                          {"a/b", "a_b.mp3"},
                          {".", ""},
                          {longTitle, std::string(251, 'L') + ".mp3"}};
    for (const Case& c : cases) {
        host.testServices.messages.shown.clear();
        Edit("title")->setText(QString::fromStdString(c.title));
        page->Update();
        const auto entries = FolderEntries();
        ASSERT_EQ(entries.size(), 1u) << c.title;
        if (!c.expected.empty()) {
            EXPECT_EQ(entries[0], c.expected);
            EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("|").toStdString();
        } else {
            EXPECT_EQ(Boxes(), QStringList{"Replacing file name is failed!"});
        }
        EXPECT_GE(fs::file_size(folder / entries[0]), size - 64) << "the audio is all there";
        EXPECT_TRUE(fs::exists(fs::path(page->CurrentFile().toStdString())));
    }
    EXPECT_FALSE(fs::exists(folder.parent_path() / "x.mp3"));
}

TEST_F(TagEditorPageTest, ClearEmptiesTheTextsAndKeepsTheTrackBox) {
    MakeMedia("x.wma");
    Write(folder / "x.wma", "Title", 3);
    page->SelectFolder(QString::fromStdString(folder.string()));
    EXPECT_EQ(Edit("title")->text(), "Title");
    EXPECT_EQ(Edit("track")->text(), "3");
    page->Clear();
    EXPECT_EQ(host.testServices.messages.shown.at(0).text,
              "Are you sure to permanently delete the file info?");
    EXPECT_EQ(Edit("title")->text(), "");
    EXPECT_EQ(Edit("track")->text(), "3");
    EXPECT_EQ(Read(folder / "x.wma").nTrack, -1);

    Edit("title")->setText("Again");
    host.testServices.messages.answers.push_back(QMessageBox::Cancel);
    page->Clear();
    EXPECT_EQ(Edit("title")->text(), "Again") << "Cancel keeps everything";
}

TEST_F(TagEditorPageTest, AStoredRockSelectsRockNotRockAndRoll) {
    MakeMedia("x.wav");
    MediaTagRecord record;
    std::snprintf(record.szGenre, sizeof record.szGenre, "Rock");
    MediaTagEditor editor;
    ASSERT_TRUE(editor.WriteTags((folder / "x.wav").c_str(), record));
    page->SelectFolder(QString::fromStdString(folder.string()));
    auto* genre = page->findChild<QComboBox*>("genre");
    EXPECT_EQ(genre->currentText(), "Rock");
    EXPECT_EQ(genre->count(), 148);
    EXPECT_LT(genre->findText("Rock"), genre->findText("Rock & Roll"));
}

TEST_F(TagEditorPageTest, YearTakesDigitsOnly) {
    QTest::keyClicks(Edit("year"), "19a8x4");
    EXPECT_EQ(Edit("year")->text(), "1984");
}

TEST_F(TagEditorPageTest, UpdateWritesTheLatestFileAnotherProgramChanged) {
    MakeMedia("x.mp3", 1.0);
    page->SelectFolder(QString::fromStdString(folder.string()));
    // Another program replaces the file with a longer one after the page read it.
    MakeMedia("x.mp3", 3.0);
    const auto size = fs::file_size(folder / "x.mp3");
    Edit("title")->setText("Fresh");
    page->Update();
    EXPECT_STREQ(Read(folder / "x.mp3").szTitle, "Fresh");
    EXPECT_GE(fs::file_size(folder / "x.mp3"), size);
}

TEST_F(TagEditorPageTest, AFileThatCannotBeWrittenSaysSoAndStaysUnchanged) {
    MakeMedia("x.mp3");
    page->SelectFolder(QString::fromStdString(folder.string()));
    fs::permissions(folder / "x.mp3", fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (access((folder / "x.mp3").c_str(), W_OK) == 0) {
        fs::permissions(folder, fs::perms::owner_all);
        GTEST_SKIP() << "permissions do not bind this user (root)";
    }
    const auto before = test::ReadFile(folder / "x.mp3");
    Edit("title")->setText("Nope");
    page->Update();
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(Boxes(), QStringList{"Update is failed!"});
    EXPECT_EQ(test::ReadFile(folder / "x.mp3"), before);
}

TEST_F(TagEditorPageTest, NoFileSelectedAndAFileThatWentAway) {
    page->Update();
    page->Clear();
    EXPECT_TRUE(Boxes().isEmpty());
    MakeMedia("x.mp3");
    page->SelectFolder(QString::fromStdString(folder.string()));
    fs::remove(folder / "x.mp3");
    page->Update();
    EXPECT_EQ(Boxes(), (QStringList{"Update is failed!", "Open file or get ID3Tag info failed!"}));
    EXPECT_FALSE(fs::exists(folder / "x.mp3")) << "nothing is made up in its place";
}

}  // namespace
}  // namespace quil::shell
