#include "cdsource/filter/track_source_filter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "cdsource/cd_interfaces.h"
#include "cdsource/filter/pcm_reformatter.h"
#include "platform/com/class_registry.h"
#include "platform/graph/source_stream.h"
#include "platform/sectorlink/sectorlink.h"

namespace quil::cdsource {

std::atomic<long> g_moduleLocks{0};

namespace {

constexpr uint32_t kSectorsPerMinute = 4500;
constexpr uint32_t kSectorsPerSecond = 75;
constexpr uint32_t kFramesPerSector = kRawSectorBytes / 4;
// The smallest delivery buffer: 16 raw sectors.
constexpr LONG kMinBufferBytes = kCdMaxSectorsPerRead * kRawSectorBytes;

// The open drive; closed when replaced or destroyed. Sectorlink makes calls on a handle that
// another thread closed fail harmlessly, so the streaming thread may race a SetDrive.
class DriveSlot {
public:
    ~DriveSlot() { Close(); }
    DriveHandle Get() const { return handle_.load(); }
    int Letter() const { return letter_.load(); }
    void Close() {
        DriveHandle old = handle_.exchange(0);
        letter_ = 0;
        if (old) CloseCdrom(old);
    }
    bool Open(int letter) {
        Close();
        DriveHandle handle = OpenCdrom(letter);
        if (!handle) return false;
        letter_ = letter;
        handle_ = handle;
        return true;
    }

private:
    std::atomic<DriveHandle> handle_{0};
    std::atomic<int> letter_{0};
};

struct TrackLayout {
    uint32_t length = 0, start = 0;
    int32_t hours = 0, minutes = 0, seconds = 0, frames = 0, milliseconds = 0;
};

TrackLayout LayoutOf(uint32_t length, uint32_t start) {
    TrackLayout t;
    t.length = length;
    t.start = start;
    t.minutes = static_cast<int32_t>(length / kSectorsPerMinute);
    t.seconds = static_cast<int32_t>((length / kSectorsPerSecond) % 60);
    t.frames = static_cast<int32_t>(length % kSectorsPerSecond);
    // The frames are added as they are, not scaled to milliseconds: callers rely on it.
    t.milliseconds = ((t.hours * 60 + t.minutes) * 60 + t.seconds) * 1000 + t.frames;
    return t;
}

class CdTrackSourceFilter;

class CdTrackStream : public SourceStream {
public:
    explicit CdTrackStream(CdTrackSourceFilter* filter);
    ~CdTrackStream() override { StopThread(); }

    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

    uint32_t TrackLength() const { return trackLength_; }
    uint32_t TrackStart() const { return trackStart_; }
    uint32_t CurrentSector() const { return currentSector_; }
    void SetCurrentSector(uint32_t sector) {
        uint32_t start = trackStart_, length = trackLength_;
        uint64_t end = uint64_t{start} + length;
        currentSector_ = static_cast<uint32_t>(std::clamp<uint64_t>(sector, start, end));
    }
    uint32_t UnreadableSectors() const { return unreadable_; }

protected:
    HRESULT OnThreadCreate() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadDestroy() override;

private:
    // Reads `count` sectors into readBuffer_, retrying; sectors that stay unreadable are zeros.
    // False when a stop came first: the retries on a damaged disc take many commands of up to
    // kReadTimeoutMs each, and a stop must not wait for all of them.
    bool ReadSectors(DriveHandle drive, uint32_t first, uint32_t count);
    HRESULT Deliver(IMediaSample* sample, uint32_t sectors, bool lastOfTrack);

