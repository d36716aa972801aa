// The extractor against the reference that turned every byte into text first: both must report
// the same URLs in the same order for any packet, and make the same text of it.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/sniffer/tests/capture_writer.h"
#include "app/sniffer/tests/url_extractor_reference.h"
#include "app/sniffer/url_extractor.h"

namespace quil {
namespace {

using Bytes = std::vector<uint8_t>;

// Pieces that make URLs, near-URLs and the bytes around them.
const std::vector<std::string>& Tokens() {
    static const std::vector<std::string> tokens = [] {
        std::vector<std::string> list;
        for (auto scheme : kUrlSchemes) {
            std::string s(scheme);
            list.push_back(s);
            for (size_t cut = 1; cut < s.size(); ++cut) list.push_back(s.substr(0, cut));
            std::string upper = s;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            list.push_back(upper);
        }
        for (auto extension : kMediaExtensions) {
            std::string e(extension);
            list.push_back(e);
            list.push_back(e.substr(0, 2));
            list.push_back(e.substr(1));
            std::string upper = e;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            list.push_back(upper);
        }
        for (const char* piece : {"://",
                                  ":/",
                                  "/",
                                  ".",
                                  "..",
                                  " ",
                                  "\"",
                                  "'",
                                  "<",
                                  ">",
                                  "\r\n",
                                  "\n",
                                  "\r",
                                  "h/",
                                  "media.local/",
                                  "www.site.local/a",
                                  "index.html",
                                  "?q=1&x=2",
                                  "%20",
                                  "https://",
                                  "<a href=\"",
                                  "\">",
                                  "GET ",
                                  " HTTP/1.1\r\n",
                                  "PLAY ",
                                  " RTSP/1.0\r\n"})
            list.emplace_back(piece);
        return list;
    }();
    return tokens;
}

void AppendRandomBytes(std::mt19937& random, Bytes& out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        switch (random() % 6) {
            case 0:
                out.push_back(static_cast<uint8_t>(random() % 32));
                break;  // NUL, controls
            case 1:
                out.push_back(static_cast<uint8_t>(127 + random() % 34));
                break;  // 127..160
            case 2:
                out.push_back(static_cast<uint8_t>(161 + random() % 95));
                break;  // lead bytes
            case 3:
                out.push_back(static_cast<uint8_t>(random()));
                break;
            default:
                out.push_back(static_cast<uint8_t>('a' + random() % 26));
        }
    }
}

Bytes GeneratePayload(std::mt19937& random, size_t approximateSize) {
    Bytes out;
    const auto& tokens = Tokens();
    while (out.size() < approximateSize) {
        unsigned kind = random() % 10;
        if (kind < 6) {
            const std::string& token = tokens[random() % tokens.size()];
            out.insert(out.end(), token.begin(), token.end());
        } else if (kind < 8) {
            // A whole URL, sometimes with a lead byte or a break in its middle.
            std::string url(kUrlSchemes[random() % kUrlSchemes.size()]);
            url += "h/p" + std::to_string(random() % 1000);
            if (random() % 4 == 0) url += static_cast<char>(161 + random() % 95);
            if (random() % 8 == 0) url += "\r\n";
            url += kMediaExtensions[random() % kMediaExtensions.size()];
            out.insert(out.end(), url.begin(), url.end());
        } else if (kind < 9) {
            AppendRandomBytes(random, out, 1 + random() % 8);
        } else {
            // Long plain runs exercise the block-wise paths.
            size_t run = 1 + random() % 80;
            for (size_t i = 0; i < run; ++i)
                out.push_back(static_cast<uint8_t>(' ' + random() % 95));
        }
    }
    return out;
}

void Mutate(std::mt19937& random, Bytes& bytes) {
    int edits = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < edits; ++i) {
        size_t at = bytes.empty() ? 0 : random() % (bytes.size() + 1);
        switch (random() % 6) {
            case 0:
                if (at < bytes.size()) bytes[at] = static_cast<uint8_t>(random());
                break;
            case 1: {
                const std::string& token = Tokens()[random() % Tokens().size()];
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), token.begin(),
                             token.end());
                break;
            }
            case 2: {
                size_t length = std::min<size_t>(random() % 16, bytes.size() - at);
                bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
                break;
            }
            case 3:
                // Cut at a packet end, often inside a URL.
                bytes.resize(at);
                break;
            case 4: {
                Bytes before;
                AppendRandomBytes(random, before, 1 + random() % 3);
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), before.begin(),
                             before.end());
                break;
            }
            default: {
                // A scheme cut short in the last bytes.
                std::string_view scheme = kUrlSchemes[random() % kUrlSchemes.size()];
                bytes.insert(
                    bytes.end(), scheme.begin(),
                    scheme.begin() + static_cast<std::ptrdiff_t>(1 + random() % scheme.size()));
            }
        }
    }
}

std::vector<std::string> ReferenceUrls(std::span<const uint8_t> packet) {
    std::vector<std::string> urls;
    reference::Analyse(packet, [&](std::string_view url) { urls.emplace_back(url); });
    return urls;
}

