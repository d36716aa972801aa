#include "platform/wmf/metadata_editor.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <taglib/tiostream.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/strings.h"
#include "platform/wmf/save_checks.h"

namespace quil::wmf {
namespace {

namespace fs = std::filesystem;

HRESULT HresultFromErrno(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return HRESULT_DISK_FULL;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
            return E_ACCESSDENIED;
        case ENOENT:
        case ENOTDIR:
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EIO:
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        default:
            return E_FAIL;
    }
}

// Nothing may be thrown across the interface; TagLib and the standard library may throw.
template <class Body>
HRESULT Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports what close says, since a failed close can mean lost data.
    int Close() {
        int fd = std::exchange(fd_, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int fd_;
};

// Returns 0 or the errno of the failed call.
int WriteFully(int fd, const char* data, size_t size, off_t at) {
    while (size > 0) {
        ssize_t done = ::pwrite(fd, data, size, at);
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (done == 0) return EIO;
        data += done;
        size -= static_cast<size_t>(done);
        at += done;
    }
    return 0;
}

// Reads up to size bytes; *got is short only at the end of the file.
int ReadFully(int fd, char* data, size_t size, off_t at, size_t* got) {
    *got = 0;
    while (*got < size) {
        ssize_t done = ::pread(fd, data + *got, size - *got, at + static_cast<off_t>(*got));
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (done == 0) break;
        *got += static_cast<size_t>(done);
    }
    return 0;
}

// A TagLib stream over a file descriptor that keeps the first failed system call. TagLib's own
// file stream ignores write errors, so a full disk would otherwise pass as a good save.
class CheckedFileStream : public TagLib::IOStream {
public:
    CheckedFileStream(int fd, std::string name, bool writable)
        : fd_(fd), name_(std::move(name)), writable_(writable) {}

    int error() const { return error_; }

    TagLib::FileName name() const override { return name_.c_str(); }
    bool readOnly() const override { return !writable_; }
    bool isOpen() const override { return true; }
    long tell() const override { return position_; }
    void clear() override {}

    TagLib::ByteVector readBlock(unsigned long length) override {
        // A broken header may ask for gigabytes; never hold more than the file has.
        long left = std::max(0L, this->length() - position_);
        length = std::min(length, static_cast<unsigned long>(left));
        TagLib::ByteVector data(static_cast<unsigned int>(length), 0);
        size_t got = 0;
        Check(ReadFully(fd_, data.data(), data.size(), position_, &got));
        data.resize(static_cast<unsigned int>(got));
        position_ += static_cast<long>(got);
        return data;
    }

    void writeBlock(const TagLib::ByteVector& data) override {
        if (!Check(WriteFully(fd_, data.data(), data.size(), position_))) return;
        position_ += static_cast<long>(data.size());
    }

    void insert(const TagLib::ByteVector& data, unsigned long start,
                unsigned long replace) override {
        if (data.size() <= replace) {
            seek(static_cast<long>(start), Beginning);
            writeBlock(data);
            if (data.size() < replace) removeBlock(start + data.size(), replace - data.size());
            return;
        }
        // Move the tail forward from its end backwards, so no byte is overwritten unread.
        const off_t shift = static_cast<off_t>(data.size() - replace);
        const off_t tailStart = static_cast<off_t>(start + replace);
        std::vector<char> buffer(kChunk);
        for (off_t chunkEnd = length(); chunkEnd > tailStart && error_ == 0;) {
            size_t size = static_cast<size_t>(std::min<off_t>(kChunk, chunkEnd - tailStart));
            off_t from = chunkEnd - static_cast<off_t>(size);
            if (!ReadExactly(buffer.data(), size, from)) return;
            if (!Check(WriteFully(fd_, buffer.data(), size, from + shift))) return;
            chunkEnd = from;
        }
        if (error_ != 0) return;
        if (!Check(WriteFully(fd_, data.data(), data.size(), static_cast<off_t>(start)))) return;
        position_ = static_cast<long>(start + data.size());
    }

    void removeBlock(unsigned long start, unsigned long length) override {
        const off_t end = this->length();
        if (error_ != 0 || static_cast<off_t>(start) >= end) return;
        off_t readAt = static_cast<off_t>(start + length);
        off_t writeAt = static_cast<off_t>(start);
        std::vector<char> buffer(kChunk);
        while (readAt < end) {
            size_t size = static_cast<size_t>(std::min<off_t>(kChunk, end - readAt));
            if (!ReadExactly(buffer.data(), size, readAt)) return;
            if (!Check(WriteFully(fd_, buffer.data(), size, writeAt))) return;
            readAt += static_cast<off_t>(size);
            writeAt += static_cast<off_t>(size);
        }
        truncate(static_cast<long>(writeAt));
    }

    void seek(long offset, Position from) override {
        long base = from == Beginning ? 0 : from == Current ? position_ : length();
        if (base + offset >= 0) position_ = base + offset;
    }

    long length() override {
        struct stat info {};
        if (!Check(::fstat(fd_, &info) == 0 ? 0 : errno)) return 0;
        return static_cast<long>(info.st_size);
    }

    void truncate(long length) override { Check(::ftruncate(fd_, length) == 0 ? 0 : errno); }

private:
    static constexpr size_t kChunk = 1 << 16;

    bool Check(int error) {
        if (error != 0 && error_ == 0) error_ = error;
        return error == 0;
    }
    bool ReadExactly(char* data, size_t size, off_t at) {
        size_t got = 0;
        if (!Check(ReadFully(fd_, data, size, at, &got))) return false;
        return Check(got == size ? 0 : EIO);
    }

    int fd_;
    std::string name_;
    bool writable_;
    long position_ = 0;
    int error_ = 0;
};

// Temporary files of a save sit next to the file, hidden, named ".<name>.quiltag-new-XXXXXX"
// (the new copy) or ".<name>.quiltag-backup-XXXXXX" (the copy kept while a file is edited in
// place). A new copy is locked while its save runs; one that nobody holds was left by a save
// that was killed, and the next save in that folder removes it. Backups are never removed
// automatically: after a killed in-place edit they may hold the only intact audio.
constexpr std::string_view kNewCopyMark = ".quiltag-new-";
constexpr std::string_view kBackupMark = ".quiltag-backup-";

void RemoveStaleCopies(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] != '.' || name.find(kNewCopyMark) == std::string::npos)
            continue;
        UniqueFd fd(::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat info {};
        if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(it->path().c_str());
    }
}

