#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testsupport/test_support.h"

// Every test process gets its own configuration and data folders, so no test reads or writes
// the user's settings and tests can run side by side.
int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
    // FFmpeg's libraries allocate once per load and never free; when a plug-in that pulled them
    // in is unloaded, LeakSanitizer reports that. Keeping them loaded for the whole run makes
    // those allocations reachable.
    for (const char* library : {"libavutil.so.57", "libswresample.so.4", "libavcodec.so.59"})
        dlopen(library, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
#endif
    testing::InitGoogleTest(&argc, argv);
    auto dir = quil::test::TestDir();
    std::filesystem::create_directories(dir / "config");
    std::filesystem::create_directories(dir / "data");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    int result = RUN_ALL_TESTS();
    if (!std::getenv("QUIL_KEEP_TEST_DIR")) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return result;
}
