#include "platform/wmf/header_info.h"

#include <taglib/asffile.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tdebuglistener.h>
#include <taglib/textidentificationframe.h>
#include <taglib/wavfile.h>

#include <cstring>
#include <cwctype>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/com/strings.h"

namespace quil::wmf {
namespace {

constexpr HRESULT kTagWriteFailed = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);

// The attributes MP3 and WAV files carry, with the ID3v2 frame and the RIFF INFO field of each.
struct TagField {
    const wchar_t* name;
    const char* id3Frame;
    const char* infoField;
};
constexpr TagField kTagFields[] = {
    {L"Title", "TIT2", "INAM"},         {L"Author", "TPE1", "IART"},
    {L"Description", "COMM", "ICMT"},   {L"Copyright", "TCOP", "ICOP"},
    {L"WM/Genre", "TCON", "IGNR"},      {L"WM/Year", "TDRC", "ICRD"},
    {L"WM/AlbumTitle", "TALB", "IPRD"}, {L"WM/Track", "TRCK", "IPRT"},
};
constexpr std::wstring_view kTrack = L"WM/Track";
constexpr std::wstring_view kBitrate = L"Bitrate";
constexpr std::wstring_view kDuration = L"Duration";

// A WORD length must describe every value handed out.
constexpr size_t kMaxValueBytes = 0xFFFF;
constexpr size_t kMaxTextChars = kMaxValueBytes / sizeof(WCHAR) - 1;

const TagField* FindTagField(std::wstring_view name) {
    for (const TagField& field : kTagFields)
        if (SameName(field.name, name)) return &field;
    return nullptr;
}

bool IsTrack(const TagField& field) {
    return SameName(field.name, kTrack);
}

TagLib::String ToTagString(std::wstring_view text) {
    return TagLib::String(Narrow(text), TagLib::String::UTF8);
}

std::wstring FromTagString(const TagLib::String& text) {
    return Widen(text.to8Bit(true));
}

template <class T>
T NumberOf(const std::vector<BYTE>& value) {
    T number{};
    std::memcpy(&number, value.data(), std::min(sizeof number, value.size()));
    return number;
}

template <class T>
std::vector<BYTE> NumberValue(T number) {
    std::vector<BYTE> value(sizeof number);
    std::memcpy(value.data(), &number, sizeof number);
    return value;
}

Attribute TextAttribute(std::wstring_view name, const TagLib::String& text) {
    std::wstring wide = FromTagString(text);
    if (wide.size() > kMaxTextChars) wide.resize(kMaxTextChars);
    return {std::wstring(name), WMT_TYPE_STRING, StringValue(wide)};
}

std::optional<uint32_t> ParseNumber(const std::string& text, bool allowTotal) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    char* end = nullptr;
    unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (number > 0xFFFFFFFFull) return std::nullopt;
    if (*end != '\0' && !(allowTotal && *end == '/')) return std::nullopt;
    return static_cast<uint32_t>(number);
}

// Track numbers are text in ID3v2 and INFO ("7" or "7/12"); a number reads as WM/Track's
// DWORD, anything else as text.
Attribute TrackAttribute(const TagLib::String& text) {
    if (auto number = ParseNumber(text.to8Bit(true), true))
        return {std::wstring(kTrack), WMT_TYPE_DWORD, DwordValue(*number)};
    return TextAttribute(kTrack, text);
}

void AddTagField(const TagField& field, const std::optional<TagLib::String>& text,
                 std::vector<Attribute>* out) {
    if (!text || text->isEmpty()) return;
    out->push_back(IsTrack(field) ? TrackAttribute(*text) : TextAttribute(field.name, *text));
}

TagLib::String TrackText(const Attribute& attribute) {
    switch (attribute.type) {
        case WMT_TYPE_DWORD:
            return TagLib::String(std::to_string(NumberOf<uint32_t>(attribute.value)));
        case WMT_TYPE_WORD:
            return TagLib::String(std::to_string(NumberOf<uint16_t>(attribute.value)));
        case WMT_TYPE_QWORD:
            return TagLib::String(std::to_string(NumberOf<uint64_t>(attribute.value)));
        default:
            return ToTagString(StringOf(attribute.value));
    }
}

TagLib::String FieldText(const TagField& field, const Attribute& attribute) {
    return IsTrack(field) ? TrackText(attribute) : ToTagString(StringOf(attribute.value));
}