    CdTrackSourceFilter* source_;
    std::mutex pinLock_;
    std::atomic<uint32_t> trackLength_{0}, trackStart_{0}, currentSector_{0};
    std::atomic<uint32_t> unreadable_{0};
    REFERENCE_TIME streamTime_ = 0;
    bool convert_ = false;
    PcmReformatter reformatter_;
    std::vector<uint8_t> readBuffer_;
};

class CdTrackSourceFilter : public SourceFilter,
                            public ICdTrackSource,
                            public ICdDoorLock,
                            public ICdTrackPosition,
                            public ICdReadErrors,
                            public ISpecifyPropertyPages {
public:
    CdTrackSourceFilter() : SourceFilter(CLSID_CdTrackSource) {
        AddPin(std::make_unique<CdTrackStream>(this));
    }
    ~CdTrackSourceFilter() override {
        // The streaming thread uses the drive; end it before the drive closes.
        for (auto& pin : pins_) pin->Inactive();
    }
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<ICdTrackSource>(iid)) return GetInterface<ICdTrackSource>(this, out);
        if (InterfaceMatches<ICdDoorLock>(iid)) return GetInterface<ICdDoorLock>(this, out);
        if (InterfaceMatches<ICdTrackPosition>(iid))
            return GetInterface<ICdTrackPosition>(this, out);
        if (InterfaceMatches<ICdReadErrors>(iid)) return GetInterface<ICdReadErrors>(this, out);
        if (InterfaceMatches<ISpecifyPropertyPages>(iid))
            return GetInterface<ISpecifyPropertyPages>(this, out);
        return SourceFilter::NonDelegatingQueryInterface(iid, out);
    }

    // ICdTrackSource
    HRESULT SetDrive(int32_t driveLetter) override {
        return drive_.Open(driveLetter & 0xFF) ? S_OK : S_FALSE;
    }
    HRESULT GetDiscKind(int32_t* kind) override {
        DriveHandle drive = drive_.Get();
        if (!drive) return S_FALSE;
        if (!kind) return E_POINTER;
        bool dvd = (GetSourceDiscType(drive) & SOURCE_DISC_DVD) != 0;
        uint8_t content = GetCdromType(drive_.Letter());
        if (content & CDROM_TYPE_AUDIO)
            *kind = dvd ? 4 : 1;
        else if (content & CDROM_TYPE_DATA)
            *kind = dvd ? 5 : 2;
        else
            *kind = 0;
        return S_OK;
    }
    HRESULT GetTrackCount(int32_t* count) override {
        DriveHandle drive = drive_.Get();
        if (!drive) return S_FALSE;
        if (!count) return E_POINTER;
        *count = ::GetTrackCount(drive);
        return S_OK;
    }
    HRESULT GetTrackInfo(int32_t track, int32_t* hours, int32_t* minutes, int32_t* seconds,
                         int32_t* frames, int32_t* milliseconds, int32_t* firstSector,
                         int32_t* length) override {
        TrackLayout layout;
        if (!ReadTrack(track, &layout, nullptr)) return S_FALSE;
        auto put = [](int32_t* target, int32_t value) {
            if (target) *target = value;
        };
        put(hours, layout.hours);
        put(minutes, layout.minutes);
        put(seconds, layout.seconds);
        put(frames, layout.frames);
        put(milliseconds, layout.milliseconds);
        put(firstSector, static_cast<int32_t>(layout.start));
        put(length, static_cast<int32_t>(layout.length));
        return S_OK;
    }
    HRESULT SetCurrentTrack(int32_t track) override {
        currentTrack_ = track;
        return S_OK;
    }
    HRESULT GetCurrentTrack(int32_t* track) override {
        if (!track) return E_POINTER;
        *track = currentTrack_;
        return S_OK;
    }
    HRESULT MoveDoor(int32_t open) override {
        DriveHandle drive = drive_.Get();
        if (!drive) return S_FALSE;
        return OpenCloseDoor(drive, open) ? S_OK : S_FALSE;
    }
    HRESULT GetReadCapability(int32_t* sectors) override {
        DriveHandle drive = drive_.Get();
        if (!drive) return E_FAIL;
        if (!sectors) return E_POINTER;
        uint32_t value = 0;
        ::GetReadCapability(drive, &value);
        // The delivery buffer holds 16 sectors, so no caller may ask for more in one read.
        *sectors = static_cast<int32_t>(std::min(value, kCdMaxSectorsPerRead));
        return S_OK;
    }
    HRESULT SetSectorsPerRead(uint32_t sectors) override {
        if (sectors == 0 || sectors > kCdMaxSectorsPerRead) return E_INVALIDARG;
        sectorsPerRead_ = sectors;
        return S_OK;
    }
    HRESULT GetSectorsPerRead(uint32_t* sectors) override {
        if (!sectors) return E_POINTER;
        *sectors = sectorsPerRead_;
        return S_OK;
    }
    HRESULT SetOutputFormat(uint32_t tagChannels, uint32_t samplesPerSec, uint32_t avgBytesPerSec,
                            uint32_t alignBits, uint32_t extraSize) override {
        WAVEFORMATEX format{};
        format.wFormatTag = static_cast<WORD>(tagChannels & 0xFFFF);
        format.nChannels = static_cast<WORD>(tagChannels >> 16);
        format.nSamplesPerSec = samplesPerSec;
        format.nAvgBytesPerSec = avgBytesPerSec;
        format.nBlockAlign = static_cast<WORD>(alignBits & 0xFFFF);
        format.wBitsPerSample = static_cast<WORD>(alignBits >> 16);
        format.cbSize = static_cast<WORD>(extraSize);
        std::lock_guard lock(formatLock_);
        outputFormat_ = format;
        return S_OK;
    }
    HRESULT GetOutputFormat(uint32_t* tagChannels, uint32_t* samplesPerSec,
                            uint32_t* avgBytesPerSec, uint32_t* alignBits,
                            uint32_t* extraSize) override {
        WAVEFORMATEX format = OutputFormat();
        if (tagChannels) *tagChannels = format.wFormatTag | uint32_t{format.nChannels} << 16;
        if (samplesPerSec) *samplesPerSec = format.nSamplesPerSec;
        if (avgBytesPerSec) *avgBytesPerSec = format.nAvgBytesPerSec;
        if (alignBits) *alignBits = format.nBlockAlign | uint32_t{format.wBitsPerSample} << 16;
        if (extraSize) *extraSize = format.cbSize;
        return S_OK;
    }

