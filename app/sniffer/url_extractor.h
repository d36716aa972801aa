#pragma once

// Stream addresses out of raw captured frames. No protocol is decoded: the frame, headers
// included, is read as text and searched for scheme ... extension shapes.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace quil {

using UrlCallback = std::function<void(std::string_view url)>;

// Tried in this order; a shorter extension listed first wins over a longer one (".rm" cuts
// "a.rmvb" to "a.rm"), which is what users of the program see.
inline constexpr std::array<std::string_view, 8> kUrlSchemes = {
    "rtsp://", "http://", "mms://", "rtspu://", "rtspt://", "mmst://", "mmsu://", "pnm://"};
inline constexpr std::array<std::string_view, 18> kMediaExtensions = {
    ".rm",  ".rmvb", ".ra",  ".ram", ".rv",  ".asf", ".wmv", ".asx", ".wma",
    ".mpg", ".mpeg", ".avi", ".wav", ".mp3", ".mid", ".mp2", ".smi", ".smil"};
// A candidate holding any of these is not a URL.
inline constexpr std::string_view kRejectedUrlCharacters = "\"' <>";

// Printable bytes stay, other bytes below 161 become '.', a byte of 161 or more is the lead of a
// double-byte character and keeps the byte after it. The text has as many bytes as the packet.
void BuildPacketText(std::span<const uint8_t> packet, std::string& text);

// One byte per byte of the packet, 1 where the packet has a line break (CR or LF); empty for a
// packet without any.
void MarkLineBreaks(std::span<const uint8_t> packet, std::string& breaks);

// Reports every URL of the tables' shapes in `text`, in the order scheme, extension, position.
// Consumes the text: each candidate, reported or not, is removed before the next search. A
// candidate that spans a line break marked in `breaks` is removed but not reported.
void ExtractUrls(std::string& text, const UrlCallback& report);
void ExtractUrls(std::string& text, std::string& breaks, const UrlCallback& report);

// One packet at a time, reusing its text buffer; one per thread. Reports what ExtractUrls
// reports for the text of the whole packet, but looks at the raw bytes first: a packet without a
// scheme, or without anything after it that could become an extension, needs no text, and the
// text of any other starts shortly before its first scheme.
class UrlExtractor {
public:
    void Analyse(std::span<const uint8_t> packet, const UrlCallback& report);

private:
    std::string text_;
    std::string breaks_;
};

}  // namespace quil
