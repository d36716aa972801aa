// The skinned slider on the offscreen platform: value and pixel rules, mouse and keys, the
// messages it posts, transparency and the empty range.

#include <gtest/gtest.h>

#include <QTest>

#include "app/controls/bitmap_slider.h"
#include "app/controls/skin.h"
#include "app/shell/messages.h"
#include "app/shell/testing/qt_application.h"
#include "platform/window/window.h"

namespace quil::controls {
namespace {

QImage Solid(QSize size, QColor color) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

class BitmapSliderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(slider.SetChannel(Solid({200, 10}, Qt::darkGray)));
        ASSERT_TRUE(slider.SetThumb(Solid({10, 10}, Qt::white)));
        slider.SetNotify(window.handle(), 7);
        slider.show();
    }

    std::vector<Message> Posted() {
        std::vector<Message> messages;
        while (auto message = window.Take(std::chrono::milliseconds(0)))
            messages.push_back(*message);
        return messages;
    }

    shell::testing::ApplicationFirst application;
    QueueWindow window;
    BitmapSlider slider;
};

TEST_F(BitmapSliderTest, TakesTheChannelSizeAndMapsValuesToPixels) {
    EXPECT_EQ(slider.size(), QSize(200, 10));
    EXPECT_EQ(slider.ValueToPixel(50), 100);
    EXPECT_EQ(slider.ValueToPixel(0), 5);
    EXPECT_EQ(slider.ValueToPixel(100), 195);
    EXPECT_EQ(slider.PixelToValue(100), 50);
    slider.SetMargin(10, 0, 10, 0);
    EXPECT_EQ(slider.ValueToPixel(0), 15);
    EXPECT_EQ(slider.ValueToPixel(100), 185);
}

TEST_F(BitmapSliderTest, PositionsAreClampedMaximumFirst) {
    slider.SetPos(150);
    EXPECT_EQ(slider.GetPos(), 100);
    slider.SetPos(-5);
    EXPECT_EQ(slider.GetPos(), 0);
}

TEST_F(BitmapSliderTest, AClickAwayFromTheThumbJumpsAndPostsMovedThenReleased) {
    slider.SetPos(50);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(140, 5));
    auto messages = Posted();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, shell::MSG_SLIDER_MOVED);
    EXPECT_EQ(messages[0].wParam, 7u);
    EXPECT_EQ(slider.GetPos(), slider.PixelToValue(140));
    EXPECT_EQ(messages[0].lParam, slider.GetPos());
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(140, 5));
    messages = Posted();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, shell::MSG_SLIDER_RELEASED);
}

TEST_F(BitmapSliderTest, AClickOnTheThumbWithoutMovementPostsOnlyReleased) {
    slider.SetPos(50);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(102, 5));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(102, 5));
    auto messages = Posted();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, shell::MSG_SLIDER_RELEASED);
    EXPECT_EQ(slider.GetPos(), 50);
}

TEST_F(BitmapSliderTest, DraggingKeepsTheGripAndStopsAtTheEnds) {
    slider.SetPos(50);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(103, 5));
    QTest::mouseMove(&slider, QPoint(123, 5));
    EXPECT_EQ(slider.GetPos(), slider.PixelToValue(120));
    QTest::mouseMove(&slider, QPoint(400, 5));
    EXPECT_EQ(slider.GetPos(), 100);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(400, 5));
}

TEST_F(BitmapSliderTest, KeysMoveByOneByPageAndToTheEnds) {
    slider.setFocus();
    slider.SetPos(90);
    QTest::keyClick(&slider, Qt::Key_PageDown);
    EXPECT_EQ(slider.GetPos(), 100);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    EXPECT_EQ(slider.GetPos(), 80);
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_EQ(slider.GetPos(), 79);
    QTest::keyClick(&slider, Qt::Key_Down);
    EXPECT_EQ(slider.GetPos(), 80);
    QTest::keyClick(&slider, Qt::Key_Home);
    EXPECT_EQ(slider.GetPos(), 0);
    QTest::keyClick(&slider, Qt::Key_End);
    EXPECT_EQ(slider.GetPos(), 100);
    auto messages = Posted();
    ASSERT_EQ(messages.size(), 6u);
    for (const Message& m : messages) EXPECT_EQ(m.message, shell::MSG_SLIDER_RELEASED);
    EXPECT_EQ(slider.SetPageSize(5), 20);
}

