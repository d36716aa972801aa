#include "update/update_info.h"

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quil::update {

namespace {

constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

std::string ToBase64(const unsigned char* bytes, size_t size) {
    std::string text(sodium_base64_encoded_len(size, kBase64), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, kBase64);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Decodes exactly `size` bytes of base64; false on anything else.
bool FromBase64(std::string_view text, unsigned char* bytes, size_t size) {
    text = Trim(text);
    size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes, size, text.data(), text.size(), nullptr, &decoded, &end,
                          kBase64) != 0) {
        return false;
    }
    return decoded == size && end == text.data() + text.size();
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "<64 hex digits>[ <size>]"
bool ParseDigestLine(std::string_view line, UpdateInfo& info, std::string& why) {
    std::string_view hex = line.substr(0, line.find(' '));
    if (hex.size() != 2 * crypto_hash_sha256_BYTES) {
        why = "its second line holds no SHA-256 digest";
        return false;
    }
    for (char c : hex) {
        if (!IsHexDigit(c)) {
            why = "its second line holds no SHA-256 digest";
            return false;
        }
        info.sha256 += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    if (hex.size() == line.size()) return true;
    std::string_view size = line.substr(hex.size() + 1);
    int64_t value = 0;
    if (size.empty() || size.size() > 18) {
        why = "its second line names no valid installer size";
        return false;
    }
    for (char c : size) {
        if (c < '0' || c > '9') {
            why = "its second line names no valid installer size";
            return false;
        }
        value = value * 10 + (c - '0');
    }
    info.installerSize = value;
    return true;
}

}  // namespace

std::string ServerUrl(std::string_view server, std::string_view path) {
    while (!server.empty() && server.back() == '/') server.remove_suffix(1);
    return std::string(server) + std::string(path);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, int64_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(maxBytes) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    auto read = static_cast<int64_t>(in.gcount());
    if (read > maxBytes) return std::nullopt;
    text.resize(static_cast<size_t>(read));
    return text;
}

std::optional<std::string> ReadFirstLine(const std::filesystem::path& path) {
    auto text = ReadSmallFile(path, kUpdateInfoLimit);
    if (!text) return std::nullopt;
    auto lines = SplitLines(*text);
    return lines.empty() ? std::string() : lines.front();
}

std::optional<UpdateInfo> VerifyUpdateInfo(std::string_view text, std::string_view publicKeyText,
                                           std::string& why) {
    if (!SodiumReady()) {
        why = "the signature library cannot start";
        return std::nullopt;
    }
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    if (!FromBase64(publicKeyText, publicKey, sizeof publicKey)) {
        why = "the public key is not a base64 Ed25519 key";
        return std::nullopt;
    }
    auto lines = SplitLines(text);
    if (lines.size() < 3) {
        why = "the update information is not signed";
        return std::nullopt;
    }
    unsigned char signature[crypto_sign_BYTES];
    if (!FromBase64(lines[2], signature, sizeof signature)) {
        why = "the third line of the update information is not a base64 signature";
        return std::nullopt;
    }
    std::string signedText = lines[0] + "\n" + lines[1];
    if (crypto_sign_verify_detached(signature,
                                    reinterpret_cast<const unsigned char*>(signedText.data()),
                                    signedText.size(), publicKey) != 0) {
        why = "the signature of the update information does not verify";
        return std::nullopt;
    }
    UpdateInfo info;
    info.release = lines[0];
    std::string digestWhy;
    if (!ParseDigestLine(lines[1], info, digestWhy)) {
        why = "the update information is signed but " + digestWhy;
        return std::nullopt;
    }
    return info;
}

std::string SignUpdateInfo(std::string_view release, std::string_view digestLine,
                           std::string_view secretKeyText, std::string& why) {
    if (!SodiumReady()) {
        why = "the signature library cannot start";
        return {};
    }
    if (release.find_first_of("\r\n") != std::string_view::npos ||
        digestLine.find_first_of("\r\n") != std::string_view::npos) {
        why = "the release text and the digest line must be single lines";
        return {};
    }
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    if (!FromBase64(secretKeyText, secretKey, sizeof secretKey)) {
        why = "the secret key is not a base64 Ed25519 secret key";
        return {};
    }
    std::string signedText = std::string(release) + "\n" + std::string(digestLine);
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr,
                         reinterpret_cast<const unsigned char*>(signedText.data()),
                         signedText.size(), secretKey);
    sodium_memzero(secretKey, sizeof secretKey);
    return signedText + "\n" + ToBase64(signature, sizeof signature) + "\n";
}

std::optional<KeyPairText> MakeKeyPair() {
    if (!SodiumReady()) return std::nullopt;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    KeyPairText pair{ToBase64(publicKey, sizeof publicKey), ToBase64(secretKey, sizeof secretKey)};
    sodium_memzero(secretKey, sizeof secretKey);
    return pair;
}

std::optional<FileDigest> Sha256OfFile(const std::filesystem::path& path, std::string& why) {
    if (!SodiumReady()) {
        why = "the signature library cannot start";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open " + path.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    FileDigest digest;
    std::vector<char> buffer(64 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        auto read = in.gcount();
        if (read <= 0) break;
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                  static_cast<unsigned long long>(read));
        digest.size += read;
    }
    if (in.bad()) {
        why = "cannot read " + path.string();
        return std::nullopt;
    }
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, hash);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    digest.sha256 = hex;
    return digest;
}

std::string DigestLine(const FileDigest& digest) {
    return digest.sha256 + " " + std::to_string(digest.size);
}

}  // namespace quil::update
