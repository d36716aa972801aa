#pragma once

// Opens a stream URL for a grab or a playback on a worker thread: a slow or dead server can
// hold the open for as long as the network time-out, and the window must keep turning. The
// worker only builds and starts its own grabber; the page takes it over on its UI thread
// after the done message arrives. A playback of a stream with video stops between Open and
// Run until the UI thread has given the grabber its video window. No Qt here.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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
    // Running, or handed back stopped because the UI thread had attached a window to it (that
    // window goes first); null when the stream could not be opened or run.
    GrabberPtr grabber;
    bool running = false;
    std::string title;
    std::string author;
    bool hasVideo = false;
    bool haveSourceFormat = false;
    PCMWAVEFORMAT sourceFormat{};
};

// Where the worker reports, each time with wParam = the open's id.
struct StreamOpenReports {
    HWND window = nullptr;
    // A playback's stream with video is open and waits for Proceed; 0: never wait.
    UINT opened = 0;
    // The worker has ended.
    UINT done = 0;
};

class StreamOpen {
public:
    StreamOpen(StreamOpenRequest request, StreamOpenReports reports, WPARAM id);
    // Abandons the open and waits for the worker. A grabber handed back to a window that was
    // not closed yet would be ended here: take the result first.
    ~StreamOpen();
    StreamOpen(const StreamOpen&) = delete;
    StreamOpen& operator=(const StreamOpen&) = delete;

    WPARAM Id() const { return id_; }
    const StreamOpenRequest& Request() const { return request_; }

    // From now on the worker drops what it opened instead of handing it over (unless a window
    // was attached to it); a connection still being made is cut short, so the worker ends
    // soon even on a server that never answers. The done message still comes.
    void Abandon();
    // The opened grabber while the worker waits for Proceed, else null. Only the UI thread
    // calls the grabber then, and only until it calls Proceed.
    FileAudioGrabber* Waiting();
    // Lets a waiting worker run the grabber. attached: the caller gave the grabber a window of
    // its own, so the worker hands the grabber back whatever happens and never ends it itself.
    void Proceed(bool attached);
    // Waits for the worker (it has ended or is about to once the done message arrived) and
    // takes its result. An open abandoned late may still hand over a running grabber.
    StreamOpenResult Take();
    bool Abandoned() const { return abandoned_.load(); }

private:
    void Work();
    // After Open: reports it and waits for Proceed or Abandon; true when a window was attached.
    bool WaitForWindow(FileAudioGrabber* grabber);

    const StreamOpenRequest request_;
    const StreamOpenReports reports_;
    const WPARAM id_;
    std::atomic<bool> abandoned_{false};
    std::mutex waitLock_;
    std::condition_variable wake_;
    FileAudioGrabber* opening_ = nullptr;  // guarded by waitLock_, while Open runs
    FileAudioGrabber* waiting_ = nullptr;  // guarded by waitLock_
    bool proceed_ = false;                 // guarded by waitLock_
    bool attached_ = false;                // guarded by waitLock_
    StreamOpenResult result_;              // written by the worker, read after join
    std::thread worker_;
};

}  // namespace quil::network
