#include "platform/filters/stock_filters.h"

#include <mutex>

#include "platform/filters/filter_factories.h"
#include "platform/graph/graph_registry.h"
#include "platform/graph/media_types.h"

namespace quil::filters {

namespace {

// Every stock filter in one place: class id, friendly name, factory.
const ClassEntry kStockFilters[] = {
    {CLSID_InfTee, "Audio PinTee", &CreateInfTee},
    {CLSID_SampleGrabber, "SampleGrabber", &CreateSampleGrabber},
    {CLSID_PcmConverter, "PCM Converter", &CreatePcmConverter},
    {CLSID_WavDest, "Wave Dest", &CreateWavDest},
    {CLSID_FileWriter, "File Writer", &CreateFileWriter},
    {CLSID_FileDump, "File Dump", &CreateFileDump},
    {CLSID_DSoundRender, "Default DirectSound Device", &CreateDSoundRenderer},
    {CLSID_AudioRender, "Default WaveOut Device", &CreateWaveOutRenderer},
    {CLSID_WavFileSource, "WAV File Source", &CreateWavFileSource},
    {CLSID_Mp3Encoder, "Mp3 Encoder", &CreateMp3Encoder},
    {CLSID_OggEncoder, "Ogg Encoder", &CreateOggEncoder},
    {CLSID_OggMultiplexer, "Ogg Multiplexer", &CreateOggMultiplexer},
    {CLSID_AsfWriter, "ASF Writer", &CreateAsfWriter},
    {CLSID_FfmpegSource, "FFmpeg Source", &CreateFfmpegSource},
    {CLSID_FfmpegDecoder, "FFmpeg Decoder", &CreateFfmpegDecoder},
    {CLSID_StreamQueue, "Stream Queue", &CreateStreamQueue},
    {CLSID_WMAsfReader, "WM ASF Reader", &CreateWMAsfReader},
    {CLSID_WMSourceFilter, "Windows Media Source Filter", &CreateWMSourceFilter},
    {CLSID_VideoRenderer, "Video Renderer", &CreateVideoRenderer},
};

}  // namespace

void RegisterStockFilters() {
    static std::once_flag once;
    std::call_once(once, [] {
        graph::RegisterGraphClasses();
        RegisterBuiltinClasses(kStockFilters);
        graph::RegisterSourceType({CLSID_WavFileSource, &ProbeWavFile});
        graph::RegisterIntermediateType({CLSID_PcmConverter, L"PCM Converter"});
        graph::RegisterRendererType(
            {MEDIATYPE_Audio, CLSID_DSoundRender, L"Default DirectSound Device"});
        graph::RegisterSourceType({CLSID_FfmpegSource, &ProbeFfmpegFile});
        graph::RegisterIntermediateType({CLSID_FfmpegDecoder, L"FFmpeg Decoder"});
        graph::RegisterRendererType({MEDIATYPE_Video, CLSID_VideoRenderer, L"Video Renderer"});
    });
}

}  // namespace quil::filters
