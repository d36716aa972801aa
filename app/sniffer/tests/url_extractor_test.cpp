#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/sniffer/tests/capture_writer.h"
#include "app/sniffer/url_extractor.h"

namespace quil {
namespace {

using namespace std::literals;

std::vector<std::string> UrlsOf(std::span<const uint8_t> packet) {
    std::vector<std::string> urls;
    UrlExtractor extractor;
    extractor.Analyse(packet, [&](std::string_view url) { urls.emplace_back(url); });
    return urls;
}

std::vector<std::string> UrlsOfPayload(std::string_view payload) {
    auto frame = test::TcpFrame(payload);
    return UrlsOf(frame);
}

std::vector<std::string> UrlsOfBytes(std::string_view bytes) {
    return UrlsOf(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::string TextOf(std::string_view bytes) {
    std::string text;
    BuildPacketText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), text);
    return text;
}

struct PacketCase {
    const char* what;
    std::string payload;
    std::vector<std::string> urls;
};

TEST(UrlExtraction, PayloadsInsideTcpFrames) {
    const std::vector<PacketCase> cases = {
        {"request line", "PLAY rtsp://h/a.rm RTSP/1.0\r\n", {"rtsp://h/a.rm"}},
        {"quotes lie outside", "<ref href=\"rtsp://h/a.rm\"/>", {"rtsp://h/a.rm"}},
        {"blank inside", "rtsp://x y.rm", {}},
        {"candidate runs to the next URL", "rtsp://a/b rtsp://c/d.rm", {}},
        {"two of one shape, in order",
         "mms://h/v.wmv mms://h/w.wmv",
         {"mms://h/v.wmv", "mms://h/w.wmv"}},
        {"schemes are case-sensitive", "RTSP://h/a.rm", {}},
        {"scheme order first", "http://h/b.asf rtsp://h/a.rm", {"rtsp://h/a.rm", "http://h/b.asf"}},
        {"extension on the next line", "Location: http://h/page\r\nram-size: 1\r\n", {}},
        {"scheme and extension two lines apart", "rtsp://h/a\nb\n.rm x", {}},
        {"a candidate over a line break is dropped like one over a blank",
         "mms://h/b.wmv\nmms://h/a.asf\n",
         {}},
        {"lines of a playlist each",
         "http://h/a.asx\r\nhttp://h/b.asx\r\n",
         {"http://h/a.asx", "http://h/b.asx"}},
        {"the byte after a lead byte is no line break",
         "rtsp://h/\xB0\n.rm",
         {"rtsp://h/\xB0..rm"}},
        {"removed candidates are gone for later pairs",
         "<a href=\"http://h/a.wmv\">x</a><a href=\"http://h/b.asf\">",
         {}},
        {"shorter extension wins", "http://h/a.rmvb", {"http://h/a.rm"}},
        {"smil cut to smi", "http://h/a.smil", {"http://h/a.smi"}},
        {"ram cut to ra", "pnm://h/a.ram", {"pnm://h/a.ra"}},
        {"mpeg stays whole", "http://h/a.mpeg", {"http://h/a.mpeg"}},
        {"empty middle stops the pair", "rtsp://.rm rtsp://h/a.rm", {}},
        {"rtspu is its own scheme", "rtspu://h/a.rm", {"rtspu://h/a.rm"}},
        {"mmst and mmsu", "mmst://h/a.asf mmsu://h/b.asf", {"mmst://h/a.asf", "mmsu://h/b.asf"}},
        {"no extension", "GET http://h/index.html HTTP/1.1\r\n", {}},
        {"extension before the scheme only", "a.rm then rtsp://h/a", {}},
        {"zero and control bytes become dots", "http://h/a\0\x01\x7f.asf"s, {"http://h/a....asf"}},
        {"zero bytes before the URL", "\0\0\0\0rtsp://h/a.rm\0"s, {"rtsp://h/a.rm"}},
        {"single quote inside", "http://h/it's.mp3", {}},
        {"angle bracket inside", "http://h/<a>.mp3", {}},
        {"the same URL twice in one packet",
         "rtsp://h/a.rm rtsp://h/a.rm",
         {"rtsp://h/a.rm", "rtsp://h/a.rm"}},
        {"double-byte character kept in the URL", "rtsp://h/\xC4\xE3.rm", {"rtsp://h/\xC4\xE3.rm"}},
        {"dot as second byte of a character is no extension", "rtsp://h/\xC4.rm", {}},
        {"scheme as second byte of a character is no scheme", "\xB0rtsp://h/a.rm", {}},
        {"two lead bytes pair up", "\xB0\xB0rtsp://h/a.rm", {"rtsp://h/a.rm"}},
        {"a removal joins a new scheme",
         "rtsp:rtsp://a.rm//h/b.rm",
         {"rtsp://a.rm", "rtsp://h/b.rm"}},
        {"a removal joins a new scheme after a rejected one",
         "<mmmms://a b.wmvs://h/c.wmv",
         {"mms://h/c.wmv"}},
        {"nested scheme inside candidate", "http://h/rtsp://x/a.rm", {"rtsp://x/a.rm"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlsOfPayload(c.payload), c.urls) << c.what;
    }
}

TEST(UrlExtraction, HeaderBytesAreSearchedLikePayload) {
    // The destination and source addresses of the Ethernet header spell the scheme.
    std::string frame = "rtsp://h/a.rm"s + "\x08\x00"s + std::string(40, '\0');
    EXPECT_EQ(UrlsOfBytes(frame), std::vector<std::string>{"rtsp://h/a.rm"});
}

TEST(UrlExtraction, EmptyAndTinyPackets) {
    EXPECT_TRUE(UrlsOfBytes("").empty());
    EXPECT_TRUE(UrlsOfBytes("\xFF").empty());
    EXPECT_TRUE(UrlsOfBytes("://").empty());
    EXPECT_TRUE(UrlsOfBytes("rtsp://").empty());
    EXPECT_TRUE(UrlsOfBytes("rtsp://.rm").empty());
    EXPECT_EQ(UrlsOfBytes("rtsp://a.rm"), std::vector<std::string>{"rtsp://a.rm"});
}

TEST(PacketText, KeepsLengthAndMapsBytes) {
    EXPECT_EQ(TextOf("Az ~"), "Az ~");
    EXPECT_EQ(TextOf("\0\x1f\x7f\x80\xA0"s), ".....");
    EXPECT_EQ(TextOf("\xA1"
                     "b"),
              "\xA1"
              "b");
    EXPECT_EQ(TextOf("\xA1\xFF\xFF"), "\xA1\xFF\xFF");
    // A lead byte at the very end stands alone.
    EXPECT_EQ(TextOf("ab\xFF"), "ab\xFF");
    // The second byte of a pair is kept unless it is zero or a control byte.
    EXPECT_EQ(TextOf("\xB0\x80\xB0\x00\xB0\x0a\xB0\x7f"s), "\xB0\x80\xB0.\xB0.\xB0.");
    for (std::string_view bytes : {"a\xFF\xFF\xFF"sv, "\xFF"sv, ""sv, "\xFFz\0"sv}) {
        EXPECT_EQ(TextOf(bytes).size(), bytes.size());
    }
}

TEST(PacketText, NoZeroOrControlByteSurvives) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
        all.push_back(static_cast<char>(255 - byte));
    }
    for (char c : TextOf(all)) {
        auto byte = static_cast<unsigned char>(c);
        EXPECT_FALSE(byte < ' ' || byte == 127) << int(byte);
    }
}

// The rules written out the obvious way: search from the start, erase in place.
bool ReferenceStartsCharacter(const std::string& text, size_t at) {
    size_t i = 0;
    while (i < at) i += static_cast<unsigned char>(text[i]) >= 161 && i + 1 < text.size() ? 2 : 1;
    return i == at;
}

size_t ReferenceFind(const std::string& text, std::string_view needle, size_t from) {
    for (size_t at = text.find(needle, from); at != std::string::npos;
         at = text.find(needle, at + 1)) {
        if (ReferenceStartsCharacter(text, at)) return at;
    }
    return std::string::npos;
}

// Line breaks of the packet, by position: a CR or LF that starts a character.
std::vector<bool> ReferenceBreaks(const std::string& packet) {
    std::vector<bool> breaks(packet.size());
    for (size_t i = 0; i < packet.size(); ++i)
        breaks[i] = (packet[i] == '\r' || packet[i] == '\n') && ReferenceStartsCharacter(packet, i);
    return breaks;
}

std::vector<std::string> ReferenceUrls(std::string text, std::vector<bool> breaks) {
    std::vector<std::string> urls;
    for (auto scheme : kUrlSchemes) {
        for (auto extension : kMediaExtensions) {
            while (!text.empty()) {
                size_t at = ReferenceFind(text, scheme, 0);
                if (at == std::string::npos) break;
                size_t middle = at + scheme.size();
                size_t ext = ReferenceFind(text, extension, middle);
                if (ext == std::string::npos || ext == middle) break;
                std::string candidate = text.substr(at, ext + extension.size() - at);
                auto first = breaks.begin() + static_cast<ptrdiff_t>(at);
                auto last = first + static_cast<ptrdiff_t>(candidate.size());
                bool spansBreak = std::find(first, last, true) != last;
                if (!spansBreak &&
                    candidate.find_first_of(kRejectedUrlCharacters) == std::string::npos)
                    urls.push_back(candidate);
                text.erase(at, candidate.size());
                breaks.erase(first, last);
            }
        }
    }
    return urls;
}

// Packets assembled from pieces that form, split and rejoin schemes and extensions, so the
// one-pass search meets joins, double-byte characters and rejected characters in every mix.
TEST(UrlExtraction, AgreesWithTheRulesWrittenOutOnRandomPackets) {
    const std::vector<std::vector<std::string>> alphabets = {
        {"rtsp://", "http://", "mms://", "mmst://", "pnm://", "rtsp:", "//",    "rt",   "sp://",
         "://",     "h/",      "a",      "/",       ".",      ".rm",   ".rmvb", ".asf", ".wmv",
         ".smil",   "rm",      " ",      "\"",      "<",      ">",     "'",     "\xB0", "\xFF",
         "\xA1",    "\0"s,     "\r\n",   "x.mp3",   "mms",    "s://"},
        // Few pieces, so that removals often join the parts around them into a new scheme.
        {"rtsp:", "rtsp://", "//", "/", "a", ".rm", ".r", "m", " ", "\xB0", "r", "tsp://"},
    };
    std::mt19937 random(20240611);
    for (const auto& pieces : alphabets) {
        size_t found = 0;
        for (int round = 0; round < 20000; ++round) {
            std::string packet;
            int count = std::uniform_int_distribution<int>(0, 30)(random);
            for (int i = 0; i < count; ++i)
                packet +=
                    pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
            auto expected = ReferenceUrls(TextOf(packet), ReferenceBreaks(packet));
            found += expected.size();
            ASSERT_EQ(UrlsOfBytes(packet), expected) << testing::PrintToString(packet);
        }
        EXPECT_GT(found, 1000u);
    }
}

// A packet full of one short URL: every removal is one pass over what is left, so this must
// stay linear rather than move the rest of the packet once per URL.
TEST(UrlExtraction, PacketFullOfUrls) {
    std::string packet;
    while (packet.size() < 65000) packet += "rtsp://a.rm";
    EXPECT_EQ(UrlsOfBytes(packet).size(), packet.size() / 11);
}

}  // namespace
}  // namespace quil
