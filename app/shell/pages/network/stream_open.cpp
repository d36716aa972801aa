#include "app/shell/pages/network/stream_open.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "platform/com/class_registry.h"

namespace quil::network {

namespace {

// GetTitle and GetAuthor fill up to 1024 bytes.
constexpr size_t kHeaderTextBytes = 1024;

std::string HeaderText(FileAudioGrabber& grabber, int (FileAudioGrabber::*read)(char*)) {
    std::array<char, kHeaderTextBytes + 1> buffer{};
    if (!(grabber.*read)(buffer.data())) return {};
    return std::string(buffer.data());
}

}  // namespace

StreamOpen::StreamOpen(StreamOpenRequest request, StreamOpenReports reports, WPARAM id)
    : request_(std::move(request)), reports_(reports), id_(id) {
    worker_ = std::thread([this] { Work(); });
}

StreamOpen::~StreamOpen() {
    Abandon();
    if (worker_.joinable()) worker_.join();
}

void StreamOpen::Abandon() {
    std::lock_guard lock(waitLock_);
    if (abandoned_.exchange(true)) return;
    // Stop from another thread only aborts an Open in progress; it touches nothing else.
    if (opening_) opening_->Stop();
    wake_.notify_all();
}

FileAudioGrabber* StreamOpen::Waiting() {
    std::lock_guard lock(waitLock_);
    return proceed_ ? nullptr : waiting_;
}

void StreamOpen::Proceed(bool attached) {
    std::lock_guard lock(waitLock_);
    proceed_ = true;
    attached_ = attached && waiting_ != nullptr;
    wake_.notify_all();
}

StreamOpenResult StreamOpen::Take() {
    if (worker_.joinable()) worker_.join();
    return std::move(result_);
}

bool StreamOpen::WaitForWindow(FileAudioGrabber* grabber) {
    std::unique_lock lock(waitLock_);
    waiting_ = grabber;
    PostMessage(reports_.window, reports_.opened, id_, 0);
    wake_.wait(lock, [this] { return proceed_ || abandoned_.load(); });
    waiting_ = nullptr;
    return attached_;
}

void StreamOpen::Work() {
    CoInitialize(nullptr);
    StreamOpenResult result;
    GrabberPtr grabber(static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance()));
    bool opened = false;
    bool attached = false;
    if (grabber) {
        if (request_.grab && request_.encoderOptions) request_.encoderOptions(*grabber);
        bool start = false;
        {
            std::lock_guard lock(waitLock_);
            start = !abandoned_.load();
            if (start) opening_ = grabber.get();
        }
        if (start)
            opened =
                grabber->Open(request_.grab ? 0 : 1, 1, request_.outputFormat, request_.url.c_str(),
                              request_.grab ? request_.outputPath.c_str() : "", 0, 0) != 0;
        std::lock_guard lock(waitLock_);
        opening_ = nullptr;
    }
    if (opened && !abandoned_.load()) {
        result.title = HeaderText(*grabber, &FileAudioGrabber::GetTitle);
        result.author = HeaderText(*grabber, &FileAudioGrabber::GetAuthor);
        int hasAudio = 0, hasVideo = 0, unused = 0;
        if (grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused))
            result.hasVideo = hasVideo != 0;
        if (result.hasVideo && !request_.grab && reports_.opened)
            attached = WaitForWindow(grabber.get());
    }
    if (opened && !abandoned_.load()) {
        grabber->SetNotifyWindow(request_.eventWindow, request_.eventMessage);
        if (grabber->Run()) {
            result.running = true;
            result.haveSourceFormat = grabber->GetSourceFormat(&result.sourceFormat) != 0;
        }
    }
    // A grabber that failed or was abandoned ends here, on this thread, unless a window of the
    // UI thread still refers to it. A grab that never ran leaves no file behind: its name was
    // new, so nothing of the user's is removed.
    if (result.running || attached) result.grabber = std::move(grabber);
    grabber.reset();
    if (request_.grab && !result.running && !request_.outputPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(request_.outputPath, ignored);
    }
    result_ = std::move(result);
    CoUninitialize();
    PostMessage(reports_.window, reports_.done, id_, 0);
}

}  // namespace quil::network
