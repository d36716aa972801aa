#include "platform/com/strings.h"

#include <cstring>

namespace quil {

namespace {

// Bytes that are not UTF-8 travel as U+DC80..U+DCFF, one per byte, and Narrow gives them back:
// file names are bytes on Linux and must survive the wide interfaces unchanged.
constexpr char32_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char32_t cp) {
    return cp >= 0xDC80 && cp <= 0xDCFF;
}

// Decodes one well-formed UTF-8 sequence (no overlong forms, surrogates or values past
// U+10FFFF); anything else consumes one byte and comes back escaped.
char32_t DecodeOne(std::string_view text, size_t& pos) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    auto escaped = [&] { return kEscapeBase + byte(pos++); };
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || pos + length > text.size()) return escaped();
    char32_t cp = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) return escaped();
        cp = (cp << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return escaped();
    pos += length;
    return cp;
}

void EncodeOne(char32_t cp, std::string& out) {
    if (IsEscapedByte(cp)) {
        out += static_cast<char>(cp - kEscapeBase);
        return;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) out += static_cast<wchar_t>(DecodeOne(utf8, pos));
    return out;
}

std::string Narrow(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t c : wide) EncodeOne(static_cast<char32_t>(c), out);
    return out;
}

bool IsUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();)
        if (IsEscapedByte(DecodeOne(text, pos))) return false;
    return true;
}

std::string_view Utf8Prefix(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    // Step back over continuation bytes so the cut never splits a character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

size_t CopyBounded(std::string_view text, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    auto prefix = Utf8Prefix(text.substr(0, text.find('\0')), capacity - 1);
    std::memcpy(buffer, prefix.data(), prefix.size());
    buffer[prefix.size()] = '\0';
    return prefix.size();
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c += 32;
    return out;
}

}  // namespace quil
