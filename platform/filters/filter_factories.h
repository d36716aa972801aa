#pragma once

// Factories of the stock filters, one per filter file.

#include <string>
#include <vector>

#include "platform/com/class_registry.h"

namespace quil::filters {

HRESULT CreateInfTee(REFIID iid, void** out);
HRESULT CreateSampleGrabber(REFIID iid, void** out);
HRESULT CreatePcmConverter(REFIID iid, void** out);
HRESULT CreateWavDest(REFIID iid, void** out);
HRESULT CreateFileWriter(REFIID iid, void** out);
HRESULT CreateFileDump(REFIID iid, void** out);
HRESULT CreateDSoundRenderer(REFIID iid, void** out);
HRESULT CreateWaveOutRenderer(REFIID iid, void** out);
HRESULT CreateWavFileSource(REFIID iid, void** out);
HRESULT CreateMp3Encoder(REFIID iid, void** out);
HRESULT CreateOggEncoder(REFIID iid, void** out);
HRESULT CreateOggMultiplexer(REFIID iid, void** out);
HRESULT CreateAsfWriter(REFIID iid, void** out);
HRESULT CreateFfmpegSource(REFIID iid, void** out);
HRESULT CreateFfmpegDecoder(REFIID iid, void** out);
HRESULT CreateStreamQueue(REFIID iid, void** out);
HRESULT CreateWMAsfReader(REFIID iid, void** out);
HRESULT CreateWMSourceFilter(REFIID iid, void** out);
HRESULT CreateVideoRenderer(REFIID iid, void** out);

bool ProbeWavFile(const std::string& path, const std::vector<uint8_t>& head);
// Any file FFmpeg recognises by its first bytes (and name), and stream URLs.
bool ProbeFfmpegFile(const std::string& path, const std::vector<uint8_t>& head);

}  // namespace quil::filters
