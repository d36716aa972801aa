// Quilmain: the desktop program.

#include <QApplication>
#include <QDBusConnection>
#include <QMessageBox>

#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/controls/skin.h"
#include "app/settings/output_naming.h"
#include "app/shell/desktop/desktop_integration.h"
#include "app/shell/main_window.h"
#include "app/shell/qt_dialog_services.h"
#include "app/shell/single_instance.h"
#include "app/shell/string_table.h"
#include "app/shell/termination_signals.h"
#include "platform/com/class_registry.h"

namespace {

// Seconds from the start of this process to now, for the start-up benchmark.
void PrintStartupTime() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Field 22 (start time in clock ticks since boot) follows the command name's ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    const double started = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("startup %.3f s\n", uptime - started);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quillet");
    QApplication::setDesktopFileName("quillet");
    quil::controls::ApplyProgramLook(application);

    // Before anything else, so a SIGTERM during start-up still ends the program cleanly.
    quil::shell::MainWindow* mainWindow = nullptr;
    quil::shell::TerminationSignals terminationSignals([&mainWindow] {
        if (mainWindow) mainWindow->close();
        QApplication::quit();
    });

    quil::shell::SingleInstance instance;
    if (!instance.Acquire()) {
        const QString text = quil::shell::LoadString(57357);
        std::fprintf(stderr, "Quilmain: %s\n", qPrintable(text));
        // Nobody could answer a box on the offscreen platform.
        if (QGuiApplication::platformName() != "offscreen")
            QMessageBox::warning(nullptr, quil::shell::LoadString(57344), text);
        return 1;
    }

    quil::settings::ApplyStartupDefaults();
    CoInitialize(nullptr);
    int status = 0;
    {
        quil::shell::MainWindow window({});
        quil::shell::QtDialogServices dialogs(&window);
        mainWindow = &window;
        quil::shell::DesktopIntegration desktop(window, QDBusConnection::sessionBus(),
                                                QDBusConnection::systemBus());
        instance.OnRaiseRequest([&window] { window.ShowFromTray(); });
        window.show();
        if (QCoreApplication::arguments().contains("--print-startup-time"))
            QTimer::singleShot(0, [] { PrintStartupTime(); });
        status = QApplication::exec();
        mainWindow = nullptr;
    }
    CoUninitialize();
    return status;
}
