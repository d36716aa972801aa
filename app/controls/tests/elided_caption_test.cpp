// The path caption: a long path is shortened in the middle, keeps its lead and its file name's
// end, and fits the line; the whole text stays in the tooltip and accessible description. The
// same tests run again at scale 2 (QT_SCALE_FACTOR=2, see CMakeLists.txt).

#include <gtest/gtest.h>

#include <QFontMetrics>

#include "app/controls/elided_caption.h"
#include "app/shell/testing/qt_application.h"

namespace quil::controls {
namespace {

const QString kLead = QStringLiteral("Output file path:  ");
const QString kLongPath = QStringLiteral(
    "/home/someone/Music/Quilfetch/A very long folder name for the evening grabs/and another "
    "folder below it/Quilmain 2026-12-07 10-30-00.mp3");

class ElidedCaptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        caption.setGeometry(0, 0, 358, 20);
        caption.show();
    }
    int Advance(const QString& text) const { return caption.fontMetrics().horizontalAdvance(text); }

    shell::testing::ApplicationFirst application;
    ElidedCaption caption;
};

TEST_F(ElidedCaptionTest, ALongPathIsShortenedInTheMiddleAndFitsTheLine) {
    caption.SetText(kLead, kLongPath);
    const QString shown = caption.ShownText();
    EXPECT_LE(Advance(shown), caption.width()) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(kLead + "/home/")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("10-30-00.mp3")) << shown.toStdString();
    EXPECT_EQ(caption.Text(), kLead + kLongPath);
    EXPECT_EQ(caption.toolTip(), kLead + kLongPath);
    EXPECT_EQ(caption.accessibleDescription(), kLead + kLongPath);
}

TEST_F(ElidedCaptionTest, AShortPathIsShownWholeAndWideningShowsMore) {
    caption.SetText(kLead, "/music/a.mp3");
    EXPECT_EQ(caption.ShownText(), kLead + "/music/a.mp3");

    caption.SetText(kLead, kLongPath);
    const QString narrow = caption.ShownText();
    caption.resize(Advance(kLead + kLongPath) + 4, 20);
    EXPECT_EQ(caption.ShownText(), kLead + kLongPath);
    caption.resize(500, 20);
    EXPECT_GT(caption.ShownText().size(), narrow.size());
    EXPECT_LE(Advance(caption.ShownText()), 500);
}

TEST_F(ElidedCaptionTest, ALineNarrowerThanItsLeadStillFitsAndClearingEmptiesIt) {
    caption.resize(60, 20);
    caption.SetText(kLead, kLongPath);
    EXPECT_LE(Advance(caption.ShownText()), 60);
    EXPECT_TRUE(caption.ShownText().endsWith("p3")) << caption.ShownText().toStdString();

    caption.SetText(QString(), QString());
    EXPECT_EQ(caption.ShownText(), "");
    EXPECT_EQ(caption.toolTip(), "");
    EXPECT_EQ(caption.accessibleDescription(), "");
}

}  // namespace
}  // namespace quil::controls
