#pragma once

// A QApplication on the offscreen platform for the dialog tests, dressed in the program's own
// look (as Quilmain does at start-up, so sizes and screenshots are the user's), and small ways to
// act on the widgets as a user does.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>

#include "app/controls/skin.h"

namespace quil::settings::test {

// The application lives from the first dialog test to the end of the test run; destroying it
// among the static objects at exit would crash.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void Ensure() {
        if (app_) return;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        controls::ApplyProgramLook(*app_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[18] = "settings_ui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline QtApplicationEnvironment* ApplicationEnvironment() {
    // gtest owns registered environments.
    static auto* environment = static_cast<QtApplicationEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment));
    return environment;
}

inline void EnsureApplication() {
    ApplicationEnvironment()->Ensure();
}

template <typename W = QWidget>
W* Child(QWidget* parent, const char* name) {
    W* widget = parent->findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

inline QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

// Near the left edge, where a check box or radio button has its indicator even when the
// layout makes the button wider than its text.
inline void Click(QAbstractButton* button) {
    QPoint where(std::min(8, button->width() / 2), button->height() / 2);
    QTest::mouseClick(button, Qt::LeftButton, {}, where);
}

// Picks an entry by its text the way the drop-down list does.
inline void Choose(QComboBox* combo, const QString& text) {
    int row = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GE(row, 0) << text.toStdString();
    combo->setCurrentIndex(row);
    emit combo->activated(row);
}

inline std::string Str(const QString& text) {
    return text.toStdString();
}

}  // namespace quil::settings::test