    // ICdDoorLock
    HRESULT LockDoor(int32_t lock) override {
        DriveHandle drive = drive_.Get();
        if (!drive) return S_FALSE;
        int done = ::LockDoor(drive, lock);
        keepDoorLocked_ = lock;
        return done ? S_OK : S_FALSE;
    }

    // ICdTrackPosition
    HRESULT GetTrackLength(uint32_t* sectors) override {
        if (!sectors) return E_POINTER;
        *sectors = Stream()->TrackLength();
        return S_OK;
    }
    HRESULT GetTrackStart(uint32_t* sector) override {
        if (!sector) return E_POINTER;
        *sector = Stream()->TrackStart();
        return S_OK;
    }
    HRESULT GetCurrentSector(uint32_t* sector) override {
        if (!sector) return E_POINTER;
        *sector = Stream()->CurrentSector();
        return S_OK;
    }
    HRESULT SetCurrentSector(uint32_t sector) override {
        Stream()->SetCurrentSector(sector);
        return S_OK;
    }
    HRESULT SectorsToSeconds(uint32_t sectors, double* seconds) override {
        if (!seconds) return E_POINTER;
        *seconds = static_cast<double>(sectors / kSectorsPerMinute) * 60 +
                   static_cast<double>((sectors / kSectorsPerSecond) % 60);
        return S_OK;
    }

    // ICdReadErrors
    HRESULT GetUnreadableSectors(uint32_t* sectors) override {
        if (!sectors) return E_POINTER;
        *sectors = Stream()->UnreadableSectors();
        return S_OK;
    }

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override {
        if (!pages) return E_POINTER;
        pages->cElems = 0;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) return E_OUTOFMEMORY;
        pages->pElems[0] = CLSID_CdTrackSourcePropertyPage;
        pages->cElems = 1;
        return S_OK;
    }

    DriveHandle Drive() const { return drive_.Get(); }
    uint32_t SectorsPerRead() const { return sectorsPerRead_; }
    bool KeepDoorLocked() const { return keepDoorLocked_ != 0; }
    int32_t CurrentTrack() const { return currentTrack_; }
    WAVEFORMATEX OutputFormat() {
        std::lock_guard lock(formatLock_);
        return outputFormat_;
    }
    // The library's layout of a track; false without a drive or for a track not on the disc.
    bool ReadTrack(int32_t track, TrackLayout* layout, bool* exists) {
        DriveHandle drive = drive_.Get();
        if (!drive) return false;
        uint32_t values[3] = {0, 0, 0};
        int found = ::GetTrackInfo(drive, track, values);
        if (exists) *exists = found != 0;
        *layout = LayoutOf(values[1], values[2]);
        return true;
    }

