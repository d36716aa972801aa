#include "platform/registry/user_folders.h"

#include <unistd.h>

#include <cstdlib>

namespace quil {

namespace {
std::filesystem::path XdgFolder(const char* variable, const char* fallbackBelowHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / fallbackBelowHome;
}
}  // namespace

std::filesystem::path ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path DataFolder() {
    return XdgFolder("XDG_DATA_HOME", ".local/share") / "Quillet";
}

std::filesystem::path ProgramFolder() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return self.parent_path();
}

}  // namespace quil
