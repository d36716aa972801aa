#include "app/sniffer/url_extractor.h"

#include <cstring>

namespace quil {

namespace {

constexpr size_t kNotFound = std::string::npos;

// A byte from 161 up opens a double-byte character of the ANSI code page.
bool IsLeadByte(char byte) {
    return static_cast<unsigned char>(byte) >= 161;
}

constexpr std::array<char, 161> kSingleByteText = [] {
    std::array<char, 161> table{};
    for (int byte = 0; byte < 161; ++byte) table[byte] = byte >= ' ' && byte <= '~' ? byte : '.';
    return table;
}();

// The second byte of a double-byte character is kept, except a zero or control byte: it would
// end the text early or put a control character into a URL.
char TrailByteText(uint8_t byte) {
    return byte < ' ' || byte == 127 ? '.' : static_cast<char>(byte);
}

// Whether `at` starts a character, given that `known` (at or before it) does. A byte below 161
// always ends a character, so only the run of lead-range bytes just before `at` decides.
bool StartsCharacter(const char* bytes, size_t known, size_t at) {
    size_t run = 0;
    while (at - run > known && IsLeadByte(bytes[at - run - 1])) ++run;
    return run % 2 == 0;
}

// First occurrence of `needle` in bytes[from, end) that starts a character; `from` starts one.
size_t FindCharacterAligned(const char* bytes, size_t from, size_t end, std::string_view needle) {
    size_t position = from;
    while (end - position >= needle.size()) {
        const void* hit = memmem(bytes + position, end - position, needle.data(), needle.size());
        if (!hit) return kNotFound;
        size_t at = static_cast<size_t>(static_cast<const char*>(hit) - bytes);
        if (StartsCharacter(bytes, from, at)) return at;
        position = at + 1;
    }
    return kNotFound;
}

// An occurrence that starts in the last bytes of bytes[0, kept) and goes on at bytes[rest]:
// removing a candidate joins the two parts and can form a new one.
size_t FindAcrossJoin(const char* bytes, size_t kept, size_t rest, size_t size,
                      std::string_view needle) {
    size_t first = kept >= needle.size() ? kept - needle.size() + 1 : 0;
    for (size_t start = first; start < kept; ++start) {
        size_t head = kept - start;
        size_t tail = needle.size() - head;
        if (size - rest < tail) continue;
        if (std::memcmp(bytes + start, needle.data(), head) != 0) continue;
        if (std::memcmp(bytes + rest, needle.data() + head, tail) != 0) continue;
        if (StartsCharacter(bytes, 0, start)) return start;
    }
    return kNotFound;
}

bool IsCleanUrl(std::string_view candidate) {
    return candidate.find_first_of(kRejectedUrlCharacters) == std::string_view::npos;
}

// Repeats "find the scheme, then the extension after it, report and remove the candidate" until
// one of them is missing. Done in one pass: bytes[0, kept) is text already searched, bytes[rest,
// size) text still to search, and the text is the two joined; every byte moves at most once.
void ExtractPair(std::string& text, std::string_view scheme, std::string_view extension,
                 const UrlCallback& report, std::string& candidate) {
    char* bytes = text.data();
    const size_t size = text.size();
    size_t kept = 0;
    size_t rest = 0;
    while (kept + (size - rest) > 0) {
        size_t joinedAt = rest > kept ? FindAcrossJoin(bytes, kept, rest, size, scheme) : kNotFound;
        size_t schemeAt = kNotFound;
        size_t afterScheme;
        if (joinedAt != kNotFound) {
            afterScheme = rest + scheme.size() - (kept - joinedAt);
        } else {
            schemeAt = FindCharacterAligned(bytes, rest, size, scheme);
            if (schemeAt == kNotFound) break;
            afterScheme = schemeAt + scheme.size();
        }
        size_t extensionAt = FindCharacterAligned(bytes, afterScheme, size, extension);
        if (extensionAt == kNotFound || extensionAt == afterScheme) break;
        size_t end = extensionAt + extension.size();

        if (joinedAt != kNotFound) {
            candidate.assign(bytes + joinedAt, kept - joinedAt);
            candidate.append(bytes + rest, end - rest);
            kept = joinedAt;
        } else {
            candidate.assign(bytes + schemeAt, end - schemeAt);
            std::memmove(bytes + kept, bytes + rest, schemeAt - rest);
            kept += schemeAt - rest;
        }
        rest = end;
        if (IsCleanUrl(candidate)) report(candidate);
    }
    std::memmove(bytes + kept, bytes + rest, size - rest);
    text.resize(kept + (size - rest));
}

bool Contains(const std::string& text, std::string_view needle) {
    return memmem(text.data(), text.size(), needle.data(), needle.size()) != nullptr;
}

}  // namespace

void BuildPacketText(std::span<const uint8_t> packet, std::string& text) {
    const size_t size = packet.size();
    text.resize(size);
    char* out = text.data();
    size_t i = 0;
    while (i < size) {
        uint8_t byte = packet[i];
        if (byte < 161) {
            out[i++] = kSingleByteText[byte];
            continue;
        }
        out[i++] = static_cast<char>(byte);
        // A lead byte in the last position has nothing to pair with and stands alone.
        if (i < size) {
            out[i] = TrailByteText(packet[i]);
            ++i;
        }
    }
}

void ExtractUrls(std::string& text, const UrlCallback& report) {
    // Every scheme ends in "://": most packets are done after this one scan.
    if (!Contains(text, "://")) return;
    std::string candidate;
    for (std::string_view scheme : kUrlSchemes) {
        if (text.empty()) return;
        // Only this scheme's own removals could form it, so an absent one stays absent for its
        // turn.
        if (!Contains(text, scheme)) continue;
        for (std::string_view extension : kMediaExtensions) {
            if (text.empty()) return;
            ExtractPair(text, scheme, extension, report, candidate);
        }
    }
}

void UrlExtractor::Analyse(std::span<const uint8_t> packet, const UrlCallback& report) {
    if (packet.empty()) return;
    BuildPacketText(packet, text_);
    ExtractUrls(text_, report);
}

}  // namespace quil
