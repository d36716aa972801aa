// libFuzzer target: packet text and URL extraction on arbitrary frames, and the extractor's
// URLs against those of the reference that made text of every byte first.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/sniffer/tests/url_extractor_reference.h"
#include "app/sniffer/url_extractor.h"

namespace {

bool StartsWithScheme(std::string_view url) {
    for (auto scheme : quil::kUrlSchemes)
        if (url.starts_with(scheme) && url.size() > scheme.size()) return true;
    return false;
}

bool EndsWithExtension(std::string_view url) {
    for (auto extension : quil::kMediaExtensions)
        if (url.ends_with(extension)) return true;
    return false;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "url_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> packet(data, size);
    std::string text;
    quil::BuildPacketText(packet, text);
    if (text.size() != size) Fail("text length differs from the packet's");
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 127) Fail("zero or control byte in the text");
    }

    std::vector<std::string> found, expected;
    quil::UrlExtractor extractor;
    extractor.Analyse(packet, [&](std::string_view url) { found.emplace_back(url); });
    quil::reference::Analyse(packet, [&](std::string_view url) { expected.emplace_back(url); });
    if (found != expected) Fail("URLs differ from the reference's");
    std::string referenceText;
    quil::reference::BuildPacketText(packet, referenceText);
    if (text != referenceText) Fail("text differs from the reference's");

    size_t reported = 0;
    quil::ExtractUrls(text, [&](std::string_view url) {
        reported += url.size();
        if (!StartsWithScheme(url)) Fail("URL without a scheme");
        if (!EndsWithExtension(url)) Fail("URL without a media extension");
        if (url.find_first_of(quil::kRejectedUrlCharacters) != std::string_view::npos)
            Fail("URL with a rejected character");
    });
    // Every URL is removed from the text before the next one is searched.
    if (reported + text.size() > size) Fail("more URL text than packet");
    return 0;
}
