// The drop-down list that shortens a long entry: what it shows fits its text field and ends in
// "…", the whole entry is its tooltip, a short entry is shown whole.

#include <gtest/gtest.h>

#include <QStyleOptionComboBox>

#include "app/controls/elided_combo_box.h"
#include "app/shell/testing/qt_application.h"

namespace quil::controls {
namespace {

class ComboProbe : public ElidedComboBox {
public:
    int FieldWidth() const {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        return style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
            .width();
    }
};

TEST(ElidedComboBoxTest, ALongEntryIsShortenedToItsFieldAndWholeInTheTooltip) {
    shell::testing::EnsureApplication();
    ComboProbe combo;
    const QString name = "Monitor of Quillet Studio 1234 Analog Stereo (built-in)";
    combo.addItems({"Line", name});
    combo.resize(140, combo.sizeHint().height());
    combo.show();
    EXPECT_EQ(combo.ShownText(), "Line");
    EXPECT_EQ(combo.toolTip(), "Line");

    combo.setCurrentIndex(1);
    const QString shown = combo.ShownText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("Mon")) << shown.toStdString();
    EXPECT_LE(combo.fontMetrics().horizontalAdvance(shown), combo.FieldWidth());
    EXPECT_EQ(combo.toolTip(), name);
    // Painting with the shortened text works at any size.
    EXPECT_FALSE(combo.grab().isNull());

    combo.resize(combo.fontMetrics().horizontalAdvance(name) + 80, combo.height());
    EXPECT_EQ(combo.ShownText(), name);
}

}  // namespace
}  // namespace quil::controls
