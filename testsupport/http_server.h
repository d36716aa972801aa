#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests: each connection runs on its own thread,
// serves one request through the handler registered for its path, and is closed afterwards.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quil::test {

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: a path, or an absolute URL when sent to a proxy
    std::vector<std::pair<std::string, std::string>> headers;
    // Value of the first header of that name (case-insensitive), empty when absent.
    std::string Header(std::string_view name) const;
};

class HttpConnection {
public:
    HttpConnection(int socket, const std::atomic<bool>& stopping)
        : socket_(socket), stopping_(stopping) {}

    // False once the client has gone.
    bool Send(std::string_view bytes);
    // Sends in pieces with a pause after each; stops early when the client goes or the server
    // stops.
    bool SendSlowly(std::string_view bytes, size_t piece, std::chrono::milliseconds pause);
    // Sends nothing more and waits until the client closes or the server stops.
    void Stall();
    // Waits, returning early when the server stops; false then.
    bool Pause(std::chrono::milliseconds time);

private:
    int socket_;
    const std::atomic<bool>& stopping_;
};

using HttpHandler = std::function<void(const HttpRequest&, HttpConnection&)>;

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(std::string_view path) const;

    // Serves requests whose target, or target without its query, is path; "*" serves any
    // target without a handler of its own. Unknown targets get a 404.
    void Handle(const std::string& path, HttpHandler handler);
    std::vector<HttpRequest> Requests() const;

private:
    void AcceptLoop();
    void Serve(int socket);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::map<std::string, HttpHandler> handlers_;
    std::vector<HttpRequest> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// A complete response: status line, the given header lines, "Connection: close", then body.
std::string HttpResponseText(int status, std::string_view reason,
                             const std::vector<std::string>& headers, std::string_view body);

// Answers with a Content-Length header, or without one when withLength is false.
HttpHandler HttpReply(int status, std::string body, bool withLength = true);
// Answers with a redirect to location.
HttpHandler HttpRedirect(int status, std::string location);
// Announces the whole body, then sends it in pieces with a pause after each.
HttpHandler HttpSlowBody(std::string body, size_t piece, std::chrono::milliseconds pause);
// Announces announcedLength bytes, sends the given part of the body, then closes.
HttpHandler HttpDropMidBody(size_t announcedLength, std::string part);
// Announces announcedLength bytes, sends the given part of the body, then stays silent.
HttpHandler HttpStallMidBody(size_t announcedLength, std::string part);

// Bytes that differ from block to block, so a misplaced block shows.
std::string PatternBytes(size_t size);

}  // namespace quil::test
