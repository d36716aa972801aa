#include <cdio/cdio.h>

#include <cctype>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

#include "platform/registry/registry.h"
#include "platform/sectorlink/disc_source.h"
#include "platform/sectorlink/sectorlink.h"

namespace quil::sectorlink {

namespace {

constexpr char kFirstLetter = 'D';
constexpr char kLastLetter = 'Z';

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// /dev/cdrom and /dev/sr0 are often the same drive; it gets one letter.
std::vector<std::string> OpticalDrives() {
    std::vector<std::string> drives;
    std::vector<std::filesystem::path> seen;
    std::lock_guard lock(LibcdioLock());
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    for (char** device = devices; device && *device; ++device) {
        std::error_code ec;
        std::filesystem::path real = std::filesystem::canonical(*device, ec);
        if (ec) real = *device;
        bool duplicate = false;
        for (const auto& other : seen) duplicate = duplicate || other == real;
        if (duplicate) continue;
        seen.push_back(real);
        drives.emplace_back(*device);
    }
    if (devices) cdio_free_device_list(devices);
    return drives;
}

}  // namespace

std::vector<std::string> ReadVirtualDrives() {
    std::vector<std::string> paths;
    auto key = registry::Key::Open(registry::Root::LocalMachine, kSettingsKeyPath);
    if (!key) return paths;
    std::optional<std::string> value = key->ReadString(kVirtualDrivesValue);
    if (!value) return paths;
    std::string_view rest = *value;
    while (!rest.empty()) {
        size_t cut = rest.find_first_of("|\r\n");
        std::string_view entry = TrimBlanks(rest.substr(0, cut));
        if (!entry.empty()) paths.emplace_back(entry);
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return paths;
}

bool WriteVirtualDrives(const std::vector<std::string>& imagePaths) {
    std::string value;
    for (const auto& path : imagePaths) {
        if (!value.empty()) value += '|';
        value += path;
    }
    auto key = registry::Key::Create(registry::Root::LocalMachine, kSettingsKeyPath);
    return key && key->WriteString(kVirtualDrivesValue, value);
}

std::vector<DriveSlot> DriveSlots() {
    std::vector<DriveSlot> slots;
    char letter = kFirstLetter;
    for (auto& device : OpticalDrives()) {
        if (letter > kLastLetter) return slots;
        slots.push_back({letter++, std::move(device), false});
    }
    for (auto& image : ReadVirtualDrives()) {
        if (letter > kLastLetter) return slots;
        slots.push_back({letter++, std::move(image), true});
    }
    return slots;
}

}  // namespace quil::sectorlink

UINT GetDriveTypeA(const char* rootPath) {
    if (!rootPath || !std::isalpha(static_cast<unsigned char>(rootPath[0])) || rootPath[1] != ':')
        return DRIVE_NO_ROOT_DIR;
    if (rootPath[2] != '\0' && ((rootPath[2] != '\\' && rootPath[2] != '/') || rootPath[3] != '\0'))
        return DRIVE_NO_ROOT_DIR;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
    for (const auto& slot : quil::sectorlink::DriveSlots())
        if (slot.letter == letter) return DRIVE_CDROM;
    return DRIVE_NO_ROOT_DIR;
}
