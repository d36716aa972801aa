#pragma once

// The URL extraction as it was before it searched the raw packet first: every byte became text
// before the search. Only the tests use it, as the reference the extractor must match.

#include <cstdint>
#include <span>
#include <string>

#include "app/sniffer/url_extractor.h"

namespace quil::reference {

void BuildPacketText(std::span<const uint8_t> packet, std::string& text);
void MarkLineBreaks(std::span<const uint8_t> packet, std::string& breaks);
void ExtractUrls(std::string& text, std::string& breaks, const UrlCallback& report);
void ExtractUrls(std::string& text, const UrlCallback& report);
// What UrlExtractor::Analyse reported for a packet.
void Analyse(std::span<const uint8_t> packet, const UrlCallback& report);

}  // namespace quil::reference