// RIFF INFO texts have no declared encoding; we write UTF-8 and read other tools' Latin-1.
class InfoTextHandler : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        std::string bytes(data.data(), data.size());
        bytes = bytes.substr(0, bytes.find('\0'));
        if (IsUtf8(bytes)) return TagLib::String(bytes, TagLib::String::UTF8);
        return TagLib::String(bytes, TagLib::String::Latin1);
    }
    TagLib::ByteVector render(const TagLib::String& text) const override {
        return text.data(TagLib::String::UTF8);
    }
};

// TagLib reports damaged files line by line on the standard streams, which are the tag
// editor's and quilgrab's own output; the lines go into a small log of their own instead.
class QuietDebugLog : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.to8Bit(true));
        if (lines_.size() > kKeptLines) lines_.pop_front();
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return {lines_.begin(), lines_.end()};
    }

private:
    static constexpr size_t kKeptLines = 100;
    std::mutex mutex_;
    std::deque<std::string> lines_;
};

QuietDebugLog& DebugLog() {
    static QuietDebugLog log;
    return log;
}

void UseUtf8Texts() {
    static const bool installed = [] {
        TagLib::setDebugListener(&DebugLog());
        static const InfoTextHandler handler;
        TagLib::RIFF::Info::Tag::setStringHandler(&handler);
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
        return true;
    }();
    (void)installed;
}

std::optional<TagLib::String> Id3v2Field(const TagLib::ID3v2::Tag& tag, const TagField& field) {
    const TagLib::ID3v2::FrameList& frames = tag.frameList(field.id3Frame);
    if (frames.isEmpty()) return std::nullopt;
    std::string_view id = field.id3Frame;
    // TagLib resolves comment descriptions and numeric ID3v1 genre references.
    if (id == "COMM") return tag.comment();
    if (id == "TCON") return tag.genre();
    return frames.front()->toString();
}

bool HasTagFields(const TagLib::ID3v2::Tag* tag) {
    if (!tag) return false;
    for (const TagField& field : kTagFields)
        if (!tag->frameList(field.id3Frame).isEmpty()) return true;
    return false;
}

std::optional<TagLib::String> Id3v1Field(const TagLib::ID3v1::Tag& tag, const TagField& field) {
    std::wstring_view name = field.name;
    auto number = [](unsigned value) -> std::optional<TagLib::String> {
        if (value == 0) return std::nullopt;
        return TagLib::String::number(static_cast<int>(value));
    };
    if (name == L"Title") return tag.title();
    if (name == L"Author") return tag.artist();
    if (name == L"Description") return tag.comment();
    if (name == L"WM/Genre") return tag.genre();
    if (name == L"WM/Year") return number(tag.year());
    if (name == L"WM/AlbumTitle") return tag.album();
    if (name == L"WM/Track") return number(tag.track());
    return std::nullopt;
}

void SetId3v2Field(TagLib::ID3v2::Tag& tag, const TagField& field, const TagLib::String& text) {
    if (std::string_view(field.id3Frame) == "COMM") {
        tag.setComment(text);
        return;
    }
    tag.removeFrames(field.id3Frame);
    if (text.isEmpty()) return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(
        TagLib::ByteVector(field.id3Frame), TagLib::String::UTF8);
    frame->setText(text);
    tag.addFrame(frame.release());  // the tag owns its frames
}

void SetId3v1Field(TagLib::ID3v1::Tag& tag, const TagField& field, const TagLib::String& text) {
    std::wstring_view name = field.name;
    auto number = [&](uint32_t limit) {
        auto value = ParseNumber(text.to8Bit(true), true);
        return value && *value <= limit ? *value : 0u;
    };
    if (name == L"Title") tag.setTitle(text);
    if (name == L"Author") tag.setArtist(text);
    if (name == L"Description") tag.setComment(text);
    if (name == L"WM/Genre") tag.setGenre(text);
    if (name == L"WM/Year") tag.setYear(number(9999));
    if (name == L"WM/AlbumTitle") tag.setAlbum(text);
    if (name == L"WM/Track") tag.setTrack(number(255));
}

