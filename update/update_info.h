#pragma once

// The signed update information. Its first line names the release (any text; differing first
// lines mean an update), its second line holds the installer's SHA-256 in hex, optionally
// followed by a space and the installer's size in bytes, and its third line is an Ed25519
// signature (base64) over the first two lines joined by "\n". The release key's public half
// ships next to the program as "update.pub" (base64 of the 32-byte key, one line).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quil::update {

inline constexpr std::string_view kUpdateInfoPath = "/update/Quilpack/update.ini";
inline constexpr std::string_view kInstallerPath = "/product/Quilpack/Quilpack.exe";
inline constexpr std::string_view kInstalledInfoName = "update.ini";
inline constexpr std::string_view kPublicKeyName = "update.pub";
inline constexpr std::string_view kInstallerName = "Quilpack.exe";
// Larger update information is not update information.
constexpr int64_t kUpdateInfoLimit = 64 * 1024;
// The cap on an installer whose information names no size.
constexpr int64_t kInstallerLimit = int64_t{1} << 30;

struct UpdateInfo {
    std::string release;
    std::string sha256;  // 64 lower-case hex digits
    std::optional<int64_t> installerSize;
};

// The server's base address joined with an absolute path, without a doubled slash.
std::string ServerUrl(std::string_view server, std::string_view path);

// The lines of a text, without their "\n" or "\r\n" endings.
std::vector<std::string> SplitLines(std::string_view text);

// Reads at most maxBytes of a file; none when it cannot be read or is larger.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, int64_t maxBytes);

// The first line of the file, or none when the file cannot be read.
std::optional<std::string> ReadFirstLine(const std::filesystem::path& path);

// Checks the signature of the information with the public key (as stored in "update.pub");
// none, with the reason in `why`, when the key or the information is malformed or the signature
// does not verify.
std::optional<UpdateInfo> VerifyUpdateInfo(std::string_view text, std::string_view publicKeyText,
                                           std::string& why);

// Signs release and digest line with the secret key (as written by MakeKeyPair); the complete
// three-line information, or empty with `why` on a malformed key.
std::string SignUpdateInfo(std::string_view release, std::string_view digestLine,
                           std::string_view secretKeyText, std::string& why);

struct KeyPairText {
    std::string publicKey;  // base64, for "update.pub"
    std::string secretKey;  // base64, kept by whoever publishes releases
};
std::optional<KeyPairText> MakeKeyPair();

// The SHA-256 of a file in lower-case hex and its size; none, with `why`, when it cannot be read.
struct FileDigest {
    std::string sha256;
    int64_t size = 0;
};
std::optional<FileDigest> Sha256OfFile(const std::filesystem::path& path, std::string& why);

// The digest line that SignUpdateInfo expects for an installer.
std::string DigestLine(const FileDigest& digest);

}  // namespace quil::update
