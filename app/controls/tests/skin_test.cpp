// Drawings of the skin that stand in for the style sheet where it does not reach.

#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>

#include "app/controls/skin.h"
#include "app/shell/testing/qt_application.h"

namespace quil::controls {
namespace {

TEST(CheckBoxIconTest, DrawnAtTheAskedPixelRatioInTheIndicatorColours) {
    shell::testing::EnsureApplication();
    for (qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const QPixmap on = CheckBoxIcon(true).pixmap(QSize(16, 16), ratio);
        const QPixmap off = CheckBoxIcon(false).pixmap(QSize(16, 16), ratio);
        EXPECT_EQ(on.size(), QSize(16, 16) * ratio);
        EXPECT_EQ(on.devicePixelRatio(), ratio);
        const QImage onImage = on.toImage(), offImage = off.toImage();
        const int middle = static_cast<int>(8 * ratio);
        EXPECT_EQ(onImage.pixelColor(middle, middle), colors::kAccent);
        EXPECT_EQ(offImage.pixelColor(middle, middle), colors::kPanel);
        // The unchecked box has a visible border (left edge at 1 px) and a clear margin.
        EXPECT_GT(offImage.pixelColor(static_cast<int>(1 * ratio), middle).lightness(),
                  colors::kPanel.lightness() + 40);
        EXPECT_EQ(offImage.pixelColor(0, 0).alpha(), 0);
    }
}

}  // namespace
}  // namespace quil::controls
