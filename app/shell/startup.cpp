#include "app/shell/startup.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cdsource/cd_interfaces.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/com/class_registry.h"
#include "platform/com/guid.h"
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
    auto server =
        registry::Key::Open(registry::Root::ClassesRoot,
                            "CLSID\\" + GuidToString(CLSID_CdTrackSource) + "\\InprocServer32");
    auto path = server ? server->ReadString("") : std::nullopt;
    if (path && std::filesystem::exists(*path)) return true;
    const std::string plugin = programFolder + "/trackpump.so";
    void* handle = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "Quilmain: the CD track source %s cannot be loaded: %s\n",
                     plugin.c_str(), dlerror());
        return false;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
    const HRESULT hr = entry ? entry() : E_FAIL;
    dlclose(handle);
    return SUCCEEDED(hr);
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
