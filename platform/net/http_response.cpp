#include "platform/net/http_response.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace quil::net {

namespace {

std::string_view Trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::string> HttpResponse::Header(std::string_view name) const {
    std::string_view rest = rawHeaders_;
    bool statusLine = true;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (std::exchange(statusLine, false)) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (SameName(Trim(line.substr(0, colon)), name)) {
            return std::string(Trim(line.substr(colon + 1)));
        }
    }
    return std::nullopt;
}

}  // namespace quil::net