bool ReadMpeg(TagLib::IOStream* stream, std::vector<Attribute>* out) {
    TagLib::MPEG::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    const TagLib::ID3v2::Tag* id3v2 = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    const TagLib::ID3v1::Tag* id3v1 = file.hasID3v1Tag() ? file.ID3v1Tag() : nullptr;
    bool useId3v2 = HasTagFields(id3v2);
    for (const TagField& field : kTagFields) {
        if (useId3v2)
            AddTagField(field, Id3v2Field(*id3v2, field), out);
        else if (id3v1)
            AddTagField(field, Id3v1Field(*id3v1, field), out);
    }
    return true;
}

HRESULT WriteMpeg(TagLib::IOStream* stream, const std::vector<Attribute>& changes) {
    TagLib::MPEG::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return kUnreadableFile;
    bool hadId3v1 = file.hasID3v1Tag();
    bool hadId3v2Fields = HasTagFields(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
    TagLib::ID3v2::Tag* id3v2 = file.ID3v2Tag(true);
    // The first ID3v2 tag takes over what the ID3v1 tag showed, so a read still sees it.
    if (hadId3v1 && !hadId3v2Fields) TagLib::Tag::duplicate(file.ID3v1Tag(), id3v2, false);
    for (const Attribute& change : changes) {
        const TagField* field = FindTagField(change.name);
        if (!field) return E_INVALIDARG;
        TagLib::String text = FieldText(*field, change);
        SetId3v2Field(*id3v2, *field, text);
        if (hadId3v1) SetId3v1Field(*file.ID3v1Tag(), *field, text);
    }
    int tags = TagLib::MPEG::File::ID3v2 | (hadId3v1 ? TagLib::MPEG::File::ID3v1 : 0);
    bool saved =
        file.save(tags, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate);
    return saved ? S_OK : kTagWriteFailed;
}

bool ReadWav(TagLib::IOStream* stream, std::vector<Attribute>* out) {
    TagLib::RIFF::WAV::File file(stream, false);
    if (!file.isValid()) return false;
    const TagLib::ID3v2::Tag* id3v2 = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    const TagLib::RIFF::Info::Tag* info = file.hasInfoTag() ? file.InfoTag() : nullptr;
    for (const TagField& field : kTagFields) {
        std::optional<TagLib::String> text;
        if (id3v2) text = Id3v2Field(*id3v2, field);
        if ((!text || text->isEmpty()) && info) text = info->fieldText(field.infoField);
        AddTagField(field, text, out);
    }
    return true;
}

HRESULT WriteWav(TagLib::IOStream* stream, const std::vector<Attribute>& changes) {
    TagLib::RIFF::WAV::File file(stream, false);
    if (!file.isValid()) return kUnreadableFile;
    for (const Attribute& change : changes) {
        const TagField* field = FindTagField(change.name);
        if (!field) return E_INVALIDARG;
        TagLib::String text = FieldText(*field, change);
        SetId3v2Field(*file.ID3v2Tag(), *field, text);
        if (text.isEmpty())
            file.InfoTag()->removeField(field->infoField);
        else
            file.InfoTag()->setFieldText(field->infoField, text);
    }
    bool saved =
        file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4);
    return saved ? S_OK : kTagWriteFailed;
}

// The Content Description object of an ASF header holds these texts; everything else is in
// the attribute lists.
struct AsfDescriptionField {
    const wchar_t* name;
    TagLib::String (TagLib::ASF::Tag::*get)() const;
    void (TagLib::ASF::Tag::*set)(const TagLib::String&);
};
const AsfDescriptionField kAsfDescription[] = {
    {L"Title", &TagLib::ASF::Tag::title, &TagLib::ASF::Tag::setTitle},
    {L"Author", &TagLib::ASF::Tag::artist, &TagLib::ASF::Tag::setArtist},
    {L"Copyright", &TagLib::ASF::Tag::copyright, &TagLib::ASF::Tag::setCopyright},
    {L"Description", &TagLib::ASF::Tag::comment, &TagLib::ASF::Tag::setComment},
    {L"Rating", &TagLib::ASF::Tag::rating, &TagLib::ASF::Tag::setRating},
};

const AsfDescriptionField* FindAsfDescription(std::wstring_view name) {
    for (const AsfDescriptionField& field : kAsfDescription)
        if (SameName(field.name, name)) return &field;
    return nullptr;
}

