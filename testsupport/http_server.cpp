#include "testsupport/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace quil::test {

namespace {

constexpr auto kTick = std::chrono::milliseconds(20);

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

HttpRequest ParseRequest(std::string_view head) {
    HttpRequest request;
    size_t end = head.find("\r\n");
    std::string_view line = head.substr(0, end);
    size_t space = line.find(' ');
    request.method = line.substr(0, space);
    if (space != std::string_view::npos) {
        std::string_view rest = line.substr(space + 1);
        request.target = rest.substr(0, rest.find(' '));
    }
    while (end != std::string_view::npos) {
        head.remove_prefix(end + 2);
        end = head.find("\r\n");
        line = head.substr(0, end);
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    return request;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) return value;
    }
    return {};
}

bool HttpConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

bool HttpConnection::SendSlowly(std::string_view bytes, size_t piece,
                                std::chrono::milliseconds pause) {
    while (!bytes.empty()) {
        size_t size = std::min(piece, bytes.size());
        if (!Send(bytes.substr(0, size))) return false;
        bytes.remove_prefix(size);
        if (!Pause(pause)) return false;
    }
    return true;
}

void HttpConnection::Stall() {
    char scratch[512];
    while (!stopping_) {
        pollfd entry{socket_, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(kTick.count()));
        if (ready < 0) return;
        if (ready > 0 && recv(socket_, scratch, sizeof scratch, 0) <= 0) return;
    }
}

bool HttpConnection::Pause(std::chrono::milliseconds time) {
    auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until) {
        if (stopping_) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kTick, until - std::chrono::steady_clock::now()));
    }
    return !stopping_;
}

HttpServer::HttpServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::abort();
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
    stopping_ = true;
    acceptor_.join();
    close(listener_);
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& connection : connections) connection.join();
}

std::string HttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void HttpServer::Handle(const std::string& path, HttpHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

std::vector<HttpRequest> HttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd entry{listener_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(kTick.count())) <= 0) continue;
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, client] {
            Serve(client);
            close(client);
        });
    }
}

void HttpServer::Serve(int socket) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (stopping_) return;
        pollfd entry{socket, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(kTick.count()));
        if (ready < 0) return;
        if (ready == 0) continue;
        ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        head.append(buffer, static_cast<size_t>(got));
    }
    HttpRequest request = ParseRequest(head.substr(0, head.find("\r\n\r\n") + 2));
    HttpHandler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        std::string path = request.target.substr(0, request.target.find('?'));
        for (const std::string& key : {request.target, path, std::string("*")}) {
            auto found = handlers_.find(key);
            if (found != handlers_.end()) {
                handler = found->second;
                break;
            }
        }
    }
    HttpConnection connection(socket, stopping_);
    if (handler) {
        handler(request, connection);
    } else {
        connection.Send(HttpResponseText(404, "Not Found", {"Content-Length: 9"}, "not found"));
    }
    shutdown(socket, SHUT_WR);
}

std::string HttpResponseText(int status, std::string_view reason,
                             const std::vector<std::string>& headers, std::string_view body) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const auto& header : headers) text += header + "\r\n";
    text += "Connection: close\r\n\r\n";
    text += body;
    return text;
}

HttpHandler HttpReply(int status, std::string body, bool withLength) {
    return [=](const HttpRequest&, HttpConnection& connection) {
        std::vector<std::string> headers = {"Content-Type: application/octet-stream"};
        if (withLength) headers.push_back("Content-Length: " + std::to_string(body.size()));
        connection.Send(HttpResponseText(status, status == 200 ? "OK" : "Status", headers, body));
    };
}

HttpHandler HttpRedirect(int status, std::string location) {
    return [=](const HttpRequest&, HttpConnection& connection) {
        connection.Send(HttpResponseText(status, "Moved",
                                         {"Location: " + location, "Content-Length: 5"}, "moved"));
    };
}

HttpHandler HttpSlowBody(std::string body, size_t piece, std::chrono::milliseconds pause) {
    return [=](const HttpRequest&, HttpConnection& connection) {
        if (!connection.Send(HttpResponseText(
                200, "OK", {"Content-Length: " + std::to_string(body.size())}, ""))) {
            return;
        }
        connection.SendSlowly(body, piece, pause);
    };
}

HttpHandler HttpDropMidBody(size_t announcedLength, std::string part) {
    return [=](const HttpRequest&, HttpConnection& connection) {
        connection.Send(HttpResponseText(
            200, "OK", {"Content-Length: " + std::to_string(announcedLength)}, part));
    };
}

HttpHandler HttpStallMidBody(size_t announcedLength, std::string part) {
    return [=](const HttpRequest&, HttpConnection& connection) {
        if (connection.Send(HttpResponseText(
                200, "OK", {"Content-Length: " + std::to_string(announcedLength)}, part))) {
            connection.Stall();
        }
    };
}

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

}  // namespace quil::test
