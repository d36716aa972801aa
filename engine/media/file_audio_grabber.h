#pragma once

// The media-file grabber of library Quilmedia: plays or extracts the audio of a local media
// file or a stream URL. Reached only through this table of operations, in slot order; every
// operation returns 1 for success and 0 for failure unless noted. Event parameters are the
// graph's values: compare an error code as static_cast<int32_t>(param1).

#include <cstdint>

#include "platform/graph/media_types.h"
#include "platform/window/window.h"

class FileAudioGrabber {
public:
    virtual int Open(int playOnly, int isStream, int outputFormat, const char* source,
                     const char* outputPath, int monitor, int keepVideo) = 0;      // 0
    virtual void ReleaseGraph() = 0;                                                // 1
    virtual void Destroy() = 0;                                                     // 2
    virtual int GetStreamPresence(int* hasAudio, int* ignored1, int* hasVideo,
                                  int* ignored2) = 0;                               // 3
    virtual int Run() = 0;                                                          // 4
    virtual int Pause() = 0;                                                        // 5
    virtual int Stop() = 0;                                                         // 6
    virtual int GetState() = 0;                                                     // 7
    virtual int SetRate(int rate) = 0;                                              // 8
    virtual int Reserved9() = 0;                                                    // 9
    virtual int Reserved10() = 0;                                                   // 10
    virtual int SetVideoOwner(HWND owner) = 0;                                      // 11
    virtual int SetVideoMessageDrain(HWND window) = 0;                              // 12
    virtual int SetNotifyWindow(HWND window, UINT message) = 0;                     // 13
    virtual int GetEvent(long* code, long* param1, long* param2) = 0;               // 14
    virtual int FreeEventParams(long code, long param1, long param2) = 0;           // 15
    virtual int SetVideoPosition(const RECT* rect) = 0;                             // 16
    virtual int SetVideoWindowStyle(int style) = 0;                                 // 17
    virtual int SetVideoWindowStyleEx(int style) = 0;                               // 18
    virtual int Reserved19(int value) = 0;                                          // 19
    virtual int Reserved20() = 0;                                                   // 20
    virtual int GetDuration(double* seconds) = 0;                                   // 21
    virtual int SetPosition(double seconds) = 0;                                    // 22
    virtual int GetPosition(double* seconds) = 0;                                   // 23
    virtual int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality,
                              int copyright, int crc, int original, int privateBit) = 0;  // 24
    virtual int SetWmaProfile(int version, const char* name) = 0;                   // 25
    virtual int SetOggOptions(int attribute, float quality, int32_t unused1, int32_t unused2,
                              int32_t unused3) = 0;                                 // 26
    virtual int Reserved27(int value) = 0;                                          // 27
    virtual int Reserved28(int value) = 0;                                          // 28
    virtual int GetSourceFormat(PCMWAVEFORMAT* format) = 0;                         // 29
    virtual int GetVideoSize(int* width, int* height) = 0;                          // 30
    virtual int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) = 0;      // 31
    virtual int GetBufferProgress(int* percent, int64_t* bufferingTime) = 0;        // 32
    virtual int IsReceiving(void* ignored) = 0;                                     // 33
    virtual int GetTitle(char* buffer) = 0;                                         // 34
    virtual int GetAuthor(char* buffer) = 0;                                        // 35

protected:
    ~FileAudioGrabber() = default;
};

extern "C" __attribute__((visibility("default"))) void* FileAudioGrabberCreateInstance();
