// Quilmend: downloads the new release's installer from the update server and runs it.

#include <QApplication>

#include "app/controls/skin.h"
#include "app/settings/format_settings.h"
#include "platform/registry/user_folders.h"
#include "update/quilmend/updater_dialog.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The same look as the main program that started it.
    quil::controls::ApplyProgramLook(application);
    // The command line ("-a" from the main program) asks for nothing beyond the default.
    quil::updater::UpdaterPlaces places{quil::settings::LoadUpdateServer(), quil::ProgramFolder(),
                                        quil::DataFolder() / "Update"};
    quil::updater::UpdaterDialog dialog(std::move(places), quil::shell::Services{});
    dialog.exec();
    return 0;
}
