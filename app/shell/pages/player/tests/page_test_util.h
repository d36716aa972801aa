#pragma once

// Shared by the tests of the media list pages: a QApplication (offscreen unless the caller
// chose a platform, so screenshots can be taken under Xvfb), media files made with ffmpeg, the
// output folder in the settings key, and small ways to read a page's list.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

#include "app/controls/skin.h"
#include "app/settings/settings_key.h"
#include "app/shell/pages/player/file_list_model.h"
#include "app/shell/pages/player/media_list_page.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::shell::test {

using testing::TestPageHost;
using testing::WaitFor;

// The program's look, as Quilmain applies it, so sizes and screenshots are what users see.
inline void EnsureApplication() {
    testing::EnsureApplication();
    static const bool styled = [] {
        controls::ApplyProgramLook(*qApp);
        return true;
    }();
    (void)styled;
}

// Playback of these tests goes to a null sink of their own, once per test process, so it never
// mixes into what other sound tests record from or watch on the default sink.
inline void UsePrivateSink() {
    static quil::test::NullSink sink("pages");
    if (sink.Loaded()) setenv("PULSE_SINK", sink.name().c_str(), 1);
}

inline std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// A sine tone of `seconds` as a file whose container follows the extension.
inline bool MakeTone(const std::filesystem::path& path, double seconds, int rate = 44100,
                     int channels = 2) {
    return quil::test::RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=" +
                                  std::to_string(rate) + ":duration=" + std::to_string(seconds) +
                                  " -ac " + std::to_string(channels) + " " + Quote(path)) == 0;
}

// Colour bars with a moving counter; with or without a tone.
inline bool MakeVideo(const std::filesystem::path& path, int width, int height, double seconds,
                      bool withAudio) {
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                          ":rate=25:duration=" + std::to_string(seconds) + " ";
    if (withAudio)
        command += "-f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) + " ";
    command += "-c:v mpeg4 -q:v 5 " + std::string(withAudio ? "-c:a mp2 " : "-an ") + Quote(path);
    return quil::test::RunCommand(command) == 0;
}

inline void WriteBytes(const std::filesystem::path& path, size_t count) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::string bytes(count, 'x');
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

inline void SetOutputFolder(const std::filesystem::path& folder) {
    auto key = settings::SettingsKey::ForSave();
    key.WriteString("Output directory", folder.string() + "/");
}

inline QString Cell(const FileListModel* model, int row, int column) {
    return model->data(model->index(row, column), Qt::DisplayRole).toString();
}

inline QStringList Column(const FileListModel* model, int column) {
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) texts << Cell(model, row, column);
    return texts;
}

inline int CountPosted(TestPageHost& host, UINT message) {
    host.Collect();
    int count = 0;
    for (const Message& posted : host.posted) count += posted.message == message ? 1 : 0;
    return count;
}

inline std::string Str(const QString& text) {
    return text.toStdString();
}

}  // namespace quil::shell::test
