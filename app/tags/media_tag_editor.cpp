#include "app/tags/media_tag_editor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/strings.h"
#include "platform/com/unknown.h"
#include "platform/wmf/header_info.h"
#include "platform/wmf/metadata_editor.h"

namespace quil {
namespace {

constexpr uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;

enum class Field { Text, Track, Bitrate, Duration };

struct AttributeRow {
    const WCHAR* name;
    Field field;
    char (MediaTagRecord::*text)[kTagTextSize];
};

// Every read and write walks the rows in this order.
constexpr AttributeRow kAttributeTable[] = {
    {L"Title", Field::Text, &MediaTagRecord::szTitle},
    {L"Author", Field::Text, &MediaTagRecord::szAuthor},
    {L"Description", Field::Text, &MediaTagRecord::szDescription},
    {L"Copyright", Field::Text, &MediaTagRecord::szCopyright},
    {L"WM/Genre", Field::Text, &MediaTagRecord::szGenre},
    {L"WM/Year", Field::Text, &MediaTagRecord::szYear},
    {L"WM/AlbumTitle", Field::Text, &MediaTagRecord::szAlbumTitle},
    {L"WM/Track", Field::Track, nullptr},
    {L"Bitrate", Field::Bitrate, nullptr},
    {L"Duration", Field::Duration, nullptr},
};

unsigned Hex(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

std::string Printable(const WCHAR* text) {
    return Narrow(text);
}

// Tag texts are UTF-8; bytes that are not cannot become tag text without loss. File names are
// bytes and need no such check: Widen keeps every byte of them.
bool ToWide(std::string_view text, std::wstring* wide) {
    *wide = Widen(text);
    if (IsUtf8(text)) return true;
    std::printf("Internal error (hr=0x%08x)\n",
                Hex(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)));
    return false;
}

std::string_view RecordText(const char (&text)[kTagTextSize]) {
    return Utf8Prefix(std::string_view(text, strnlen(text, kTagTextSize)), kTagTextSize - 1);
}

template <class T>
T NumberOf(const std::vector<BYTE>& value) {
    T number{};
    std::memcpy(&number, value.data(), std::min(sizeof number, value.size()));
    return number;
}

std::wstring TextOf(const std::vector<BYTE>& value) {
    std::wstring text(value.size() / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), value.data(), text.size() * sizeof(WCHAR));
    return text.substr(0, text.find(L'\0'));
}

void TakeValue(const AttributeRow& row, WMT_ATTR_DATATYPE type, const std::vector<BYTE>& value,
               MediaTagRecord& record) {
    switch (type) {
        case WMT_TYPE_DWORD: {
            DWORD number = NumberOf<DWORD>(value);
            std::printf("Value = %u\n", number);
            if (row.field == Field::Track) record.nTrack = static_cast<int32_t>(number);
            if (row.field == Field::Bitrate) record.dwBitrate = number;
            break;
        }
        case WMT_TYPE_STRING: {
            std::string text = Narrow(TextOf(value));
            std::printf("Value = %s\n", text.c_str());
            char bounded[kTagTextSize];
            CopyBounded(text, bounded, sizeof bounded);
            if (row.field == Field::Text) std::memcpy(record.*row.text, bounded, sizeof bounded);
            if (row.field == Field::Track) record.nTrack = std::atoi(bounded);
            break;
        }
        case WMT_TYPE_BINARY:
            std::printf("Type = Binary of Length %u\n", static_cast<unsigned>(value.size()));
            break;
        case WMT_TYPE_BOOL:
            std::printf("Value = %s\n", NumberOf<BOOL>(value) ? "true" : "false");
            break;
        case WMT_TYPE_QWORD: {
            uint64_t number = NumberOf<uint64_t>(value);
            std::printf("Value = %" PRIu64 "\n", number);
            if (row.field == Field::Duration) record.dwDuration = static_cast<uint32_t>(number);
            break;
        }
        case WMT_TYPE_WORD:
            std::printf("Value = %hu\n", NumberOf<WORD>(value));
            break;
        case WMT_TYPE_GUID: {
            uint64_t halves[2] = {};
            std::memcpy(halves, value.data(), std::min(sizeof halves, value.size()));
            std::printf("Value = %" PRIx64 "%" PRIx64 "\n", halves[0], halves[1]);
            break;
        }
        default:
            std::printf("Type = %d, Length %u\n", static_cast<int>(type),
                        static_cast<unsigned>(value.size()));
            break;
    }
}

// One editor pass for a whole save: open the file, set the attributes, flush once and close.
class WritePass {
public:
    explicit WritePass(const std::wstring& path) : path_(path) {
        HRESULT hr = WMCreateEditor(editor_.Put());
        if (FAILED(hr)) {
            std::printf("Could not create Metadata Editor (hr=0x%08x).\n", Hex(hr));
            return;
        }
        hr = editor_->Open(path.c_str());
        if (FAILED(hr)) {
            std::printf("Could not open the file %s (hr=0x%08x).\n",
                        Printable(path.c_str()).c_str(), Hex(hr));
            editor_ = nullptr;
            return;
        }
        hr = editor_.As(&info_);
        if (FAILED(hr)) {
            std::printf("Could not QI for IWMHeaderInfo (hr=0x%08x).\n", Hex(hr));
            editor_->Close();
            editor_ = nullptr;
        }
    }
    WritePass(const WritePass&) = delete;
    WritePass& operator=(const WritePass&) = delete;