private:
    using SourceFilter::PrimaryInterface;
    CdTrackStream* Stream() { return static_cast<CdTrackStream*>(pins_[0].get()); }

    ModuleLock moduleLock_{g_moduleLocks};
    std::mutex formatLock_;
    WAVEFORMATEX outputFormat_ = CdAudioFormat();
    std::atomic<uint32_t> sectorsPerRead_{1};
    std::atomic<int32_t> currentTrack_{0};
    std::atomic<int32_t> keepDoorLocked_{0};
    DriveSlot drive_;
};

CdTrackStream::CdTrackStream(CdTrackSourceFilter* filter)
    : SourceStream(filter, L"Wave Stream"),
      source_(filter),
      readBuffer_(kCdMaxSectorsPerRead * kRawSectorBytes) {}

HRESULT CdTrackStream::GetMediaType(int position, MediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    WAVEFORMATEX format = source_->OutputFormat();
    MediaType result;
    result.majortype = MEDIATYPE_Audio;
    result.subtype = MEDIASUBTYPE_PCM;
    result.formattype = FORMAT_WaveFormatEx;
    result.bFixedSizeSamples = 1;
    result.lSampleSize = std::max<WORD>(format.nBlockAlign, 1);
    result.SetFormat(&format, sizeof format);
    *type = result;
    return S_OK;
}

HRESULT CdTrackStream::CheckMediaType(const MediaType& type) {
    MediaType own;
    GetMediaType(0, &own);
    const WAVEFORMATEX* format = type.WaveFormat();
    return own.Matches(type) && format && ConvertibleFormat(*format) ? S_OK : S_FALSE;
}

HRESULT CdTrackStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    const WAVEFORMATEX* format = CurrentMediaType().WaveFormat();
    if (!format) return E_FAIL;
    // Conversion to a higher rate makes a full read larger than 16 raw sectors.
    LONG needed = std::max<LONG>(
        kMinBufferBytes, static_cast<LONG>(ConvertedBytesBound(*format, kCdMaxSectorsPerRead)));
    ALLOCATOR_PROPERTIES wanted{1, needed, std::max<LONG>(request->cbAlign, 1), request->cbPrefix};
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < needed ? E_FAIL : S_OK;
}

HRESULT CdTrackStream::OnThreadCreate() {
    DriveHandle drive = source_->Drive();
    if (!drive) return E_FAIL;
    unreadable_ = 0;
    // A tray that cannot be locked (a disc image, a drive that refuses) does not stop the rip.
    bool locked = ::LockDoor(drive, 1) != 0;
    TrackLayout layout;
    bool exists = false;
    source_->ReadTrack(source_->CurrentTrack(), &layout, &exists);
    const WAVEFORMATEX* format = CurrentMediaType().WaveFormat();
    convert_ = format && !SameWaveFormat(*format, CdAudioFormat());
    if (!exists || !format || (convert_ && !reformatter_.Open(*format))) {
        if (locked && !source_->KeepDoorLocked()) ::LockDoor(drive, 0);
        return exists ? E_FAIL : E_INVALIDARG;
    }
    trackLength_ = layout.length;
    trackStart_ = layout.start;
    currentSector_ = layout.start;
    streamTime_ = 0;
    SetThreadPriority(THREAD_PRIORITY_HIGHEST);
    return S_OK;
}

