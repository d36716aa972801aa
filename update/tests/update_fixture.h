#pragma once

// A release key, signed update information and an update server on 127.0.0.1 for the tests of
// the update check and the updater.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport/http_server.h"
#include "testsupport/test_support.h"
#include "update/update_info.h"

namespace quil::update::test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void ForgetProxies() {
    // Requests to 127.0.0.1 must not wander off to a proxy named in the environment.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        unsetenv(name);
    }
}

struct ReleaseKey {
    KeyPairText pair = *MakeKeyPair();

    std::string Sign(const std::string& release, const std::string& digestLine) const {
        std::string why;
        std::string text = SignUpdateInfo(release, digestLine, pair.secretKey, why);
        EXPECT_FALSE(text.empty()) << why;
        return text;
    }
    // Information naming an installer with the given bytes.
    std::string SignFor(const std::string& release, const std::string& installer,
                        bool withSize = true) const {
        fs::path scratch = quil::test::MakeTempDir("installer-digest") / "installer";
        WriteFile(scratch, installer);
        std::string why;
        auto digest = Sha256OfFile(scratch, why);
        EXPECT_TRUE(digest) << why;
        return Sign(release, withSize ? DigestLine(*digest) : digest->sha256);
    }
};

// A program folder with its installed "update.ini" and "update.pub", and a data folder.
struct Installation {
    explicit Installation(const std::string& name)
        : programFolder(quil::test::MakeTempDir(name + "-program")),
          dataFolder(quil::test::MakeTempDir(name + "-data")) {}

    void Install(const std::string& installedInfo, const std::string& publicKey) const {
        WriteFile(programFolder / "update.ini", installedInfo);
        WriteFile(programFolder / "update.pub", publicKey + "\n");
    }

    fs::path programFolder;
    fs::path dataFolder;
};

}  // namespace quil::update::test
