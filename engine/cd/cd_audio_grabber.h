#pragma once

// The CD grabber of library Quildisc: rips or plays tracks of an audio CD through the CD track
// source filter of the trackpump plug-in. Reached only through this table of operations, in slot
// order; every operation returns 1 for success and 0 for failure unless noted. Positions and
// lengths are in raw sectors (75 to the second). Event parameters are the graph's values: compare
// an error code as static_cast<int32_t>(param1).

#include <cstdint>

#include "engine/core/grabber_types.h"
#include "platform/graph/media_types.h"
#include "platform/window/window.h"

class CDAudioGrabber {
public:
    virtual int CreateGraph() = 0;                                         // 0
    virtual void ReleaseGraph() = 0;                                       // 1
    virtual void Destroy() = 0;                                            // 2
    virtual int BuildOutput(int grab, int monitor, int outputFormat) = 0;  // 3
    virtual int ClearOutput() = 0;                                         // 4
    virtual int SetOutputFile(const char* path) = 0;                       // 5
    virtual double GetProgress() = 0;                                      // 6
    virtual int Run() = 0;                                                 // 7
    virtual int Pause() = 0;                                               // 8
    virtual int Stop() = 0;                                                // 9
    virtual int GetState() = 0;                                            // 10
    virtual int SetNotifyWindow(HWND window, UINT message) = 0;            // 11
    virtual int GetEvent(long* code, long* param1, long* param2) = 0;      // 12
    virtual int FreeEventParams(long code, long param1, long param2) = 0;  // 13
    virtual int SetWavFormat(int wavFormatIndex) = 0;                      // 14
    virtual int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality,
                              int copyright, int crc, int original, int privateBit) = 0;  // 15
    virtual int SetOggOptions(int attribute, float quality, int32_t unused1, int32_t unused2,
                              int32_t unused3) = 0;            // 16
    virtual int GetProfileCount(int version, int* count) = 0;  // 17
    virtual int GetProfileInfo(int version, int index,
                               quil::engine::WmaProfileInfo* info) = 0;  // 18
    virtual int SetWmaProfile(int version, const char* name) = 0;        // 19
    virtual int SetCurrentSector(int sector) = 0;                        // 20
    virtual int GetCurrentSector(int* sector) = 0;                       // 21
    virtual int GetTrackRange(int* first, int* end) = 0;                 // 22
    virtual int SectorsToSeconds(int sectors, double* seconds) = 0;      // 23
    // Fills a 40-byte buffer: rate in kHz, bits, "Mono"/"Stereo", output kind, 10 bytes each.
    virtual int GetFormatDescription(char* buffer) = 0;  // 24
    virtual int SetDrive(int driveLetter) = 0;           // 25
    virtual int GetDiscKind(int* kind) = 0;              // 26
    virtual int GetTrackCount(int* count) = 0;           // 27
    virtual int GetTrackInfo(int track, int* hours, int* minutes, int* seconds, int* frames,
                             int* milliseconds, int* firstSector, int* length) = 0;  // 28
    virtual int MoveDoor(int open) = 0;                                              // 29
    virtual int LockDoor(int lock) = 0;                                              // 30
    virtual int SetCurrentTrack(int track) = 0;                                      // 31
    virtual int GetReadCapability(int* sectors) = 0;                                 // 32
    virtual int SetSectorsPerRead(int sectors) = 0;                                  // 33
    virtual int GetSectorsPerRead(int* sectors) = 0;                                 // 34
    virtual int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) = 0;       // 35
    virtual int IsMonitoring(int* flag) = 0;                                         // 36
    // Sectors of the last stream that could not be read and went out as silence.
    virtual int GetUnreadableSectors(int* sectors) = 0;  // 37

protected:
    ~CDAudioGrabber() = default;
};

extern "C" __attribute__((visibility("default"))) void* CDAudioGrabberCreateInstance();