std::optional<Attribute> FromAsf(const TagLib::String& key, const TagLib::ASF::Attribute& in) {
    Attribute out{FromTagString(key), WMT_TYPE_BINARY, {}};
    auto bytes = [](const TagLib::ByteVector& data) {
        return std::vector<BYTE>(data.begin(), data.end());
    };
    switch (in.type()) {
        case TagLib::ASF::Attribute::UnicodeType:
            return TextAttribute(out.name, in.toString());
        case TagLib::ASF::Attribute::BytesType:
            out.value = bytes(in.toByteVector());
            break;
        case TagLib::ASF::Attribute::BoolType:
            out.type = WMT_TYPE_BOOL;
            out.value = BoolValue(in.toBool());
            break;
        case TagLib::ASF::Attribute::DWordType:
            out.type = WMT_TYPE_DWORD;
            out.value = DwordValue(in.toUInt());
            break;
        case TagLib::ASF::Attribute::QWordType:
            out.type = WMT_TYPE_QWORD;
            out.value = QwordValue(in.toULongLong());
            break;
        case TagLib::ASF::Attribute::WordType:
            out.type = WMT_TYPE_WORD;
            out.value = WordValue(in.toUShort());
            break;
        case TagLib::ASF::Attribute::GuidType:
            out.type = WMT_TYPE_GUID;
            out.value = bytes(in.toByteVector());
            if (out.value.size() != 16) return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    if (out.value.size() > kMaxValueBytes) return std::nullopt;
    return out;
}

std::optional<TagLib::ASF::Attribute> ToAsf(const Attribute& in) {
    switch (in.type) {
        case WMT_TYPE_STRING:
            return TagLib::ASF::Attribute(ToTagString(StringOf(in.value)));
        case WMT_TYPE_BINARY:
            return TagLib::ASF::Attribute(TagLib::ByteVector(
                reinterpret_cast<const char*>(in.value.data()), in.value.size()));
        case WMT_TYPE_BOOL:
            return TagLib::ASF::Attribute(NumberOf<BOOL>(in.value) != 0);
        case WMT_TYPE_DWORD:
            return TagLib::ASF::Attribute(static_cast<unsigned int>(NumberOf<uint32_t>(in.value)));
        case WMT_TYPE_QWORD:
            return TagLib::ASF::Attribute(
                static_cast<unsigned long long>(NumberOf<uint64_t>(in.value)));
        case WMT_TYPE_WORD:
            return TagLib::ASF::Attribute(
                static_cast<unsigned short>(NumberOf<uint16_t>(in.value)));
        default:
            return std::nullopt;
    }
}

bool Contains(const std::vector<Attribute>& list, std::wstring_view name) {
    for (const Attribute& attribute : list)
        if (SameName(attribute.name, name)) return true;
    return false;
}

bool ReadAsf(TagLib::IOStream* stream, std::vector<Attribute>* out) {
    TagLib::ASF::File file(stream, true);
    if (!file.isValid()) return false;
    const TagLib::ASF::Tag* tag = file.tag();
    for (const AsfDescriptionField& field : kAsfDescription) {
        TagLib::String text = (tag->*field.get)();
        if (!text.isEmpty()) out->push_back(TextAttribute(field.name, text));
    }
    if (const TagLib::ASF::Properties* properties = file.audioProperties()) {
        if (properties->bitrate() > 0)  // kbit/s
            out->push_back({std::wstring(kBitrate), WMT_TYPE_DWORD,
                            DwordValue(static_cast<DWORD>(properties->bitrate()) * 1000)});
        if (properties->lengthInMilliseconds() > 0)  // in 100-ns units
            out->push_back(
                {std::wstring(kDuration), WMT_TYPE_QWORD,
                 QwordValue(static_cast<uint64_t>(properties->lengthInMilliseconds()) * 10000)});
    }
    for (const auto& [key, values] : tag->attributeListMap()) {
        for (const TagLib::ASF::Attribute& value : values) {
            if (value.stream() != 0) continue;
            auto attribute = FromAsf(key, value);
            if (attribute && !Contains(*out, attribute->name)) out->push_back(*attribute);
            break;
        }
    }
    return true;
}

HRESULT WriteAsf(TagLib::IOStream* stream, const std::vector<Attribute>& changes) {
    TagLib::ASF::File file(stream, false);
    if (!file.isValid()) return kUnreadableFile;
    TagLib::ASF::Tag* tag = file.tag();
    for (const Attribute& change : changes) {
        // Names are one case-insensitive space: a stale "title" attribute beside the Title
        // text would be shown by other readers instead of the new value.
        std::vector<TagLib::String> sameNames;
        for (const auto& [existing, values] : tag->attributeListMap())
            if (SameName(FromTagString(existing), change.name)) sameNames.push_back(existing);
        if (const AsfDescriptionField* field = FindAsfDescription(change.name)) {
            for (const TagLib::String& key : sameNames) tag->removeItem(key);
            (tag->*field->set)(ToTagString(StringOf(change.value)));
            continue;
        }
        // Keep the spelling the file already uses for the name.
        TagLib::String key = sameNames.empty() ? ToTagString(change.name) : sameNames.front();
        for (const TagLib::String& stale : sameNames) tag->removeItem(stale);
        if (change.type == WMT_TYPE_STRING && StringOf(change.value).empty()) continue;
        auto value = ToAsf(change);
        if (!value) return E_INVALIDARG;
        tag->setAttribute(key, *value);
    }
    return file.save() ? S_OK : kTagWriteFailed;
}

}  // namespace

