#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quil::net {

// The status line and headers of one HTTP response, as received.
class HttpResponse {
public:
    HttpResponse(long statusCode, std::string rawHeaders)
        : statusCode_(statusCode), rawHeaders_(std::move(rawHeaders)) {}

    long StatusCode() const { return statusCode_; }
    // Status line and header lines, each ending in CRLF as the server sent them.
    const std::string& RawHeaders() const { return rawHeaders_; }
    // The value of the first header of that name (case-insensitive), without surrounding blanks.
    std::optional<std::string> Header(std::string_view name) const;

private:
    long statusCode_;
    std::string rawHeaders_;
};

}  // namespace quil::net
