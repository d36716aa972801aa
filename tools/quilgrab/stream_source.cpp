#include "tools/quilgrab/stream_source.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace quil::grab {

namespace {

constexpr size_t kPlaylistLimit = 1 << 20;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsHttp(const std::string& url) {
    std::string lower = Lower(url.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

std::string Trim(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

std::string Resolve(const std::string& entry, const std::string& base) {
    if (entry.find("://") != std::string::npos || entry.starts_with("/")) return entry;
    size_t slash = base.rfind('/');
    return slash == std::string::npos ? entry : base.substr(0, slash + 1) + entry;
}

struct Fetch {
    long status = 0;
    std::string reason;
    std::string body;
    std::string contentType;
    bool bodyWanted = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* fetch = static_cast<Fetch*>(user);
    std::string line(data, size * count);
    if (line.starts_with("HTTP/")) {
        // "HTTP/1.1 404 Not Found": the reason is what people know.
        size_t first = line.find(' ');
        size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        fetch->reason = second == std::string::npos ? std::string() : Trim(line.substr(second + 1));
    } else if (Lower(line).starts_with("content-type:")) {
        fetch->contentType = Lower(Trim(line.substr(13)));
    }
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* fetch = static_cast<Fetch*>(user);
    // Only a playlist is read whole; of a stream the first bytes say enough.
    if (!fetch->bodyWanted || fetch->body.size() + size * count > kPlaylistLimit) return 0;
    fetch->body.append(data, size * count);
    return size * count;
}

// GETs the URL; returns the connection error in words, or empty once the server answered.
std::string Get(const std::string& url, Fetch* fetch) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return "out of memory";
    char message[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, 15L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, fetch);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, fetch);
    CURLcode code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &fetch->status);
    if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && fetch->status > 0)) return {};
    long osError = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_OS_ERRNO, &osError);
    if (code == CURLE_COULDNT_CONNECT && osError != 0)
        return std::strerror(static_cast<int>(osError));
    if (code == CURLE_COULDNT_RESOLVE_HOST) return "unknown host";
    if (code == CURLE_OPERATION_TIMEDOUT) return "timed out";
    return *message ? message : curl_easy_strerror(code);
}

std::string StatusText(const Fetch& fetch) {
    return "HTTP " + std::to_string(fetch.status) +
           (fetch.reason.empty() ? "" : " " + fetch.reason);
}

}  // namespace

bool LooksLikePlaylist(const std::string& address) {
    std::string path = Lower(address.substr(0, address.find_first_of("?#")));
    return path.ends_with(".pls") || path.ends_with(".m3u") || path.ends_with(".m3u8");
}

std::vector<std::string> ParsePlaylist(const std::string& text, const std::string& base) {
    std::vector<std::string> urls;
    std::istringstream lines(text);
    std::string line;
    bool pls = Lower(text.substr(0, 64)).find("[playlist]") != std::string::npos;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty()) continue;
        if (pls) {
            std::string lower = Lower(line);
            size_t equals = line.find('=');
            if (lower.starts_with("file") && equals != std::string::npos)
                urls.push_back(Resolve(Trim(line.substr(equals + 1)), base));
        } else if (line[0] != '#') {
            urls.push_back(Resolve(line, base));
        }
    }
    return urls;
}

Resolved ResolveStreamAddress(const std::string& address) {
    Resolved resolved;
    if (!LooksLikePlaylist(address)) {
        resolved.urls.push_back(address);
        return resolved;
    }
    std::string text;
    if (IsHttp(address)) {
        Fetch fetch;
        fetch.bodyWanted = true;
        std::string error = Get(address, &fetch);
        if (!error.empty()) {
            resolved.error = address + ": " + error;
            return resolved;
        }
        if (fetch.status >= 400) {
            resolved.error = address + ": " + StatusText(fetch);
            return resolved;
        }
        text = fetch.body;
    } else if (address.find("://") == std::string::npos) {
        std::ifstream file(address, std::ios::binary);
        if (!file) {
            resolved.error = address + ": " + std::strerror(errno);
            return resolved;
        }
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str().substr(0, kPlaylistLimit);
    } else {
        resolved.urls.push_back(address);
        return resolved;
    }
    resolved.urls = ParsePlaylist(text, address);
    if (resolved.urls.empty()) resolved.error = address + ": the playlist lists no stream";
    return resolved;
}

std::string ProbeStream(const std::string& url) {
    if (!IsHttp(url)) return {};
    Fetch fetch;
    std::string error = Get(url, &fetch);
    if (!error.empty()) return error;
    if (fetch.status >= 400) return StatusText(fetch);
    return {};
}

}  // namespace quil::grab
