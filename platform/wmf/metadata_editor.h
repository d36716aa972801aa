#pragma once

// The Windows Media metadata editor. It opens a WAV, MP3 or WMA/ASF file, answers
// IWMHeaderInfo for its attributes and writes changed attributes back on Flush. A flush never
// edits the file in place: the new file is written beside the old one, synced and renamed over
// it, so the file is always either wholly before or wholly after the flush.

#include "platform/com/unknown.h"
#include "platform/wmf/header_info.h"

struct IWMMetadataEditor : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BD9-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT Open(const WCHAR* fileName) = 0;
    // Forgets changes that were not flushed.
    virtual HRESULT Close() = 0;
    // Writes the changes; the file stays open for more.
    virtual HRESULT Flush() = 0;

protected:
    ~IWMMetadataEditor() = default;
};

HRESULT WMCreateEditor(IWMMetadataEditor** editor);