    bool opened() const { return editor_ && info_; }

    bool Set(const WCHAR* name, WMT_ATTR_DATATYPE type, const BYTE* value, WORD length,
             const std::wstring* text) {
        HRESULT hr = info_->SetAttribute(0, name, type, value, length);
        if (SUCCEEDED(hr)) return true;
        std::printf("SetAttribute failed for Attribute name %s (hr=0x%08x).\n",
                    Printable(name).c_str(), Hex(hr));
        // The debugger output of the platform; the standard error stream here.
        if (text)
            std::fprintf(stderr, "\nError ! %s ,%s,  hr=0x%08x", Printable(name).c_str(),
                         Narrow(*text).c_str(), Hex(hr));
        return false;
    }

    // Writes what was set, in one copy of the file.
    bool Finish() {
        HRESULT hr = editor_->Flush();
        if (FAILED(hr)) {
            std::printf("Flush failed (hr=0x%08x).\n", Hex(hr));
            editor_->Close();
            return false;
        }
        hr = editor_->Close();
        if (FAILED(hr)) {
            std::printf("Could not close the file %s (hr=0x%08x).\n",
                        Printable(path_.c_str()).c_str(), Hex(hr));
            return false;
        }
        return true;
    }

private:
    std::wstring path_;
    ComPtr<IWMMetadataEditor> editor_;
    ComPtr<IWMHeaderInfo> info_;
};

}  // namespace

bool MediaTagEditor::ReadTags(const char* path, MediaTagRecord& record) {
    record = MediaTagRecord{};
    if (!path) return false;
    std::wstring widePath = Widen(path);

    ComPtr<IWMMetadataEditor> editor;
    HRESULT hr = WMCreateEditor(editor.Put());
    if (FAILED(hr)) {
        std::printf("Could not create Metadata Editor (hr=0x%08x).\n", Hex(hr));
        return false;
    }
    hr = editor->Open(widePath.c_str());
    if (FAILED(hr)) {
        std::printf("Could not open outfile %s (hr=0x%08x).\n", path, Hex(hr));
        return false;
    }
    ComPtr<IWMHeaderInfo> info;
    hr = editor.As(&info);
    if (FAILED(hr)) {
        std::printf("Could not QI for IWMHeaderInfo (hr=0x%08x).\n", Hex(hr));
        return false;
    }

    int found = 0;
    for (const AttributeRow& row : kAttributeTable) {
        WORD stream = 0;
        WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
        WORD length = 0;
        hr = info->GetAttributeByName(&stream, row.name, &type, nullptr, &length);
        if (hr == ASF_E_NOTFOUND && length == 0) continue;
        std::vector<BYTE> value;
        if (SUCCEEDED(hr)) {
            try {
                value.resize(length);
            } catch (const std::bad_alloc&) {
                std::printf("Internal Error (hr=0x%08x).\n", Hex(E_OUTOFMEMORY));
                return false;
            }
            hr = info->GetAttributeByName(&stream, row.name, &type, value.data(), &length);
        }
        if (FAILED(hr)) {
            std::printf("GetAttributeByName failed for Attribute name %s (hr=0x%08x).\n",
                        Printable(row.name).c_str(), Hex(hr));
            return false;
        }
        value.resize(length);
        std::printf("Attribute Name = %s\t\t", Printable(row.name).c_str());
        TakeValue(row, type, value, record);
        ++found;
    }

    hr = editor->Close();
    if (FAILED(hr)) {
        std::printf("Could not close the file %s (hr=0x%08x).\n", path, Hex(hr));
        return false;
    }
    std::printf("\n\tFound %d ID3v2 Tags\n", found);
    return true;
}

bool MediaTagEditor::WriteTags(const char* path, const MediaTagRecord& record) {
    if (!path) return false;
    std::wstring widePath = Widen(path);

    WritePass pass(widePath);
    if (!pass.opened()) return false;
    for (const AttributeRow& row : kAttributeTable) {
        if (row.field == Field::Text) {
            std::wstring text;
            bool set = ToWide(RecordText(record.*row.text), &text);
            auto bytes = static_cast<WORD>((text.size() + 1) * sizeof(WCHAR));
            if (set)
                set = pass.Set(row.name, WMT_TYPE_STRING,
                               reinterpret_cast<const BYTE*>(text.c_str()), bytes, &text);
            // The texts before the one that failed are still written.
            if (!set) {
                pass.Finish();
                return false;
            }
        } else if (row.field == Field::Track) {
            if (record.nTrack < 0) {
                // No track: an empty text removes the attribute.
                const WCHAR none = L'\0';
                pass.Set(row.name, WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(&none),
                         sizeof none, nullptr);
            } else {
                DWORD track = static_cast<DWORD>(record.nTrack);
                pass.Set(row.name, WMT_TYPE_DWORD, reinterpret_cast<const BYTE*>(&track),
                         sizeof track, nullptr);
            }
        }
    }
    return pass.Finish();
}

}  // namespace quil