// A temporary file of a save, removed again unless it replaced the original or was kept.
class ReplacementFile {
public:
    ReplacementFile(const fs::path& original, std::string_view mark) {
        // Hidden, and without the media extension at the end, so file lists skip it.
        std::string base(Utf8Prefix(original.filename().string(), 200));
        path_ = (original.parent_path() / ("." + base + std::string(mark) + "XXXXXX")).string();
        int fd = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd < 0) error_ = errno;
        if (fd >= 0) ::flock(fd, LOCK_EX);
        fd_.Reset(fd);
    }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile() {
        if (!committed_ && error_ == 0) ::unlink(path_.c_str());
        fd_.Close();
    }

    int error() const { return error_; }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    void Keep() { committed_ = true; }

    // Syncs the new file and renames it over the original; 0 or an errno. The rename comes
    // before the close, so the file stays locked until it is the original.
    int Commit(const fs::path& original) {
        if (::fsync(fd_.get()) != 0) return errno;
        if (::rename(path_.c_str(), original.c_str()) != 0) return errno;
        committed_ = true;
        if (int error = fd_.Close()) return error;
        // Make the rename itself durable; the file is already replaced if this fails.
        UniqueFd folder(::open(original.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder) ::fsync(folder.get());
        return 0;
    }

private:
    std::string path_;
    UniqueFd fd_;
    int error_ = 0;
    bool committed_ = false;
};

std::optional<MediaKind> Sniff(int fd, const fs::path& path) {
    static constexpr unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66,
                                                     0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA,
                                                     0x00, 0x62, 0xCE, 0x6C};
    char head[16] = {};
    size_t got = 0;
    if (ReadFully(fd, head, sizeof head, 0, &got) != 0) return std::nullopt;
    auto bytes = reinterpret_cast<const unsigned char*>(head);
    if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
        return MediaKind::Wav;
    if (got >= 16 && std::memcmp(head, kAsfHeader, 16) == 0) return MediaKind::Asf;
    if (got >= 3 && std::memcmp(head, "ID3", 3) == 0) return MediaKind::Mpeg;
    if (got >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0) return MediaKind::Mpeg;
    // MPEG streams may carry junk before their first frame.
    if (ToLowerAscii(path.extension().string()) == ".mp3") return MediaKind::Mpeg;
    return std::nullopt;
}

