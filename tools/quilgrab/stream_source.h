#pragma once

// What a stream address leads to before the grabber opens it: the entries of a .pls or .m3u
// playlist (local or fetched), and for http and https the server's answer, so a refused
// connection or a 404 is said in those words.

#include <string>
#include <vector>

namespace quil::grab {

bool LooksLikePlaylist(const std::string& address);

// The stream addresses a playlist text lists, in order (PLS "FileN=" lines or M3U lines);
// relative entries are resolved against the playlist's own address.
std::vector<std::string> ParsePlaylist(const std::string& text, const std::string& base);

struct Resolved {
    std::vector<std::string> urls;  // to try in order
    std::string error;              // in the user's words, with the address
};

// Reads a playlist (a file or a URL) into its entries, or gives the address itself.
Resolved ResolveStreamAddress(const std::string& address);

// For http and https: the server's status in words when it is not a success, or the connection
// error ("Connection refused"); empty when the stream answers or the scheme is another.
std::string ProbeStream(const std::string& url);

}  // namespace quil::grab