// Compares one packet; one extractor serves many packets, as in a capture.
class Comparer {
public:
    void Check(const Bytes& packet) {
        ++packets_;
        std::vector<std::string> urls;
        extractor_.Analyse(packet, [&](std::string_view url) { urls.emplace_back(url); });
        std::vector<std::string> expected = ReferenceUrls(packet);
        hits_ += expected.size();
        if (urls != expected && ++failures_ <= 5) {
            ADD_FAILURE() << "different URLs for a packet of " << packet.size()
                          << " bytes: " << Escaped(packet) << "\nreference: " << Joined(expected)
                          << "\nnew:       " << Joined(urls);
        }
        // The reference's line breaks take no empty packet (memchr on no buffer).
        if (packet.empty()) return;
        std::string text, referenceText, breaks, referenceBreaks;
        BuildPacketText(packet, text);
        reference::BuildPacketText(packet, referenceText);
        MarkLineBreaks(packet, breaks);
        reference::MarkLineBreaks(packet, referenceBreaks);
        if ((text != referenceText || breaks != referenceBreaks) && ++failures_ <= 5)
            ADD_FAILURE() << "different text or line breaks for " << Escaped(packet);
    }
    size_t packets() const { return packets_; }
    size_t hits() const { return hits_; }

private:
    static std::string Escaped(const Bytes& packet) {
        std::string out;
        for (uint8_t byte :
             packet.size() > 400 ? Bytes(packet.begin(), packet.begin() + 400) : packet) {
            if (byte >= ' ' && byte < 127 && byte != '\\') {
                out += static_cast<char>(byte);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                out += hex;
            }
        }
        return out;
    }
    static std::string Joined(const std::vector<std::string>& urls) {
        std::string out;
        for (const auto& url : urls) out += "[" + url + "] ";
        return out;
    }

    UrlExtractor extractor_;
    size_t packets_ = 0;
    size_t hits_ = 0;
    int failures_ = 0;
};

TEST(UrlExtractionDiff, GeneratedAndMutatedPayloadsMatchTheReference) {
    std::mt19937 random(20261207);
    Comparer comparer;
    comparer.Check({});
    for (int byte = 0; byte < 256; ++byte) comparer.Check({static_cast<uint8_t>(byte)});
    for (int round = 0; round < 15000; ++round) {
        size_t size = round % 50 == 0 ? 1460 : random() % 200;
        Bytes packet = GeneratePayload(random, size);
        comparer.Check(packet);
        for (int mutation = 0; mutation < 3; ++mutation) {
            Mutate(random, packet);
            comparer.Check(packet);
        }
    }
    // Enough of the packets hold URLs that the comparison means something.
    EXPECT_GT(comparer.hits(), comparer.packets() / 4);
}

TEST(UrlExtractionDiff, EdgesOfThePacketMatchTheReference) {
    Comparer comparer;
    // Schemes cut at every length in the last bytes, after text and after lead bytes.
    for (auto scheme : kUrlSchemes) {
        for (size_t cut = 1; cut <= scheme.size(); ++cut) {
            for (std::string before : {"", "x", "\xB0", "\xB0\xB0", "\xB0h", "h", ":", "\0"}) {
                std::string payload =
                    "rtsp://h/a.rm " + before + std::string(scheme.substr(0, cut));
                comparer.Check(Bytes(payload.begin(), payload.end()));
                payload = before + std::string(scheme.substr(0, cut));
                comparer.Check(Bytes(payload.begin(), payload.end()));
                // and the same behind whole frames, as captured
                comparer.Check(test::TcpFrame(payload));
            }
        }
    }
    // Candidates that join into new schemes across removed ones, behind lead bytes.
    for (std::string payload :
         {"htrtsp://a.rmtp://b.asf", "hhttp://x.rmttp://y.wmv", "\xB0rtsp://a.rm",
          "\xB0\xB0rtsp://a.rm", "\xB0\xB0\xB0rtsp://a.rm", "m\xB0mms://a.rmms://b.asf",
          "pnpnm://a.rmm://b.ra", "rtsprtsp://a.rm://b.rm", "://rtsp://a.rm",
          "rtsp://a\r.rm http://b.asf"})
        comparer.Check(Bytes(payload.begin(), payload.end()));
}

TEST(UrlExtractionDiff, LargePayloadsWithManyHitsMatchTheReference) {
    std::mt19937 random(99);
    Comparer comparer;
    for (int round = 0; round < 12; ++round) {
        Bytes packet = GeneratePayload(random, 65536);
        packet.resize(65536);
        comparer.Check(packet);
        Mutate(random, packet);
        comparer.Check(packet);
    }
    // 64 KiB of binary noise with a URL at each end.
    Bytes noise;
    AppendRandomBytes(random, noise, 65536 - 30);
    std::string head = "rtsp://h/a.rm ", tail = " mms://h/b.wmv";
    noise.insert(noise.begin(), head.begin(), head.end());
    noise.insert(noise.end(), tail.begin(), tail.end());
    comparer.Check(noise);
    EXPECT_GT(comparer.hits(), 500u);
}

}  // namespace
}  // namespace quil
