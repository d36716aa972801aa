#include "app/shell/startup.h"

#include <cstdio>
#include <string>

#include "cdsource/cd_interfaces.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"

namespace quil::shell {

void WriteComponentDefaults(int oggQuality) {
    using registry::Key;
    using registry::Root;
    if (auto key = Key::Create(Root::ClassesRoot,
                               "CLSID\\{F07E245F-5A1F-4D1E-8BFF-DC31D84A55AB}\\Defaults")) {
        key->WriteDword("AlwaysEnableAllStreams", 0);
        key->WriteDword("AlwaysSearchToKeyFrame", 0);
        key->WriteDword("ShowTrayIcon", 0);
    }
    if (auto key = Key::Create(Root::ClassesRoot,
                               "CLSID\\{889EF574-0656-4B52-9091-072E52BB1B80}\\Defaults"))
        key->WriteString("Quality", std::to_string(oggQuality));
    if (auto key = Key::Create(Root::CurrentUser, "Software\\AC3Filter"))
        key->WriteDword("formats", 0x5400);
}

bool EnsureTrackSourceRegistered(const std::string& programFolder) {
    std::string why;
    if (SUCCEEDED(EnsureInprocServerRegistered(CLSID_CdTrackSource, programFolder + "/trackpump.so",
                                               &why)))
        return true;
    std::fprintf(stderr, "Quilmain: the CD track source: %s\n", why.c_str());
    return false;
}

settings::WmaProfileCatalogue LoadWmaProfiles() {
    auto* grabber = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
    if (!grabber) return {};
    settings::WmaProfileCatalogue catalogue;
    if (grabber->CreateGraph()) catalogue = settings::WmaProfileCatalogue::BuildFrom(*grabber);
    grabber->Destroy();
    return catalogue;
}

}  // namespace quil::shell
