// "File Writer" and "File Dump": store what arrives in the named file. The writer puts a sample
// that carries a time stamp at that byte offset (how "Wave Dest" rewrites its header); the dump
// appends everything in arrival order. Small samples are gathered into large writes (see
// WriteBehind); a timer thread puts held bytes into the file when no sample comes to do it.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/file_errors.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/stream_rewrite.h"
#include "platform/filters/write_behind.h"
#include "platform/graph/sink_filter.h"

namespace quil::filters {

HRESULT HresultFromErrno(int error) {
    switch (error) {
        case ENOSPC:
        case EFBIG:
        case EDQUOT:
            return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        case EACCES:
        case EPERM:
        case EROFS:
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        case ENOENT:
        case ENOTDIR:
            return HRESULT_FROM_WIN32(3);  // ERROR_PATH_NOT_FOUND
        default:
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
}

namespace {

class FileSink : public SinkFilter, public IFileSinkFilter2, public IStreamRewrite {
public:
    FileSink(const CLSID& clsid, bool positioned)
        : SinkFilter(clsid, false, L"in"), positioned_(positioned) {}
    ~FileSink() override {
        StopTimer();
        Close();
    }

    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IFileSinkFilter2>(iid))
            return GetInterface<IFileSinkFilter2>(this, out);
        if (InterfaceMatches<IStreamRewrite>(iid)) return GetInterface<IStreamRewrite>(this, out);
        return SinkFilter::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE*) override {
        if (!file) return E_POINTER;
        if (!IsStopped()) return VFW_E_WRONG_STATE;
        path_ = Narrow(file);
        return path_.empty() ? E_INVALIDARG : S_OK;
    }
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) override {
        if (!file) return E_POINTER;
        std::wstring wide = Widen(path_);
        *file = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
        if (!*file) return E_OUTOFMEMORY;
        std::copy_n(wide.c_str(), wide.size() + 1, *file);
        if (type) {
            MediaType none;
            CopyMediaType(type, &none);
        }
        return S_OK;
    }
    HRESULT SetMode(DWORD flags) override {
        mode_ = flags;
        return S_OK;
    }
    HRESULT GetMode(DWORD* flags) override {
        if (!flags) return E_POINTER;
        *flags = mode_;
        return S_OK;
    }

    HRESULT CheckMediaType(const MediaType& type) override {
        return type.majortype != GUID_NULL ? S_OK : S_FALSE;
    }

    HRESULT StartStreaming() override {
        if (path_.empty()) return E_FAIL;
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
        // The dump always starts a new file; the writer truncates only in overwrite mode.
        if (!positioned_ || (mode_ & AM_FILE_OVERWRITE)) flags |= O_TRUNC;
        fd_ = ::open(path_.c_str(), flags, 0644);
        if (fd_ < 0) return HresultFromErrno(errno);
        appendAt_ = 0;
        pending_.Attach(fd_);
        StartTimer();
        return S_OK;
    }

    HRESULT RenderSample(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        if (length <= 0 || fd_ < 0) return S_OK;
        REFERENCE_TIME offset = appendAt_, end;
        if (positioned_ && FAILED(sample->GetTime(&offset, &end))) offset = appendAt_;
        if (!positioned_) offset = appendAt_;
        if (offset < 0) return HresultFromErrno(EINVAL);
        auto now = WriteBehind::Clock::now();
        HRESULT hr =
            pending_.Write(data, static_cast<size_t>(length), static_cast<uint64_t>(offset), now);
        if (SUCCEEDED(hr) && pending_.Due(now)) hr = pending_.Flush();
        if (FAILED(hr)) return hr;
        appendAt_ = std::max<REFERENCE_TIME>(appendAt_, offset + length);
        return S_OK;
    }

    // No fsync at the end: the data is in the page cache, safe from a crash of the program,
    // and forcing it to disk would make every grab wait for the disk.
    HRESULT OnEndOfStream() override { return fd_ < 0 ? S_OK : pending_.Flush(); }

    // Called with the render lock held; the timer only ever tries that lock, so it can be
    // joined here.
    HRESULT StopStreaming() override {
        StopTimer();
        HRESULT flushed = fd_ < 0 ? S_OK : pending_.Flush();
        HRESULT closed = Close();
        return FAILED(flushed) ? flushed : closed;
    }

    // IStreamRewrite: goes through the held writes, so the file gets every byte in order.
    HRESULT Rewrite(LONGLONG offset, const BYTE* data, LONG length) override {
        if (!data || offset < 0 || length <= 0) return E_INVALIDARG;
        std::lock_guard lock(renderLock_);
        if (fd_ < 0) return VFW_E_WRONG_STATE;
        if (offset + length > appendAt_) return E_INVALIDARG;
        HRESULT hr = pending_.Write(data, static_cast<size_t>(length),
                                    static_cast<uint64_t>(offset), WriteBehind::Clock::now());
        return FAILED(hr) ? hr : pending_.Flush();
    }

private:
    HRESULT Close() {
        if (fd_ < 0) return S_OK;
        pending_.Flush();
        int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? S_OK : HresultFromErrno(errno);
    }

    void StartTimer() {
        StopTimer();
        timerStop_ = false;
        timer_ = std::thread([this] { TimerLoop(); });
    }

    void StopTimer() {
        if (!timer_.joinable()) return;
        {
            std::lock_guard lock(timerMutex_);
            timerStop_ = true;
        }
        timerWake_.notify_all();
        timer_.join();
    }

    // Puts held bytes into the file once they are due, when the stream pauses or runs dry.
    void TimerLoop() {
        std::unique_lock lock(timerMutex_);
        auto next = WriteBehind::Clock::now() + WriteBehind::kMaxAge;
        while (!timerWake_.wait_until(lock, next, [&] { return timerStop_; })) {
            lock.unlock();
            next = FlushIfDue();
            lock.lock();
        }
    }

    WriteBehind::Clock::time_point FlushIfDue() {
        auto now = WriteBehind::Clock::now();
        // A sample being written checks the age itself; look again shortly.
        std::unique_lock render(renderLock_, std::try_to_lock);
        if (!render.owns_lock()) return now + std::chrono::milliseconds(10);
        if (fd_ >= 0 && pending_.Due(now)) {
            HRESULT hr = pending_.Flush();
            if (FAILED(hr)) ReportError(hr);
        }
        return pending_.Empty() ? now + WriteBehind::kMaxAge : pending_.Deadline();
    }

    using SinkFilter::PrimaryInterface;
    bool positioned_;
    std::string path_;
    DWORD mode_ = 0;
    int fd_ = -1;
    REFERENCE_TIME appendAt_ = 0;
    WriteBehind pending_;
    std::thread timer_;
    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    bool timerStop_ = false;
};

class FileWriter : public FileSink {
public:
    FileWriter() : FileSink(CLSID_FileWriter, true) {}
};

class FileDump : public FileSink {
public:
    FileDump() : FileSink(CLSID_FileDump, false) {}
};

}  // namespace

HRESULT CreateFileWriter(REFIID iid, void** out) {
    return CreateObject<FileWriter>(iid, out);
}
HRESULT CreateFileDump(REFIID iid, void** out) {
    return CreateObject<FileDump>(iid, out);
}

}  // namespace quil::filters
