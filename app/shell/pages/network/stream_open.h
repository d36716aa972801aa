#pragma once

// Opens a stream URL for a grab or a playback on a worker thread: a slow or dead server can
// hold the open for as long as the network time-out, and the window must keep turning. The
// worker only builds and starts its own grabber; the page takes it over on its UI thread
// after the done message arrives. No Qt here.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/media/file_audio_grabber.h"
#include "platform/window/window.h"

namespace quil::network {

// Ends a grabber's life the only way it allows: Stop, ReleaseGraph, Destroy.
struct GrabberCloser {
    void operator()(FileAudioGrabber* grabber) const {
        grabber->Stop();
        grabber->ReleaseGraph();
        grabber->Destroy();
    }
};
using GrabberPtr = std::unique_ptr<FileAudioGrabber, GrabberCloser>;

struct StreamOpenRequest {
    std::string url;
    bool grab = false;  // false: playback
    int outputFormat = 0;
    std::string outputPath;  // grabs only
    // Hands the encoder options to the fresh grabber before Open; empty for none.
    std::function<void(FileAudioGrabber&)> encoderOptions;
    // Where the running grabber posts its events.
    HWND eventWindow = nullptr;
    UINT eventMessage = 0;
};

struct StreamOpenResult {
    GrabberPtr grabber;  // running; null when the stream could not be opened or run
    std::string title;
    std::string author;
    bool hasVideo = false;
    bool haveSourceFormat = false;
    PCMWAVEFORMAT sourceFormat{};
};

class StreamOpen {
public:
    // Starts the worker; when it ends it posts `doneMessage` with wParam `id` to `doneWindow`.
    StreamOpen(StreamOpenRequest request, HWND doneWindow, UINT doneMessage, WPARAM id);
    // Abandons the open and waits for the worker.
    ~StreamOpen();
    StreamOpen(const StreamOpen&) = delete;
    StreamOpen& operator=(const StreamOpen&) = delete;

    WPARAM Id() const { return id_; }
    const StreamOpenRequest& Request() const { return request_; }

    // From now on the worker drops what it opened instead of handing it over; the done message
    // still comes.
    void Abandon() { abandoned_.store(true); }
    // Waits for the worker (it has ended or is about to once the done message arrived) and
    // takes its result. An open abandoned late may still hand over a running grabber.
    StreamOpenResult Take();
    bool Abandoned() const { return abandoned_.load(); }

private:
    void Work(HWND doneWindow, UINT doneMessage);

    const StreamOpenRequest request_;
    const WPARAM id_;
    std::atomic<bool> abandoned_{false};
    StreamOpenResult result_;  // written by the worker, read after join
    std::thread worker_;
};

}  // namespace quil::network
