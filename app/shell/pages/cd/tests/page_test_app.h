#pragma once

// The QApplication of the page tests (offscreen unless the caller chose a platform: the
// screenshot runs choose xcb under Xvfb) and where their screenshots go.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QString>
#include <QWidget>

#include "app/controls/skin.h"
#include "app/shell/testing/qt_application.h"

#include <cstdlib>
#include <ostream>
#include <string>

// Readable QString values in gtest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace quil::shell::testing {

// The program's look, as Quilmain applies it, so screenshots show what users see.
inline void EnsurePageApplication() {
    EnsureApplication();
    static bool styled = false;
    if (!styled) controls::ApplyProgramLook(*qApp);
    styled = true;
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