// The changes did not read back from the written file.
constexpr HRESULT kTagWriteFailedCheck = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);

HRESULT CopyContents(int from, int to) {
    std::vector<char> buffer(1 << 16);
    off_t at = 0;
    for (;;) {
        size_t got = 0;
        if (int error = ReadFully(from, buffer.data(), buffer.size(), at, &got))
            return HresultFromErrno(error);
        if (got == 0) return S_OK;
        if (int error = WriteFully(to, buffer.data(), got, at)) return HresultFromErrno(error);
        at += static_cast<off_t>(got);
    }
}

// Copies every extended attribute (ACLs and security labels among them); false when one could not
// be read or kept, so the caller edits in place instead of losing it.
bool CopyExtendedAttributes(int from, int to) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    std::vector<char> names(static_cast<size_t>(size));
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0) return false;
    for (size_t at = 0; at < static_cast<size_t>(size);) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) return false;
        std::vector<char> value(static_cast<size_t>(length));
        length = ::fgetxattr(from, name, value.data(), value.size());
        if (length < 0 || ::fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0) != 0)
            return false;
    }
    return true;
}

// The text an attribute shows, for comparing what was asked with what a file holds.
std::optional<std::wstring> ShownText(const Attribute& attribute) {
    switch (attribute.type) {
        case WMT_TYPE_STRING:
            return StringOf(attribute.value);
        case WMT_TYPE_DWORD:
        case WMT_TYPE_WORD:
        case WMT_TYPE_QWORD: {
            uint64_t number = 0;
            std::memcpy(&number, attribute.value.data(), std::min<size_t>(8, attribute.value.size()));
            if (attribute.type == WMT_TYPE_DWORD) number &= 0xFFFFFFFFull;
            if (attribute.type == WMT_TYPE_WORD) number &= 0xFFFFull;
            return std::to_wstring(number);
        }
        default:
            return std::nullopt;
    }
}

// True when every change reads back from the attributes as it was asked for.
bool ChangesReadBack(const std::vector<Attribute>& changes, const std::vector<Attribute>& read) {
    for (const Attribute& change : changes) {
        const Attribute* found = nullptr;
        for (const Attribute& attribute : read)
            if (SameName(attribute.name, change.name)) found = &attribute;
        auto wanted = ShownText(change);
        if (!wanted) {
            if (!found || found->value != change.value) return false;
            continue;
        }
        auto shown = found ? ShownText(*found) : std::optional<std::wstring>(L"");
        if (!shown || *shown != *wanted) return false;
    }
    return true;
}

class MetadataEditor : public ComImpl<IWMMetadataEditor, IWMHeaderInfo> {
public:
    HRESULT Open(const WCHAR* fileName) override {
        if (!fileName) return E_POINTER;
        if (open_) return E_UNEXPECTED;
        return Guarded([&] {
            std::error_code failure;
            fs::path path = fs::canonical(fs::path(Narrow(fileName)), failure);
            if (failure) return HresultFromErrno(failure.value());
            MediaKind kind{};
            std::vector<Attribute> attributes;
            HRESULT hr = Load(path, true, &kind, &attributes);
            if (FAILED(hr)) return hr;
            path_ = std::move(path);
            kind_ = kind;
            attributes_ = std::move(attributes);
            changes_.clear();
            open_ = true;
            return S_OK;
        });
    }

    HRESULT Close() override {
        if (!open_) return E_UNEXPECTED;
        open_ = false;
        attributes_.clear();
        changes_.clear();
        return S_OK;
    }

    HRESULT Flush() override {
        if (!open_) return E_UNEXPECTED;
        if (changes_.empty()) return S_OK;
        return Guarded([&] {
            HRESULT hr = WriteReplacement();
            if (FAILED(hr)) return hr;
            changes_.clear();
            std::vector<Attribute> attributes;
            MediaKind kind = kind_;
            hr = Load(path_, false, &kind, &attributes);
            if (SUCCEEDED(hr)) attributes_ = std::move(attributes);
            return hr;
        });
    }

