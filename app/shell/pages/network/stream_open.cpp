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

StreamOpen::StreamOpen(StreamOpenRequest request, HWND doneWindow, UINT doneMessage, WPARAM id)
    : request_(std::move(request)), id_(id) {
    worker_ = std::thread([this, doneWindow, doneMessage] { Work(doneWindow, doneMessage); });
}

StreamOpen::~StreamOpen() {
    Abandon();
    if (worker_.joinable()) worker_.join();
}

StreamOpenResult StreamOpen::Take() {
    if (worker_.joinable()) worker_.join();
    return std::move(result_);
}

void StreamOpen::Work(HWND doneWindow, UINT doneMessage) {
    CoInitialize(nullptr);
    StreamOpenResult result;
    GrabberPtr grabber(static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance()));
    bool opened = false;
    if (grabber) {
        if (request_.grab && request_.encoderOptions) request_.encoderOptions(*grabber);
        opened =
            grabber->Open(request_.grab ? 0 : 1, 1, request_.outputFormat, request_.url.c_str(),
                          request_.grab ? request_.outputPath.c_str() : "", 0, 0) != 0;
    }
    if (opened && !abandoned_.load()) {
        result.title = HeaderText(*grabber, &FileAudioGrabber::GetTitle);
        result.author = HeaderText(*grabber, &FileAudioGrabber::GetAuthor);
        int hasAudio = 0, hasVideo = 0, unused = 0;
        if (grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused))
            result.hasVideo = hasVideo != 0;
        grabber->SetNotifyWindow(request_.eventWindow, request_.eventMessage);
        if (grabber->Run()) {
            result.haveSourceFormat = grabber->GetSourceFormat(&result.sourceFormat) != 0;
            result.grabber = std::move(grabber);
        }
    }
    // A grabber that failed or was abandoned ends here, on this thread. A grab that never ran
    // leaves no file behind: its name was new, so nothing of the user's is removed.
    grabber.reset();
    if (request_.grab && !result.grabber && !request_.outputPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(request_.outputPath, ignored);
    }
    result_ = std::move(result);
    CoUninitialize();
    PostMessage(doneWindow, doneMessage, id_, 0);
}

}  // namespace quil::network
