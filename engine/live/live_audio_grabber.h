#pragma once

// The live capture grabber of library Quilline: records from a sound-card capture device into
// a WAV, MP3, WMA or OGG file. Reached only through this table of operations, in slot order;
// every operation returns 1 for success and 0 for failure unless noted.

#include <cstdint>

#include "platform/graph/interfaces.h"
#include "platform/window/window.h"

// One input pin of the selected device, in pin order.
struct InputLine {
    int32_t id;                 // number of the input pin among the device's input pins
    char name[128];             // the pin's name, at most 79 bytes
    IAMAudioInputMixer* mixer;  // owned by the grabber; null if the pin has none
    int32_t enabled;            // get_Enable when the list was built
};

struct InputLineList {
    int32_t count;
    const InputLine* lines;
};

class LiveAudioGrabber {
public:
    virtual int BuildGraph(int outputFormat, const char* outputPath) = 0;  // 0
    virtual void ReleaseGraph() = 0;                                       // 1
    virtual void Destroy() = 0;                                            // 2
    virtual int Run() = 0;                                                 // 3
    virtual int Pause() = 0;                                               // 4
    virtual int Stop() = 0;                                                // 5
    virtual int GetState() = 0;                                            // 6
    virtual int BeginDeviceEnumeration() = 0;                              // 7
    virtual int NextDeviceName(const char** name) = 0;                     // 8
    virtual int SelectDevice(const char* name, int ignored) = 0;           // 9
    virtual int ShowDeviceProperties() = 0;                                // 10
    virtual int ChooseCaptureFormat(HWND owner) = 0;                       // 11
    // Valid until the next SelectDevice or ReleaseGraph.
    virtual const InputLineList* GetInputLines() = 0;                                // 12
    virtual int GetEnabledInputLine(const char** name, int* id, double* level) = 0;  // 13
    virtual int EnableInputLineByIndex(int id, int enable) = 0;                      // 14
    virtual int EnableInputLineByName(const char* name, int enable) = 0;             // 15
    virtual int SetInputLevel(double level) = 0;                                     // 16
    virtual int SetNotifyWindow(HWND window, UINT message) = 0;                      // 17
    virtual int GetEvent(long* code, long* param1, long* param2) = 0;                // 18
    virtual int FreeEventParams(long code, long param1, long param2) = 0;            // 19
    virtual int GetWavFormat(int* index) = 0;                                        // 20
    virtual int SetWavFormat(int index) = 0;                                         // 21
    virtual int GetCaptureFormat(PCMWAVEFORMAT* format) = 0;                         // 22
    virtual int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality,
                              int copyright, int crc, int original, int privateBit) = 0;  // 23
    virtual int SetWmaProfile(int version, const char* name) = 0;                         // 24
    virtual int SetOggOptions(int attribute, float quality, int32_t unused1, int32_t unused2,
                              int32_t unused3) = 0;                             // 25
    virtual int CopyCaptureFile(const char* destination) = 0;                   // 26
    virtual int GetCopyProgress(int* value) = 0;                                // 27
    virtual int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) = 0;  // 28

protected:
    ~LiveAudioGrabber() = default;
};

extern "C" __attribute__((visibility("default"))) void* LiveAudioGrabberCreateInstance();
