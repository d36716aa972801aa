#pragma once

// The QApplication of the page tests: offscreen unless the caller chose a platform (the
// screenshot runs choose xcb under Xvfb), living until the end of the test run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QString>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

// Readable QString values in gtest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace quil::shell::testing {

class PageApplicationEnvironment : public ::testing::Environment {
public:
    void Ensure() {
        if (app_) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "page_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline void EnsurePageApplication() {
    static auto* environment = static_cast<PageApplicationEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new PageApplicationEnvironment));
    environment->Ensure();
}

inline QString ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder)
        return QString::fromLocal8Bit(folder);
    return QStringLiteral(QUIL_PAGE_SCREENSHOT_DIR);
}

// Saves the widget as <folder>/<name>.png; false when it could not be written.
inline bool SaveScreenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(ScreenshotFolder());
    return widget->grab().save(ScreenshotFolder() + "/" + name + ".png");
}

}  // namespace quil::shell::testing