bool CdTrackStream::ReadSectors(DriveHandle drive, uint32_t first, uint32_t count) {
    uint8_t* buffer = readBuffer_.data();
    size_t bytes = size_t{count} * kRawSectorBytes;
    for (int attempt = 0; attempt <= kReadRetries; ++attempt) {
        if (attempt > 0 && StopRequested()) return false;
        std::memset(buffer, 0, bytes);
        if (ReadRawDataSector(drive, first, count, buffer, 0, 0, kReadTimeoutMs)) return true;
    }
    // The read as a whole keeps failing: find the sectors that cannot be read, one by one.
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* sector = buffer + size_t{i} * kRawSectorBytes;
        bool read = false;
        for (int attempt = 0; attempt <= kReadRetries && !read; ++attempt) {
            if (StopRequested()) return false;
            std::memset(sector, 0, kRawSectorBytes);
            read = ReadRawDataSector(drive, first + i, 1, sector, 0, 0, kReadTimeoutMs) != 0;
        }
        if (!read) {
            std::memset(sector, 0, kRawSectorBytes);
            ++unreadable_;
        }
    }
    return true;
}

HRESULT CdTrackStream::FillBuffer(IMediaSample* sample) {
    std::lock_guard lock(pinLock_);
    DriveHandle drive = source_->Drive();
    if (!drive) return E_FAIL;
    uint32_t current = currentSector_;
    uint64_t trackEnd = uint64_t{trackStart_} + trackLength_;
    if (current > trackEnd) return S_FALSE;
    uint32_t perRead = std::clamp<uint32_t>(source_->SectorsPerRead(), 1, kCdMaxSectorsPerRead);
    // Never past the end of the track: the last read takes what is left of it.
    uint32_t sectors = static_cast<uint32_t>(std::min<uint64_t>(perRead, trackEnd - current));
    if (sectors == 0) return S_FALSE;
    if (!ReadSectors(drive, current, sectors)) return S_FALSE;
    HRESULT hr = Deliver(sample, sectors, current + uint64_t{perRead} >= trackEnd);
    if (FAILED(hr)) return hr;
    // Advance by what was read, so the position ends on the track's end and progress on 1.0.
    // A SetCurrentSector made during the read wins over the advance.
    currentSector_.compare_exchange_strong(current, current + sectors);
    return S_OK;
}

HRESULT CdTrackStream::Deliver(IMediaSample* sample, uint32_t sectors, bool lastOfTrack) {
    BYTE* target = nullptr;
    if (FAILED(sample->GetPointer(&target)) || !target) return E_POINTER;
    size_t capacity = static_cast<size_t>(sample->GetSize());
    size_t rawBytes = size_t{sectors} * kRawSectorBytes;
    if (!convert_) {
        if (capacity < rawBytes) return VFW_E_BUFFER_OVERFLOW;
        std::memcpy(target, readBuffer_.data(), rawBytes);
        sample->SetActualDataLength(static_cast<LONG>(rawBytes));
    } else {
        long produced =
            reformatter_.Convert(readBuffer_.data(), static_cast<int>(sectors * kFramesPerSector),
                                 target, capacity, lastOfTrack);
        if (produced < 0) return E_FAIL;
        sample->SetActualDataLength(static_cast<LONG>(produced));
    }
    REFERENCE_TIME start = streamTime_;
    REFERENCE_TIME end = start + int64_t{sectors} * kSectorDuration;
    streamTime_ = end;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT CdTrackStream::OnThreadDestroy() {
    trackLength_ = 0;
    trackStart_ = 0;
    currentSector_ = 0;
    reformatter_.Close();
    DriveHandle drive = source_->Drive();
    if (!drive) return E_FAIL;
    if (source_->KeepDoorLocked()) return S_OK;
    return ::LockDoor(drive, 0) ? S_OK : S_FALSE;
}

}  // namespace

HRESULT CreateCdTrackSourceFilter(REFIID iid, void** out) {
    try {
        return CreateObject<CdTrackSourceFilter>(iid, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;  // the pin or its read buffer
    }
}

}  // namespace quil::cdsource
