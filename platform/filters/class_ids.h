#pragma once

// Class identifiers of the stock filters.

#include "platform/com/guid.h"

constexpr CLSID CLSID_InfTee = quil::Guid("{F8388A40-D5BB-11D0-BE5A-0080C706568E}");
constexpr CLSID CLSID_SampleGrabber = quil::Guid("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
constexpr CLSID CLSID_WavDest = quil::Guid("{3C78B8E2-6C4D-11D1-ADE2-0000F8754B99}");
constexpr CLSID CLSID_FileWriter = quil::Guid("{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}");
constexpr CLSID CLSID_FileDump = quil::Guid("{DA2F39E6-78E0-433A-93B5-62FBC7371A4C}");
constexpr CLSID CLSID_DSoundRender = quil::Guid("{79376820-07D0-11CF-A24D-0020AFD79767}");
constexpr CLSID CLSID_AudioRender = quil::Guid("{E30629D1-27E5-11CE-875D-00608CB78066}");
constexpr CLSID CLSID_VideoRenderer = quil::Guid("{70E102B0-5556-11CE-97C0-00AA0055595A}");
constexpr CLSID CLSID_Mp3Encoder = quil::Guid("{B8D27088-DF5F-4B7C-98DC-0E91A1696286}");
constexpr CLSID CLSID_OggEncoder = quil::Guid("{889EF574-0656-4B52-9091-072E52BB1B80}");
constexpr CLSID CLSID_OggMultiplexer = quil::Guid("{8CAE96B7-85B1-4605-B23C-17FF5262B296}");
constexpr CLSID CLSID_AsfWriter = quil::Guid("{7C23220E-55BB-11D3-8B16-00C04FB6BD3D}");
constexpr CLSID CLSID_WMAsfReader = quil::Guid("{187463A0-5BB7-11D3-ACBE-0080C75E246E}");
constexpr CLSID CLSID_WMSourceFilter = quil::Guid("{6B6D0800-9ADA-11D0-A520-00A0D10129C0}");
// Our own converter, source and decoder classes.
constexpr CLSID CLSID_PcmConverter = quil::Guid("{4D1C7B52-9E0A-4F3B-8A61-2C5D0E7F9B13}");
constexpr CLSID CLSID_WavFileSource = quil::Guid("{8F2A6C31-5B7D-4E90-A1C4-7D3E2B9F0A58}");
constexpr CLSID CLSID_FfmpegSource = quil::Guid("{2B7E5C19-0A4F-4D83-9C62-E15F7A3D8B40}");
constexpr CLSID CLSID_FfmpegDecoder = quil::Guid("{C3A19F6E-7B20-4E5D-8A14-6F0D92B5E371}");
constexpr CLSID CLSID_StreamQueue = quil::Guid("{A74AA657-8137-4E08-B609-D93D5AAB8FD6}");
