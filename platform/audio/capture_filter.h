#pragma once

// The capture filter of one recording device: an output pin "Capture" (capture category) that
// records from the device's source, and one input pin per recording line whose
// IAMAudioInputMixer selects the line and sets its level. The pins' formats are the PCM formats
// of the engine's table (nine rates from 48000 Hz down, stereo and mono, 16 and 8 bits).

#include "platform/audio/recording_devices.h"
#include "platform/graph/interfaces.h"

constexpr CLSID CLSID_AudioRecord = quil::Guid("{E30629D2-27E5-11CE-875D-00608CB78066}");

namespace quil::audio {

HRESULT CreateCaptureFilter(const RecordingDevice& device, REFIID iid, void** out);

// The formats the capture pin offers, in the engine's table order.
constexpr int kCaptureFormatCount = 36;
WAVEFORMATEX CaptureFormatAt(int index);

}  // namespace quil::audio
