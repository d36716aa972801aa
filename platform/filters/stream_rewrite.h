#pragma once

// Lets an encoder mend the start of a stream it has already delivered: an MP3 Info frame is
// only known once the last frame is out. Sinks that store into a file offer it.

#include "platform/com/unknown.h"
#include "platform/graph/interfaces.h"

namespace quil::filters {

struct IStreamRewrite : IUnknown {
    static constexpr GUID kIid = quil::Guid("{5C3E8A41-2D7B-4F96-A0E5-8B1C6D94F273}");
    using Base = IUnknown;
    // Overwrites `length` bytes at `offset` of the stream stored so far. Fails when the output
    // cannot seek (a pipe) or the range lies beyond what was stored; the stream is left as it is.
    virtual HRESULT Rewrite(LONGLONG offset, const BYTE* data, LONG length) = 0;

protected:
    ~IStreamRewrite() = default;
};

}  // namespace quil::filters