TEST_F(BitmapSliderTest, ADisabledSliderIgnoresClicksAndKeysAndDrawsNoThumb) {
    slider.SetPos(50);
    slider.Enable(false);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::keyClick(&slider, Qt::Key_End);
    EXPECT_EQ(slider.GetPos(), 50);
    EXPECT_TRUE(Posted().empty());
    const QImage drawn = slider.grab().toImage();
    EXPECT_NE(drawn.pixelColor(100, 5), QColor(Qt::white));
    slider.Enable(true);
    EXPECT_EQ(slider.grab().toImage().pixelColor(100, 5), QColor(Qt::white));
}

TEST_F(BitmapSliderTest, DisablingWhileDraggingEndsTheDrag) {
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(100, 5));
    ASSERT_TRUE(slider.IsDragging());
    slider.Enable(false);
    EXPECT_FALSE(slider.IsDragging());
}

TEST_F(BitmapSliderTest, TheKeyPixelsColourBecomesTransparent) {
    QImage channel = Solid({200, 10}, Qt::darkGray);
    channel.setPixelColor(0, 0, Qt::magenta);
    channel.setPixelColor(5, 5, Qt::magenta);
    ASSERT_TRUE(slider.SetChannel(channel, {}, true, BitmapSlider::kKeyFromPixel, 0, 0));
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::blue);
    parent.setPalette(palette);
    parent.resize(200, 10);
    slider.setParent(&parent);
    slider.SetPos(100);
    slider.move(0, 0);
    parent.show();
    const QImage drawn = parent.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_EQ(drawn.pixelColor(6, 5), QColor(Qt::darkGray));
    slider.setParent(nullptr);
}

TEST_F(BitmapSliderTest, AnEmptyRangeIsSafe) {
    slider.SetRange(40, 40);
    EXPECT_EQ(slider.GetPos(), 40);
    EXPECT_EQ(slider.ValueToPixel(40), 5);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(150, 5));
    QTest::mouseMove(&slider, QPoint(190, 5));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(190, 5));
    EXPECT_EQ(slider.GetPos(), 40);
    slider.grab();
}

TEST_F(BitmapSliderTest, AVerticalSliderRunsTopToBottom) {
    BitmapSlider vertical;
    vertical.SetVertical(true);
    ASSERT_TRUE(vertical.SetChannel(Solid({10, 200}, Qt::darkGray)));
    ASSERT_TRUE(vertical.SetThumb(Solid({10, 10}, Qt::white)));
    vertical.SetPos(50);
    EXPECT_EQ(vertical.ValueToPixel(50), 100);
}

TEST_F(BitmapSliderTest, AnUnusableImageIsRefused) {
    EXPECT_FALSE(
        slider.SetChannel(Solid({4, 4}, Qt::red), {}, true, BitmapSlider::kKeyFromPixel, 9, 9));
    EXPECT_TRUE(slider.SetChannel(QImage()));
}

TEST(SkinTest, GlyphsAreCrispAtDoubleScale) {
    shell::testing::EnsureApplication();
    const QPixmap single = GlyphIcon(Glyph::Stop).pixmap(QSize(24, 24), 1.0);
    const QPixmap twice = GlyphIcon(Glyph::Stop).pixmap(QSize(24, 24), 2.0);
    EXPECT_EQ(single.size(), QSize(24, 24));
    EXPECT_EQ(twice.size(), QSize(48, 48)) << "drawn for the device pixels, not scaled up";
}

}  // namespace
}  // namespace quil::controls