    HRESULT GetAttributeCount(WORD streamNumber, WORD* count) override {
        if (!count) return E_INVALIDARG;
        if (!open_) return E_UNEXPECTED;
        *count = streamNumber == 0 ? static_cast<WORD>(attributes_.size()) : 0;
        return S_OK;
    }

    HRESULT GetAttributeByIndex(WORD index, WORD* streamNumber, WCHAR* name, WORD* nameLength,
                                WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) override {
        if (!streamNumber || !nameLength || !type || !valueLength) return E_INVALIDARG;
        if (!open_) return E_UNEXPECTED;
        if (*streamNumber != 0 || index >= attributes_.size()) return E_INVALIDARG;
        const Attribute& attribute = attributes_[index];
        WORD needed = static_cast<WORD>(attribute.name.size() + 1);  // characters
        if (name) {
            if (*nameLength < needed) {
                *nameLength = needed;
                return ASF_E_BUFFERTOOSMALL;
            }
            std::copy(attribute.name.begin(), attribute.name.end(), name);
            name[attribute.name.size()] = L'\0';
        }
        *nameLength = needed;
        return CopyValue(attribute, type, value, valueLength);
    }

    HRESULT GetAttributeByName(WORD* streamNumber, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                               BYTE* value, WORD* valueLength) override {
        if (!streamNumber || !name || !type || !valueLength) return E_INVALIDARG;
        if (!open_) return E_UNEXPECTED;
        const Attribute* attribute = *streamNumber == 0 ? Find(name) : nullptr;
        if (!attribute) {
            *valueLength = 0;
            return ASF_E_NOTFOUND;
        }
        return CopyValue(*attribute, type, value, valueLength);
    }

    HRESULT SetAttribute(WORD streamNumber, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
                         WORD valueLength) override {
        if (!name || (!value && valueLength > 0)) return E_INVALIDARG;
        if (!open_) return E_UNEXPECTED;
        if (streamNumber != 0) return E_INVALIDARG;
        return Guarded([&] {
            Attribute change{name, type, std::vector<BYTE>(value, value + valueLength)};
            HRESULT hr = CheckWritable(kind_, change);
            if (FAILED(hr)) return hr;
            if (type == WMT_TYPE_STRING) change.value = StringValue(StringOf(change.value));
            Store(attributes_, change);
            Store(changes_, change);
            return S_OK;
        });
    }

private:
    Attribute* Find(std::wstring_view name) {
        for (Attribute& attribute : attributes_)
            if (SameName(attribute.name, name)) return &attribute;
        return nullptr;
    }

    static void Store(std::vector<Attribute>& list, const Attribute& change) {
        for (Attribute& attribute : list) {
            if (SameName(attribute.name, change.name)) {
                attribute.type = change.type;
                attribute.value = change.value;
                return;
            }
        }
        list.push_back(change);
    }

    static HRESULT CopyValue(const Attribute& attribute, WMT_ATTR_DATATYPE* type, BYTE* value,
                             WORD* valueLength) {
        *type = attribute.type;
        WORD size = static_cast<WORD>(attribute.value.size());
        if (value) {
            if (*valueLength < size) {
                *valueLength = size;
                return ASF_E_BUFFERTOOSMALL;
            }
            std::copy(attribute.value.begin(), attribute.value.end(), value);
        }
        *valueLength = size;
        return S_OK;
    }

