#include "platform/profile/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

struct Line {
    std::string text;
    std::string end;  // "\r\n", "\n", "\r" or "" for a last line without one
};

struct Section {
    std::string name;
    size_t header;  // index of the "[...]" line
    size_t end;     // one past its last line
};

class Profile {
public:
    explicit Profile(std::string_view content) {
        size_t start = 0;
        while (start < content.size()) {
            size_t stop = content.find_first_of("\r\n", start);
            if (stop == std::string_view::npos) {
                lines_.push_back({std::string(content.substr(start)), ""});
                break;
            }
            size_t next = stop + 1;
            if (content[stop] == '\r' && next < content.size() && content[next] == '\n') ++next;
            lines_.push_back({std::string(content.substr(start, stop - start)),
                              std::string(content.substr(stop, next - stop))});
            start = next;
        }
        Index();
    }

    std::string Text() const {
        std::string out;
        for (const auto& line : lines_) out += line.text + line.end;
        return out;
    }

    const Section* FindSection(std::string_view name) const {
        for (const auto& section : sections_) {
            if (SameName(section.name, name)) return &section;
        }
        return nullptr;
    }

    // The index of the key's line in the section, if any.
    std::optional<size_t> FindKey(const Section& section, std::string_view key) const {
        for (size_t i = section.header + 1; i < section.end; ++i) {
            std::string_view name;
            if (KeyOf(lines_[i].text, &name, nullptr) && SameName(name, key)) return i;
        }
        return std::nullopt;
    }

    std::optional<std::string> Value(std::string_view sectionName, std::string_view key) const {
        const Section* section = FindSection(sectionName);
        if (!section) return std::nullopt;
        auto line = FindKey(*section, key);
        if (!line) return std::nullopt;
        std::string_view value;
        KeyOf(lines_[*line].text, nullptr, &value);
        return std::string(StripQuotes(value));
    }

    std::vector<std::string> SectionNames() const {
        std::vector<std::string> names;
        for (const auto& section : sections_) names.push_back(section.name);
        return names;
    }

    std::vector<std::string> KeyNames(const Section& section) const {
        std::vector<std::string> names;
        for (size_t i = section.header + 1; i < section.end; ++i) {
            std::string_view name;
            // An empty name would end the zero-separated list early.
            if (KeyOf(lines_[i].text, &name, nullptr) && !name.empty()) names.emplace_back(name);
        }
        return names;
    }

    void Set(std::string_view sectionName, std::string_view key, std::string_view value) {
        const Section* section = FindSection(sectionName);
        if (!section) {
            if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = LineEnd();
            lines_.push_back({"[" + std::string(sectionName) + "]", LineEnd()});
            lines_.push_back({std::string(key) + "=" + std::string(value), LineEnd()});
            Index();
            return;
        }
        if (auto line = FindKey(*section, key)) {
            std::string_view existing;
            KeyOf(lines_[*line].text, &existing, nullptr);
            lines_[*line].text = std::string(existing) + "=" + std::string(value);
            return;
        }
        // After the section's last non-blank line, so blank lines before the next section stay.
        size_t at = section->header + 1;
        for (size_t i = section->header + 1; i < section->end; ++i) {
            if (!Trim(lines_[i].text).empty()) at = i + 1;
        }
        if (lines_[at - 1].end.empty()) lines_[at - 1].end = LineEnd();
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      Line{std::string(key) + "=" + std::string(value), LineEnd()});
        Index();
    }

    void DeleteKey(std::string_view sectionName, std::string_view key) {
        const Section* section = FindSection(sectionName);
        if (!section) return;
        if (auto line = FindKey(*section, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*line));
            Index();
        }
    }

    void DeleteSection(std::string_view sectionName) {
        const Section* section = FindSection(sectionName);
        if (!section) return;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(section->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(section->end));
        Index();
    }

private:
    // "name=value" with both trimmed; false for headers, comments and lines without "=".
    static bool KeyOf(std::string_view line, std::string_view* name, std::string_view* value) {
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '[' || trimmed[0] == ';') return false;
        size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) return false;
        if (name) *name = Trim(trimmed.substr(0, equals));
        if (value) *value = Trim(trimmed.substr(equals + 1));
        return true;
    }

    void Index() {
        sections_.clear();
        for (size_t i = 0; i < lines_.size(); ++i) {
            std::string_view trimmed = Trim(lines_[i].text);
            if (trimmed.empty() || trimmed[0] != '[') continue;
            std::string_view name = trimmed.substr(1);
            if (size_t close = name.find(']'); close != std::string_view::npos) {
                name = name.substr(0, close);
            }
            if (!sections_.empty()) sections_.back().end = i;
            sections_.push_back({std::string(Trim(name)), i, lines_.size()});
        }
    }

    // New lines follow the file's own line ends; a new file gets the system's.
    std::string LineEnd() const {
        for (const auto& line : lines_) {
            if (!line.end.empty()) return line.end;
        }
        return "\n";
    }

    std::vector<Line> lines_;
    std::vector<Section> sections_;
};