std::vector<std::string> TagLibMessages() {
    UseUtf8Texts();
    return DebugLog().Lines();
}

std::vector<BYTE> StringValue(std::wstring_view text) {
    std::vector<BYTE> value((text.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(value.data(), text.data(), text.size() * sizeof(WCHAR));
    return value;
}

std::vector<BYTE> DwordValue(DWORD number) {
    return NumberValue(number);
}
std::vector<BYTE> QwordValue(uint64_t number) {
    return NumberValue(number);
}
std::vector<BYTE> WordValue(WORD number) {
    return NumberValue(number);
}
std::vector<BYTE> BoolValue(bool flag) {
    return NumberValue(static_cast<BOOL>(flag ? 1 : 0));
}

std::wstring StringOf(const std::vector<BYTE>& value) {
    std::wstring text(value.size() / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), value.data(), text.size() * sizeof(WCHAR));
    return text.substr(0, text.find(L'\0'));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

bool ReadAttributes(MediaKind kind, TagLib::IOStream* stream, std::vector<Attribute>* out) {
    UseUtf8Texts();
    out->clear();
    switch (kind) {
        case MediaKind::Mpeg:
            return ReadMpeg(stream, out);
        case MediaKind::Asf:
            return ReadAsf(stream, out);
        case MediaKind::Wav:
            return ReadWav(stream, out);
    }
    return false;
}

HRESULT CheckWritable(MediaKind kind, const Attribute& attribute) {
    size_t size = attribute.value.size();
    bool sizeFits = true;
    switch (attribute.type) {
        case WMT_TYPE_STRING:
            sizeFits = size % sizeof(WCHAR) == 0;
            break;
        case WMT_TYPE_BOOL:
        case WMT_TYPE_DWORD:
            sizeFits = size == 4;
            break;
        case WMT_TYPE_QWORD:
            sizeFits = size == 8;
            break;
        case WMT_TYPE_WORD:
            sizeFits = size == 2;
            break;
        case WMT_TYPE_BINARY:
            break;
        default:
            return E_INVALIDARG;  // GUID values cannot be stored through TagLib
    }
    if (!sizeFits || attribute.name.empty()) return E_INVALIDARG;
    if (SameName(attribute.name, kBitrate) || SameName(attribute.name, kDuration))
        return kind == MediaKind::Asf ? E_ACCESSDENIED : E_INVALIDARG;

    if (kind == MediaKind::Asf) {
        if (FindAsfDescription(attribute.name) && attribute.type != WMT_TYPE_STRING)
            return E_INVALIDARG;
        return S_OK;
    }
    const TagField* field = FindTagField(attribute.name);
    if (!field) return E_INVALIDARG;
    if (attribute.type == WMT_TYPE_STRING) return S_OK;
    bool number = attribute.type == WMT_TYPE_DWORD || attribute.type == WMT_TYPE_WORD ||
                  attribute.type == WMT_TYPE_QWORD;
    return IsTrack(*field) && number ? S_OK : E_INVALIDARG;
}

HRESULT WriteAttributes(MediaKind kind, TagLib::IOStream* stream,
                        const std::vector<Attribute>& changes) {
    UseUtf8Texts();
    switch (kind) {
        case MediaKind::Mpeg:
            return WriteMpeg(stream, changes);
        case MediaKind::Asf:
            return WriteAsf(stream, changes);
        case MediaKind::Wav:
            return WriteWav(stream, changes);
    }
    return E_INVALIDARG;
}

}  // namespace quil::wmf
