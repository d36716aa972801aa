// The URL extraction as it was before packets were searched for schemes before any text was
// made: kept unchanged as the reference the faster one must match byte for byte.

#include "app/sniffer/tests/url_extractor_reference.h"

#include <cstring>

namespace quil::reference {

namespace {

constexpr size_t kNotFound = std::string::npos;

// A byte from 161 up opens a double-byte character of the ANSI code page.
bool IsLeadByte(char byte) {
    return static_cast<unsigned char>(byte) >= 161;
}

// Text of a byte: entries 0 to 255 for a byte that starts a character, 256 to 511 for the byte
// after a lead byte. That second byte is kept, except a zero or control byte: it would end the
// text early or put a control character into a URL.
constexpr std::array<char, 512> kTextOfByte = [] {
    std::array<char, 512> table{};
    for (int byte = 0; byte < 256; ++byte) {
        bool printable = byte >= ' ' && byte <= '~';
        table[byte] = printable || byte >= 161 ? static_cast<char>(byte) : '.';
        table[256 + byte] = byte < ' ' || byte == 127 ? '.' : static_cast<char>(byte);
    }
    return table;
}();

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
// Returns whether anything was removed.
bool ExtractPair(std::string& text, std::string& breaks, std::string_view scheme,
                 std::string_view extension, const UrlCallback& report, std::string& candidate) {
    char* bytes = text.data();
    // Line breaks of the packet, one byte per byte of the text; moved along with the text.
    char* marks = breaks.empty() ? nullptr : breaks.data();
    auto spansBreak = [&](size_t from, size_t to) {
        return marks && std::memchr(marks + from, 1, to - from) != nullptr;
    };
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

        bool broken;
        if (joinedAt != kNotFound) {
            candidate.assign(bytes + joinedAt, kept - joinedAt);
            candidate.append(bytes + rest, end - rest);
            broken = spansBreak(joinedAt, kept) || spansBreak(rest, end);
            kept = joinedAt;
        } else {
            candidate.assign(bytes + schemeAt, end - schemeAt);
            broken = spansBreak(schemeAt, end);
            std::memmove(bytes + kept, bytes + rest, schemeAt - rest);
            if (marks) std::memmove(marks + kept, marks + rest, schemeAt - rest);
            kept += schemeAt - rest;
        }
        rest = end;
        // A line break reads as '.', so a scheme and an extension on two lines look like one
        // URL; such a candidate is no more a URL than one holding a blank.
        if (!broken && IsCleanUrl(candidate)) report(candidate);
    }
    if (rest == 0) return false;
    std::memmove(bytes + kept, bytes + rest, size - rest);
    text.resize(kept + (size - rest));
    if (marks) {
        std::memmove(marks + kept, marks + rest, size - rest);
        breaks.resize(text.size());
    }
    return true;
}

// Which schemes and extensions occur anywhere in the text, one bit each in table order. A pair
// whose scheme or extension is absent changes nothing, so most pairs are skipped by these.
uint32_t PresentSchemes(std::string_view text) {
    uint32_t present = 0;
    for (size_t at = text.find("://"); at != std::string_view::npos;
         at = text.find("://", at + 1)) {
        for (size_t i = 0; i < kUrlSchemes.size(); ++i) {
            std::string_view name = kUrlSchemes[i].substr(0, kUrlSchemes[i].size() - 3);
            if (at >= name.size() && text.compare(at - name.size(), name.size(), name) == 0)
                present |= 1u << i;
        }
    }
    return present;
}

uint32_t PresentExtensions(std::string_view text) {
    // Every extension starts with '.' and then one of these letters.
    constexpr std::string_view kSecondLetters = "rawms";
    uint32_t present = 0;
    for (size_t at = text.find('.'); at != std::string_view::npos; at = text.find('.', at + 1)) {
        if (at + 2 >= text.size() || kSecondLetters.find(text[at + 1]) == std::string_view::npos)
            continue;
        std::string_view tail = text.substr(at);
        for (size_t i = 0; i < kMediaExtensions.size(); ++i)
            if (tail.starts_with(kMediaExtensions[i])) present |= 1u << i;
    }
    return present;
}

}  // namespace

void BuildPacketText(std::span<const uint8_t> packet, std::string& text) {
    const size_t size = packet.size();
    text.resize(size);
    char* out = text.data();
    size_t i = 0;
    while (i < size) {
        uint8_t byte = packet[i];
        out[i++] = kTextOfByte[byte];
        // A lead byte in the last position has nothing to pair with and stands alone.
        if (byte >= 161 && i < size) {
            out[i] = kTextOfByte[256 + packet[i]];
            ++i;
        }
    }
}

void MarkLineBreaks(std::span<const uint8_t> packet, std::string& breaks) {
    breaks.clear();
    const void* first = std::memchr(packet.data(), '\n', packet.size());
    if (!first) first = std::memchr(packet.data(), '\r', packet.size());
    if (!first) return;
    breaks.resize(packet.size());
    // Only a byte that starts a character can be a line break; the byte after a lead byte,
    // whatever its value, belongs to that character.
    for (size_t i = 0; i < packet.size(); ++i) {
        uint8_t byte = packet[i];
        breaks[i] = byte == '\n' || byte == '\r' ? 1 : 0;
        if (byte >= 161 && i + 1 < packet.size()) breaks[++i] = 0;
    }
}

void ExtractUrls(std::string& text, const UrlCallback& report) {
    std::string none;
    ExtractUrls(text, none, report);
}

void ExtractUrls(std::string& text, std::string& breaks, const UrlCallback& report) {
    if (!breaks.empty() && breaks.size() != text.size()) breaks.clear();
    uint32_t schemes = PresentSchemes(text);
    if (schemes == 0) return;
    uint32_t extensions = PresentExtensions(text);
    std::string candidate;
    for (size_t s = 0; s < kUrlSchemes.size(); ++s) {
        for (size_t e = 0; e < kMediaExtensions.size(); ++e) {
            if (!(schemes & (1u << s))) break;
            if (!(extensions & (1u << e))) continue;
            if (ExtractPair(text, breaks, kUrlSchemes[s], kMediaExtensions[e], report, candidate)) {
                // A removal takes occurrences away and can join new ones.
                if (text.empty()) return;
                schemes = PresentSchemes(text);
                extensions = PresentExtensions(text);
            }
        }
    }
}

void Analyse(std::span<const uint8_t> packet, const UrlCallback& report) {
    if (packet.empty()) return;
    std::string text, breaks;
    BuildPacketText(packet, text);
    MarkLineBreaks(packet, breaks);
    ExtractUrls(text, breaks, report);
}

}  // namespace quil::reference
