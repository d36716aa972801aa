// quilsign: the release key and the signed update information.
//
//   quilsign keygen <secret key file> <public key file>
//   quilsign sign <secret key file> <installer> <release text> <update.ini to write>
//   quilsign verify <public key file> <update.ini> [<installer>]

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "update/update_info.h"

namespace {

namespace fs = std::filesystem;
using namespace quil::update;

int Usage() {
    std::fprintf(stderr,
                 "usage: quilsign keygen <secret key file> <public key file>\n"
                 "       quilsign sign <secret key file> <installer> <release text> <update.ini>\n"
                 "       quilsign verify <public key file> <update.ini> [<installer>]\n");
    return 2;
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "quilsign: %s\n", text.c_str());
    return 1;
}

// Written beside the target and renamed onto it, so a half-written file never takes its place.
bool WriteText(const fs::path& path, const std::string& text, mode_t mode) {
    fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        chmod(temporary.c_str(), mode);
        out << text;
        out.close();
        if (!out) return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

int KeyGen(const fs::path& secretPath, const fs::path& publicPath) {
    std::error_code error;
    if (fs::exists(secretPath, error)) {
        return Fail(secretPath.string() +
                    " exists already; a new key would orphan every "
                    "installed copy that trusts the old one");
    }
    auto pair = MakeKeyPair();
    if (!pair) return Fail("the signature library cannot start");
    if (!WriteText(secretPath, pair->secretKey + "\n", 0600)) {
        return Fail("cannot write " + secretPath.string());
    }
    if (!WriteText(publicPath, pair->publicKey + "\n", 0644)) {
        return Fail("cannot write " + publicPath.string());
    }
    std::printf("secret key: %s (keep it private)\npublic key: %s (ship it as update.pub)\n",
                secretPath.c_str(), publicPath.c_str());
    return 0;
}

int Sign(const fs::path& secretPath, const fs::path& installer, const std::string& release,
         const fs::path& output) {
    auto secret = ReadSmallFile(secretPath, 4096);
    if (!secret) return Fail("cannot read " + secretPath.string());
    std::string why;
    auto digest = Sha256OfFile(installer, why);
    if (!digest) return Fail(why);
    std::string text = SignUpdateInfo(release, DigestLine(*digest), *secret, why);
    if (text.empty()) return Fail(why);
    if (!WriteText(output, text, 0644)) return Fail("cannot write " + output.string());
    std::printf("%s", text.c_str());
    return 0;
}

int Verify(const fs::path& publicPath, const fs::path& infoPath, const char* installer) {
    auto publicKey = ReadSmallFile(publicPath, 4096);
    if (!publicKey) return Fail("cannot read " + publicPath.string());
    auto text = ReadSmallFile(infoPath, kUpdateInfoLimit);
    if (!text) return Fail("cannot read " + infoPath.string() + " (or it exceeds 64 KiB)");
    std::string why;
    auto info = VerifyUpdateInfo(*text, *publicKey, why);
    if (!info) return Fail(why);
    std::printf("signature good; release \"%s\"\n", info->release.c_str());
    if (installer) {
        auto digest = Sha256OfFile(installer, why);
        if (!digest) return Fail(why);
        if (digest->sha256 != info->sha256) return Fail(std::string(installer) + " differs");
        if (info->installerSize && *info->installerSize != digest->size) {
            return Fail(std::string(installer) + " has another size");
        }
        std::printf("installer matches\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "keygen" && argc == 4) return KeyGen(argv[2], argv[3]);
    if (command == "sign" && argc == 6) return Sign(argv[2], argv[3], argv[4], argv[5]);
    if (command == "verify" && (argc == 4 || argc == 5)) {
        return Verify(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    }
    return Usage();
}
