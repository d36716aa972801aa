#pragma once

// The web file fetcher: downloads one HTTP URL into one local file on the caller's thread and
// reports status texts and progress by posting window messages. A plain table of operations;
// nothing is thrown out of it.

#include "platform/com/types.h"
#include "platform/window/window.h"

#define QUIL_UPDATE_EXPORT __attribute__((visibility("default")))

// A status text as handed out: zero-terminated, at most 259 bytes.
struct WebQuilfetchText {
    char text[260];
};

class WebQuilfetch {
public:
    // localPath must not be empty; agentName and proxyHost may be null. A non-zero timeout is the
    // longest wait for data, in ms. Status notifications: statusMessage posted to statusWindow
    // with wparam 1, lparam 0 whenever the status text changes.
    virtual BOOL Open(const char* agentName, DWORD timeoutMs, BOOL useProxy, const char* proxyHost,
                      DWORD proxyPort, UINT statusMessage, HWND statusWindow,
                      const char* localPath) = 0;
    virtual BOOL Close() = 0;
    // Closes the session and frees the object.
    virtual void Destroy() = 0;
    // Blocks until the body is read. True when it was read to its end (the file then holds it
    // under the local path) or the download was cancelled (the part read so far stays in the
    // local path followed by ".part"); false on any failure.
    virtual BOOL Download(const char* url) = 0;
    // Callable from any thread; the download ends after the block in progress.
    virtual BOOL Cancel() = 0;
    // After each block: progressMessage posted to progressWindow with wparam the bytes received
    // and lparam the announced length, or 0 during the first second of the body.
    virtual BOOL SetProgressTarget(UINT progressMessage, HWND progressWindow) = 0;
    virtual WebQuilfetchText GetStatusText() = 0;
    // KB/s, as last computed.
    virtual double GetSpeed() = 0;
    // HTTP status code of the last download that ended well, 0 otherwise.
    virtual DWORD GetStatusCode() = 0;
    // Copies the raw response headers of that download (bounded, always terminated); returns
    // their full length.
    virtual DWORD GetRawHeaders(char* buffer, DWORD capacity) = 0;
    // Downloads announcing more than maxBytes fail before anything is written; 0 takes any
    // length.
    virtual BOOL SetSizeLimit(LONGLONG maxBytes) = 0;

protected:
    ~WebQuilfetch() = default;
};

// A new fetcher, or null when memory runs out. End its use with Close, then Destroy.
extern "C" QUIL_UPDATE_EXPORT WebQuilfetch* WebQuilfetchCreateInstance();