bool ReadAll(int fd, std::string* out) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        out->append(buffer, static_cast<size_t>(got));
    }
}

std::string ReadFileText(const char* fileName) {
    std::string text;
    if (!fileName || !*fileName) return text;
    int fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    if (!ReadAll(fd, &text)) text.clear();
    ::close(fd);
    return text;
}

DWORD CopyOut(std::string_view text, char* returned, DWORD size) {
    if (!returned || size == 0) return 0;
    size_t count = std::min<size_t>(text.size(), size - 1);
    std::memcpy(returned, text.data(), count);
    returned[count] = '\0';
    return static_cast<DWORD>(count);
}

// Zero-terminated names followed by one more zero; a list that does not fit is cut and still
// ends in two zeros.
DWORD CopyList(const std::vector<std::string>& names, char* returned, DWORD size) {
    if (!returned || size == 0) return 0;
    std::string list;
    for (const auto& name : names) {
        list += name;
        list += '\0';
    }
    if (list.size() + 1 <= size) {
        std::memcpy(returned, list.data(), list.size());
        returned[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        returned[0] = '\0';
        return 0;
    }
    std::memcpy(returned, list.data(), size - 2);
    returned[size - 2] = '\0';
    returned[size - 1] = '\0';
    return size - 2;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

// Writes a temporary file beside the target and renames it over, so a crash or a full disk
// leaves the old file whole.
bool ReplaceFile(const std::filesystem::path& path, std::string_view content, mode_t mode) {
    std::string temp = path.string() + ".XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) return false;
    bool ok = ::fchmod(fd.get(), mode & 07777) == 0 && WriteAll(fd.get(), content) &&
              ::fsync(fd.get()) == 0;
    ok = ::close(fd.Release()) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    Fd folder(::open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return true;
}

bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* appName, const char* keyName, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName) {
    // Windows drops the default's trailing blanks.
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

    Profile profile(ReadFileText(fileName));
    if (!appName) return CopyList(profile.SectionNames(), returned, size);
    std::string_view section = Trim(appName);
    if (!keyName) {
        const Section* found = profile.FindSection(section);
        if (!found) return CopyOut(fallback, returned, size);
        return CopyList(profile.KeyNames(*found), returned, size);
    }
    auto value = profile.Value(section, Trim(keyName));
    return CopyOut(value ? std::string_view(*value) : fallback, returned, size);
}

BOOL WritePrivateProfileStringA(const char* appName, const char* keyName, const char* value,
                                const char* fileName) {
    if (!appName || !fileName || !*fileName) return FALSE;
    std::string_view section = Trim(appName);
    std::string_view key = keyName ? Trim(keyName) : std::string_view();
    // Names and values that would read back as other lines are refused rather than written.
    if (HoldsLineBreak(section) || section.find(']') != std::string_view::npos) return FALSE;
    if (keyName && (HoldsLineBreak(key) || key.find('=') != std::string_view::npos ||
                    key.starts_with('[') || key.starts_with(';'))) {
        return FALSE;
    }
    if (value && HoldsLineBreak(value)) return FALSE;

    std::filesystem::path path = fileName;
    std::error_code error;
    if (std::filesystem::is_symlink(path, error)) {
        auto target = std::filesystem::canonical(path, error);
        if (!error) path = target;
    }

    // Writers of one folder take turns on the folder, which is never replaced, so a writer
    // cannot keep losing the file lock to writers queued before it.
    Fd folder(::open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        while (::flock(folder.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    // Lock the file itself too, for writers that lock only the file; one that waited on a file
    // since replaced tries again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
        if (fd.get() < 0) return FALSE;
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) return FALSE;
        }
        struct stat opened {
        }, current{};
        if (::fstat(fd.get(), &opened) != 0) return FALSE;
        if (::stat(path.c_str(), &current) != 0 || current.st_ino != opened.st_ino ||
            current.st_dev != opened.st_dev) {
            continue;
        }
        std::string before;
        if (!ReadAll(fd.get(), &before)) return FALSE;
        Profile profile(before);
        if (!keyName) {
            profile.DeleteSection(section);
        } else if (!value) {
            profile.DeleteKey(section, key);
        } else {
            profile.Set(section, key, value);
        }
        std::string after = profile.Text();
        if (after == before) return TRUE;
        return ReplaceFile(path, after, opened.st_mode) ? TRUE : FALSE;
    }
    return FALSE;
}

UINT GetPrivateProfileIntA(const char* appName, const char* keyName, int defaultValue,
                           const char* fileName) {
    if (!appName || !keyName) return static_cast<UINT>(defaultValue);
    auto value = Profile(ReadFileText(fileName)).Value(Trim(appName), Trim(keyName));
    if (!value || value->empty()) return static_cast<UINT>(defaultValue);
    std::string_view text = *value;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    uint32_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        number = number * 10u + static_cast<uint32_t>(c - '0');  // wraps as Windows does
    }
    return negative ? 0u - number : number;
}
