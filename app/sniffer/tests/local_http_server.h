#pragma once

// A one-thread HTTP server on 127.0.0.1 that answers every request with the same reply, and a
// client for it; enough to put real HTTP traffic on the loopback interface.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace quil::test {

class LocalHttpServer {
public:
    explicit LocalHttpServer(std::string reply);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // 0 when the server could not listen.
    uint16_t port() const { return port_; }

private:
    void Serve();

    std::string reply_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Sends `request` as it is to 127.0.0.1:port and returns the whole reply ("" on failure).
std::string SendHttpRequest(uint16_t port, const std::string& request);

}  // namespace quil::test
