#include "platform/net/internet_session.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>

namespace quil::net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;
constexpr const char* kTimeoutText = "The operation timed out";

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The host part of a URL, or of "host:port" when it carries no scheme.
std::string HostOf(std::string_view url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed) return {};
    std::string text(url);
    if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_GUESS_SCHEME) != CURLUE_OK) {
        return {};
    }
    char* host = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) return {};
    std::unique_ptr<char, TextDeleter> owned(host);
    return host;
}

std::string AddressText(const curl_sockaddr& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address.addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address.family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address.addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

// One request: the libcurl handle and what its callbacks need. The callbacks are C functions;
// nothing may be thrown through them, so each catches and ends the transfer instead.
class Transfer {
public:
    Transfer(InternetSession& session, ResponseReceiver& receiver)
        : session_(session), receiver_(receiver) {}

    RequestResult Run(std::string_view url, DWORD flags) {
        RequestResult result;
        session_.Notify(INTERNET_STATUS_HANDLE_CREATED);
        easy_.reset(curl_easy_init());
        if (!easy_) {
            result.errorText = "Out of memory";
            return result;
        }
        std::string urlText(url);
        if (!Configure(urlText, flags)) {
            easy_.reset();
            result.errorText = "The request could not be set up";
            return result;
        }
        lastActivity_ = Clock::now();
        CURLcode code = curl_easy_perform(easy_.get());
        result.responseStarted = responseDelivered_;
        if (code == CURLE_OK && responseDelivered_) {
            result.outcome = RequestOutcome::kComplete;
        } else if (stoppedByReceiver_) {
            result.outcome = RequestOutcome::kStopped;
        } else {
            result.outcome = RequestOutcome::kFailed;
            if (!callbackError_.empty()) {
                result.errorText = callbackError_;
            } else if (code == CURLE_OK) {
                result.errorText = "The server sent no response";
            } else {
                result.errorText = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code);
            }
        }
        session_.Notify(INTERNET_STATUS_HANDLE_CLOSING);
        // Cleaning up closes the connection, which still reports through this object.
        easy_.reset();
        return result;
    }

private:
    bool Configure(const std::string& url, DWORD flags) {
        CURL* e = easy_.get();
        bool ok = true;
        auto set = [&](CURLoption option, auto value) {
            ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK;
        };
        set(CURLOPT_URL, url.c_str());
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_FOLLOWLOCATION, 1L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        set(CURLOPT_USERAGENT, session_.agent_.c_str());
        set(CURLOPT_ERRORBUFFER, errorBuffer_);
        if (session_.receiveBlockSize_ > 0) {
            set(CURLOPT_BUFFERSIZE, static_cast<long>(session_.receiveBlockSize_));
        }
        if (session_.receiveTimeout_.count() > 0) {
            set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(session_.receiveTimeout_.count()));
        }
        if (session_.accessType_ == INTERNET_OPEN_TYPE_DIRECT) {
            set(CURLOPT_PROXY, "");
        } else if (session_.accessType_ == INTERNET_OPEN_TYPE_PROXY) {
            set(CURLOPT_PROXY, session_.proxy_.c_str());
            if (!session_.proxyBypass_.empty()) {
                set(CURLOPT_NOPROXY, session_.proxyBypass_.c_str());
            }
        }
        if (flags & INTERNET_FLAG_RELOAD) {
            // Never from a cache, including caching proxies on the way.
            for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
                curl_slist* grown = curl_slist_append(headers_.get(), header);
                if (!grown) return false;
                headers_.release();
                headers_.reset(grown);
            }
            set(CURLOPT_HTTPHEADER, headers_.get());
        }

        set(CURLOPT_RESOLVER_START_FUNCTION, &Transfer::OnResolverStart);
        set(CURLOPT_RESOLVER_START_DATA, this);
        set(CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        set(CURLOPT_CLOSESOCKETFUNCTION, &Transfer::OnCloseSocket);
        set(CURLOPT_CLOSESOCKETDATA, this);
        set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest);
        set(CURLOPT_PREREQDATA, this);
        // The debug callback is the one place that says when the request went out; it only
        // runs in verbose mode, and replaces libcurl's own printing.
        set(CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
        set(CURLOPT_DEBUGDATA, this);
        set(CURLOPT_VERBOSE, 1L);
        set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
        set(CURLOPT_WRITEDATA, this);
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
        set(CURLOPT_XFERINFODATA, this);
        return ok;
    }

    void Fail(std::string text) {
        if (callbackError_.empty()) callbackError_ = std::move(text);
    }

    std::string CurrentHost() {
        if (session_.accessType_ == INTERNET_OPEN_TYPE_PROXY && !session_.proxy_.empty()) {
            return HostOf(session_.proxy_);
        }
        char* url = nullptr;
        curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url);
        return url ? HostOf(url) : std::string();
    }

    static int OnResolverStart(void*, void*, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        try {
            std::string host = t.CurrentHost();
            t.session_.Notify(INTERNET_STATUS_RESOLVING_NAME, host.c_str(),
                              static_cast<DWORD>(host.size() + 1));
            t.nameResolvedPending_ = true;
            return 0;
        } catch (...) {
            t.Fail("Out of memory");
            return 1;
        }
    }

    static curl_socket_t OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
        auto& t = *static_cast<Transfer*>(self);
        try {
            std::string text = AddressText(*address);
            if (std::exchange(t.nameResolvedPending_, false)) {
                t.session_.Notify(INTERNET_STATUS_NAME_RESOLVED, text.c_str(),
                                  static_cast<DWORD>(text.size() + 1));
            }
            t.session_.Notify(INTERNET_STATUS_CONNECTING_TO_SERVER, text.c_str(),
                              static_cast<DWORD>(text.size() + 1));
            t.connectionPending_ = true;
            t.lastActivity_ = Clock::now();
        } catch (...) {
            t.Fail("Out of memory");
            return CURL_SOCKET_BAD;
        }
        return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int OnCloseSocket(void* self, curl_socket_t socket) {
        auto& t = *static_cast<Transfer*>(self);
        t.session_.Notify(INTERNET_STATUS_CLOSING_CONNECTION);
        int result = close(socket);
        t.session_.Notify(INTERNET_STATUS_CONNECTION_CLOSED);
        return result;
    }

    static int OnPrerequest(void* self, char*, char*, int, int) {
        auto& t = *static_cast<Transfer*>(self);
        // Also called before a request on a connection that is already open.
        if (std::exchange(t.connectionPending_, false)) {
            t.session_.Notify(INTERNET_STATUS_CONNECTED_TO_SERVER);
        }
        t.session_.Notify(INTERNET_STATUS_SENDING_REQUEST);
        t.lastActivity_ = Clock::now();
        return CURL_PREREQFUNC_OK;
    }

    static int OnDebug(CURL*, curl_infotype type, char*, size_t size, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        if (type == CURLINFO_HEADER_OUT) {
            DWORD sent = static_cast<DWORD>(size);
            t.session_.Notify(INTERNET_STATUS_REQUEST_SENT, &sent, sizeof sent);
            t.lastActivity_ = Clock::now();
        }
        return 0;
    }

    static size_t OnHeader(char* data, size_t, size_t size, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        try {
            t.lastActivity_ = Clock::now();
            // Trailers of a chunked body come through here too; they are not part of it.
            if (t.responseDelivered_) return size;
            std::string_view line(data, size);
            if (line.starts_with("HTTP/")) {
                t.session_.Notify(INTERNET_STATUS_RECEIVING_RESPONSE);
                t.session_.Notify(INTERNET_STATUS_RESPONSE_RECEIVED);
                t.rawHeaders_.assign(line);
                return size;
            }
            if (line != "\r\n" && line != "\n") {
                t.rawHeaders_.append(line);
                return size;
            }
            return t.EndOfHeaders() ? size : 0;
        } catch (...) {
            t.Fail("Out of memory");
            return 0;
        }
    }

    // False ends the transfer.
    bool EndOfHeaders() {
        long code = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &code);
        if (code < 200) return true;  // an interim response; the real one follows
        HttpResponse response(code, std::move(rawHeaders_));
        // libcurl follows every 3xx answer that names a new location.
        auto location = response.Header("Location");
        if (code >= 300 && code < 400 && location && !location->empty()) {
            session_.Notify(INTERNET_STATUS_REDIRECT, location->c_str(),
                            static_cast<DWORD>(location->size() + 1));
            return true;
        }
        responseDelivered_ = true;
        if (!receiver_.OnResponse(response)) {
            stoppedByReceiver_ = true;
            return false;
        }
        return true;
    }

    static size_t OnWrite(char* data, size_t, size_t size, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        try {
            t.lastActivity_ = Clock::now();
            if (!t.responseDelivered_) {
                if (!t.EndOfHeaders()) return 0;
                // The body of an answer that is not the final one.
                if (!t.responseDelivered_) return size;
            }
            if (!t.receiver_.OnData(std::span<const char>(data, size)) ||
                t.receiver_.StopRequested()) {
                t.stoppedByReceiver_ = true;
                return 0;
            }
            return size;
        } catch (...) {
            t.Fail("Out of memory");
            return 0;
        }
    }

    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto& t = *static_cast<Transfer*>(self);
        try {
            if (t.receiver_.StopRequested()) {
                t.stoppedByReceiver_ = true;
                return 1;
            }
            auto timeout = t.session_.receiveTimeout_;
            if (timeout.count() > 0 && Clock::now() - t.lastActivity_ > timeout) {
                t.Fail(kTimeoutText);
                return 1;
            }
            return 0;
        } catch (...) {
            t.Fail("Out of memory");
            return 1;
        }
    }

    InternetSession& session_;
    ResponseReceiver& receiver_;
    std::unique_ptr<curl_slist, ListDeleter> headers_;
    // Declared after the header list, which it uses until cleanup.
    std::unique_ptr<CURL, EasyDeleter> easy_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::string rawHeaders_;
    std::string callbackError_;
    Clock::time_point lastActivity_;
    bool nameResolvedPending_ = false;
    bool connectionPending_ = false;
    bool responseDelivered_ = false;
    bool stoppedByReceiver_ = false;
};

InternetSession::InternetSession(std::string agent, DWORD_PTR context, DWORD accessType)
    : agent_(agent.empty() ? "Quillet" : std::move(agent)),
      context_(context),
      accessType_(accessType) {
    InitCurlOnce();
}

InternetSession::~InternetSession() = default;

void InternetSession::SetProxy(DWORD accessType, std::string proxy, std::string bypass) {
    accessType_ = accessType;
    proxy_ = std::move(proxy);
    proxyBypass_ = std::move(bypass);
}

RequestResult InternetSession::OpenUrl(std::string_view url, DWORD flags,
                                       ResponseReceiver& receiver) {
    try {
        Transfer transfer(*this, receiver);
        return transfer.Run(url, flags);
    } catch (...) {
        RequestResult result;
        result.errorText = "Out of memory";
        return result;
    }
}

void InternetSession::OnStatusCallback(DWORD_PTR, DWORD, const void*, DWORD) {}

void InternetSession::Notify(DWORD internetStatus, const void* information, DWORD length) {
    if (!statusCallback_) return;
    // Runs inside libcurl's callbacks, which must not be left by an exception.
    try {
        OnStatusCallback(context_, internetStatus, information, length);
    } catch (...) {
    }
}

}  // namespace quil::net
