#pragma once

// The control interfaces of the CD track source filter (plug-in trackpump), in their fixed slot
// order, with the class identifiers of the filter and its property page. Positions and lengths
// are in raw sectors of 2352 bytes, 75 to the second. Every method returns S_OK, or S_FALSE when
// no drive is open or the drive refused.

#include "platform/com/unknown.h"

inline constexpr CLSID CLSID_CdTrackSource = quil::Guid("{7A49EA17-DA2C-44F1-8190-634EDD74757E}");
inline constexpr CLSID CLSID_CdTrackSourcePropertyPage =
    quil::Guid("{EF1064A0-8A4D-40B9-A749-94142C230C26}");

inline constexpr char kCdTrackSourceName[] = "Ostrel Sectorreel Source";
inline constexpr char kCdTrackSourcePageName[] = "Ostrel Sectorreel Source Filter Properties";

struct ICdTrackSource : IUnknown {
    static constexpr GUID kIid = quil::Guid("{CD940A7E-9122-4578-95B7-D2ABC08DA5D9}");
    using Base = IUnknown;
    // Only the low byte of the letter counts.
    virtual HRESULT SetDrive(int32_t driveLetter) = 0;
    virtual HRESULT GetDiscKind(int32_t* kind) = 0;
    virtual HRESULT GetTrackCount(int32_t* count) = 0;
    virtual HRESULT GetTrackInfo(int32_t track, int32_t* hours, int32_t* minutes, int32_t* seconds,
                                 int32_t* frames, int32_t* milliseconds, int32_t* firstSector,
                                 int32_t* length) = 0;
    virtual HRESULT SetCurrentTrack(int32_t track) = 0;
    virtual HRESULT GetCurrentTrack(int32_t* track) = 0;
    // 1 ejects, 0 closes the tray.
    virtual HRESULT MoveDoor(int32_t open) = 0;
    virtual HRESULT GetReadCapability(int32_t* sectors) = 0;
    virtual HRESULT SetSectorsPerRead(uint32_t sectors) = 0;
    virtual HRESULT GetSectorsPerRead(uint32_t* sectors) = 0;
    // Words: tag | channels << 16; samples per second; average bytes per second;
    // block align | bits per sample << 16; extra size.
    virtual HRESULT SetOutputFormat(uint32_t tagChannels, uint32_t samplesPerSec,
                                    uint32_t avgBytesPerSec, uint32_t alignBits,
                                    uint32_t extraSize) = 0;
    virtual HRESULT GetOutputFormat(uint32_t* tagChannels, uint32_t* samplesPerSec,
                                    uint32_t* avgBytesPerSec, uint32_t* alignBits,
                                    uint32_t* extraSize) = 0;

protected:
    ~ICdTrackSource() = default;
};

struct ICdDoorLock : IUnknown {
    static constexpr GUID kIid = quil::Guid("{EA12F2C5-C2AF-435B-BEEA-C8826C29A095}");
    using Base = IUnknown;
    // 1 locks, 0 unlocks; the value also decides whether the tray stays locked after a stream.
    virtual HRESULT LockDoor(int32_t lock) = 0;

protected:
    ~ICdDoorLock() = default;
};

struct ICdTrackPosition : IUnknown {
    static constexpr GUID kIid = quil::Guid("{0BE55648-483F-460C-BA53-4359379560EA}");
    using Base = IUnknown;
    // All read 0 outside streaming.
    virtual HRESULT GetTrackLength(uint32_t* sectors) = 0;
    virtual HRESULT GetTrackStart(uint32_t* sector) = 0;
    virtual HRESULT GetCurrentSector(uint32_t* sector) = 0;
    // Clamped into [track start, track start + track length].
    virtual HRESULT SetCurrentSector(uint32_t sector) = 0;
    virtual HRESULT SectorsToSeconds(uint32_t sectors, double* seconds) = 0;

protected:
    ~ICdTrackPosition() = default;
};

// How many sectors of the last stream could not be read even after retries (they went out as
// silence). Kept until the next stream starts.
struct ICdReadErrors : IUnknown {
    static constexpr GUID kIid = quil::Guid("{5E0C83A1-6B2D-4F7E-9C14-A83D2F6B0E57}");
    using Base = IUnknown;
    virtual HRESULT GetUnreadableSectors(uint32_t* sectors) = 0;

protected:
    ~ICdReadErrors() = default;
};

// The most sectors one read may take: the filter's delivery buffer.
inline constexpr uint32_t kCdMaxSectorsPerRead = 16;
