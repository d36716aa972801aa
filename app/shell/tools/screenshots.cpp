// Writes a picture of the main window on every page, and of its dialogs, into a folder.
// scripts/screenshots runs it under Xvfb at scale 1 and 2.

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

#include "app/controls/skin.h"
#include "app/settings/output_naming.h"
#include "app/shell/about_box.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "platform/com/class_registry.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    quil::controls::ApplyProgramLook(application);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    quil::settings::ApplyStartupDefaults();
    CoInitialize(nullptr);
    int failures = 0;
    {
        quil::shell::MainWindow::Options options;
        options.showSplash = false;
        quil::shell::MainWindow window(options);
        window.show();
        window.SetFormatText("44kHz 16Bits Stereo");
        window.SetPathText(QDir::homePath() + "/Music/Quilfetch/Quilmain 2026-12-07 10-30-00.mp3");
        using namespace quil::shell;
        for (int index :
             {kLivePage, kMediaPage, kCdPage, kNetworkPage, kPlayerPage, kTagPage, kHomePage}) {
            window.SelectPage(index);
            QCoreApplication::processEvents();
            const QString path = QStringLiteral("%1/page%2.png").arg(folder).arg(index);
            if (!window.grab().save(path)) ++failures;
            std::printf("%s\n", qPrintable(path));
        }
        AboutBox about(QCoreApplication::applicationDirPath(), window.services(), &window);
        about.show();
        QCoreApplication::processEvents();
        if (!about.grab().save(folder + "/about.png")) ++failures;
        std::printf("%s\n", qPrintable(folder + "/about.png"));
    }
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
