#pragma once

// How "Ogg Encoder" hands Vorbis packets to "Ogg Multiplexer": one packet per sample, the
// sample's bytes a fixed header followed by the packet. The media type is audio with this
// subtype and a WAVEFORMATEX block giving the stream's rate and channels.

#include <cstdint>

#include "platform/graph/media_types.h"

namespace quil::filters {

constexpr GUID kVorbisPacketSubtype = quil::Guid("{3F1B9D62-0C47-4E8A-B5D3-7A2E61C94F08}");
constexpr WORD kVorbisPacketFormatTag = 0x674F;

constexpr uint32_t kPacketBeginsStream = 1;
constexpr uint32_t kPacketEndsStream = 2;
constexpr uint32_t kPacketIsHeader = 4;

struct VorbisPacketHeader {
    int64_t granulePosition;
    int64_t packetNumber;
    uint32_t flags;
    uint32_t bytes;  // packet bytes after this header
};
static_assert(sizeof(VorbisPacketHeader) == 24);

// Vorbis header packets of libvorbis stay well below this; audio packets far below.
constexpr uint32_t kMaxVorbisPacket = 64 * 1024;

}  // namespace quil::filters
