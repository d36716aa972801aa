// quilgrab: command-line front end over the grabber libraries; one subcommand per file.
//
// Loading the grabber libraries costs more than a short command does (they bring FFmpeg and
// about 150 libraries with it), so the commands that need them live in quilgrab_commands.so
// next to this program and are loaded only when one of them runs.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/program.h"

namespace {

constexpr char kCommandsModule[] = "quilgrab_commands.so";

bool NeedsNoGrabber(int argc, char** argv) {
    if (argc < 2) return false;
    if (std::strcmp(argv[1], "sniff") == 0) return true;
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string folder(path, static_cast<size_t>(length));
    size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "." : folder.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quil::grab;
    if (NeedsNoGrabber(argc, argv)) {
        auto made = MakeProgramWith({AddSniffCommand});
        return RunProgram(*made, argc, argv);
    }
    const std::string module = ProgramFolder() + "/" + kCommandsModule;
    // Lazy: binding every call site of the hundred-odd libraries up front costs 5,000 lookups.
    void* handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    auto run =
        handle ? reinterpret_cast<int (*)(int, char**)>(dlsym(handle, "QuilgrabMain")) : nullptr;
    if (!run) {
        const char* why = dlerror();
        std::fprintf(stderr, "quilgrab: %s cannot be loaded: %s\n", module.c_str(),
                     why ? why : "it has no entry QuilgrabMain");
        return exit_code::kSomeFailed;
    }
    // Never unloaded: threads and exit handlers of the grabber libraries run until exit.
    return run(argc, argv);
}