    // Reads the attributes of path; with sniff, *kind is found from the content first.
    static HRESULT Load(const fs::path& path, bool sniff, MediaKind* kind,
                        std::vector<Attribute>* out) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) return HresultFromErrno(errno);
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) return HresultFromErrno(errno);
        if (!S_ISREG(info.st_mode)) return E_ACCESSDENIED;
        if (sniff) {
            auto sniffed = Sniff(fd.get(), path);
            if (!sniffed) return kUnreadableFile;
            *kind = *sniffed;
        }
        CheckedFileStream stream(fd.get(), path.string(), false);
        bool parsed = ReadAttributes(*kind, &stream, out);
        if (stream.error() != 0) return HresultFromErrno(stream.error());
        return parsed ? S_OK : kUnreadableFile;
    }

    // Every change of one flush goes into one new copy of the file, which replaces the original
    // once its audio and its tags are checked. A file whose identity a copy cannot keep (more
    // than one link, an owner or extended attributes that cannot be given to the copy) is
    // edited in place instead, after a backup copy that goes again on success.
    HRESULT WriteReplacement() const {
        struct stat original {};
        if (::stat(path_.c_str(), &original) != 0) return HresultFromErrno(errno);
        // Root may write anything; a file nobody may write is still read-only to us.
        if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(path_.c_str(), W_OK) != 0)
            return E_ACCESSDENIED;

        UniqueFd source(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
        if (!source) return HresultFromErrno(errno);
        HRESULT hr = CheckContainerSizes(kind_, source.get());
        if (FAILED(hr)) return hr;
        RemoveStaleCopies(path_.parent_path());
        auto audio = FingerprintAudio(path_.string());
        if (original.st_nlink > 1) return WriteInPlace(source.get(), audio);

        ReplacementFile replacement(path_, kNewCopyMark);
        if (replacement.error() != 0) return HresultFromErrno(replacement.error());
        if (::fchmod(replacement.fd(), original.st_mode & 07777) != 0)
            return HresultFromErrno(errno);
        if (::fchown(replacement.fd(), original.st_uid, original.st_gid) != 0 ||
            !CopyExtendedAttributes(source.get(), replacement.fd()))
            return WriteInPlace(source.get(), audio);
        hr = CopyContents(source.get(), replacement.fd());
        if (FAILED(hr)) return hr;
        hr = WriteAndCheck(replacement.fd(), replacement.path(), audio);
        if (FAILED(hr)) return hr;
        if (int error = replacement.Commit(path_)) return HresultFromErrno(error);
        return S_OK;
    }

    // Writes the changes into the file of fd, then checks that its audio is the original's and
    // that the changes read back.
    HRESULT WriteAndCheck(int fd, const std::string& path,
                          const std::optional<AudioFingerprint>& audio) const {
        CheckedFileStream stream(fd, path, true);
        HRESULT hr = WriteAttributes(kind_, &stream, changes_);
        if (stream.error() != 0) return HresultFromErrno(stream.error());
        if (FAILED(hr)) return hr;
        if (::fsync(fd) != 0) return HresultFromErrno(errno);
        if (audio) {
            auto written = FingerprintAudio(path);
            if (!written || !(*written == *audio)) return kAudioChanged;
        }
        CheckedFileStream reread(fd, path, false);
        std::vector<Attribute> attributes;
        if (!ReadAttributes(kind_, &reread, &attributes) || !ChangesReadBack(changes_, attributes))
            return kTagWriteFailedCheck;
        return S_OK;
    }

    HRESULT WriteInPlace(int source, const std::optional<AudioFingerprint>& audio) const {
        ReplacementFile backup(path_, kBackupMark);
        if (backup.error() != 0) return HresultFromErrno(backup.error());
        HRESULT hr = CopyContents(source, backup.fd());
        if (FAILED(hr)) return hr;
        if (::fsync(backup.fd()) != 0) return HresultFromErrno(errno);
        struct stat saved {};
        if (::fstat(backup.fd(), &saved) != 0) return HresultFromErrno(errno);
        UniqueFd target(::open(path_.c_str(), O_RDWR | O_CLOEXEC));
        if (!target) return HresultFromErrno(errno);
        hr = WriteAndCheck(target.get(), path_.string(), audio);
        if (SUCCEEDED(hr)) return S_OK;
        // Put the original bytes back; if even that fails, the backup stays for the user.
        if (FAILED(CopyContents(backup.fd(), target.get())) ||
            ::ftruncate(target.get(), saved.st_size) != 0 || ::fsync(target.get()) != 0)
            backup.Keep();
        return hr;
    }

    bool open_ = false;
    fs::path path_;
    MediaKind kind_ = MediaKind::Mpeg;
    std::vector<Attribute> attributes_;
    std::vector<Attribute> changes_;  // in the order they were set
};

}  // namespace
}  // namespace quil::wmf

HRESULT WMCreateEditor(IWMMetadataEditor** editor) {
    if (!editor) return E_POINTER;
    *editor = nullptr;
    return quil::wmf::Guarded([&] {
        *editor = quil::MakeCom<quil::wmf::MetadataEditor>().Detach();
        return S_OK;
    });
}
