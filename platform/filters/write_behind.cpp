#include "platform/filters/write_behind.h"

#include <unistd.h>

#include <cerrno>

#include "platform/filters/file_errors.h"

namespace quil::filters {

void WriteBehind::Attach(int fd) {
    fd_ = fd;
    held_.clear();
    // Reserved once: the buffer never grows while a grab runs.
    held_.reserve(kCapacity);
    heldAt_ = 0;
}

HRESULT WriteBehind::Write(const BYTE* data, size_t length, uint64_t offset,
                           Clock::time_point now) {
    if (length == 0) return S_OK;
    bool follows = Empty() || offset == heldAt_ + held_.size();
    if (!follows || held_.size() + length > kCapacity) {
        HRESULT hr = Flush();
        if (FAILED(hr)) return hr;
    }
    // A write elsewhere in the file (a header brought up to date) goes straight in, after what
    // was held before it; so does one too large to gather.
    if (!follows || length >= kCapacity) return WriteAll(data, length, offset);
    if (Empty()) {
        heldAt_ = offset;
        since_ = now;
    }
    held_.insert(held_.end(), data, data + length);
    return S_OK;
}

HRESULT WriteBehind::Flush() {
    if (Empty()) return S_OK;
    HRESULT hr = WriteAll(held_.data(), held_.size(), heldAt_);
    held_.clear();
    return hr;
}

HRESULT WriteBehind::WriteAll(const BYTE* data, size_t length, uint64_t offset) {
    while (length > 0) {
        ssize_t written = ::pwrite(fd_, data, length, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return HresultFromErrno(errno);
        }
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        data += written;
        length -= static_cast<size_t>(written);
        offset += static_cast<uint64_t>(written);
    }
    return S_OK;
}

}  // namespace quil::filters
