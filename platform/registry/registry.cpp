#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/registry/user_folders.h"

namespace quil::registry {

namespace {

constexpr std::string_view kHeader = "Quillet registry 1";
// How long a write waits for the store's lock held by another process.
constexpr std::chrono::seconds kLockWait{10};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

const char* RootName(Root root) {
    switch (root) {
        case Root::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case Root::CurrentUser:
            return "HKEY_CURRENT_USER";
        case Root::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
    }
    return "HKEY_UNKNOWN";
}

// Splits a path on "\" dropping empty parts; nullopt when a part holds a control character,
// which the text file could not keep on one line.
std::optional<std::vector<std::string>> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (!part.empty()) {
            for (unsigned char c : part) {
                if (c < 0x20 || c == 0x7f) return std::nullopt;
            }
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    return out;
}

std::string JoinPath(std::string_view base, std::string_view relative) {
    if (base.empty()) return std::string(relative);
    if (relative.empty()) return std::string(base);
    return std::string(base) + "\\" + std::string(relative);
}

struct KeyData {
    std::string path;  // as first created
    std::vector<Value> values;

    Value* Find(std::string_view name) {
        for (auto& value : values) {
            if (SameName(value.name, name)) return &value;
        }
        return nullptr;
    }
    const Value* Find(std::string_view name) const {
        return const_cast<KeyData*>(this)->Find(name);
    }
};

// Keys by lower-case path; the root key "" always exists.
struct Store {
    std::map<std::string, KeyData> keys;
    Store() { keys.emplace("", KeyData{}); }

    KeyData* Find(std::string_view path) {
        auto parts = SplitPath(path);
        if (!parts) return nullptr;
        auto it = keys.find(Lower(JoinPath(*parts, parts->size())));
        return it == keys.end() ? nullptr : &it->second;
    }
    const KeyData* Find(std::string_view path) const {
        return const_cast<Store*>(this)->Find(path);
    }

    // Creates the key and its parents; returns the key, or nullptr for an invalid path.
    KeyData* Create(std::string_view path, bool* created) {
        auto parts = SplitPath(path);
        if (!parts) return nullptr;
        KeyData* key = &keys[""];
        for (size_t i = 1; i <= parts->size(); ++i) {
            std::string display = JoinPath(*parts, i);
            auto [it, inserted] = keys.try_emplace(Lower(display));
            if (inserted) {
                // Keep the case of the parent as stored, only the new part as given.
                std::string parentPath = i > 1 ? key->path : std::string();
                it->second.path = JoinPath(parentPath, (*parts)[i - 1]);
                if (created) *created = true;
            }
            key = &it->second;
        }
        return key;
    }

    std::vector<std::string> Children(std::string_view path) const {
        std::string prefix = Lower(path);
        if (!prefix.empty()) prefix += '\\';
        std::vector<std::string> names;
        for (auto it = keys.lower_bound(prefix); it != keys.end(); ++it) {
            const std::string& lower = it->first;
            if (lower.compare(0, prefix.size(), prefix) != 0) break;
            if (lower.size() == prefix.size()) continue;
            if (lower.find('\\', prefix.size()) != std::string::npos) continue;
            names.push_back(it->second.path.substr(prefix.size()));
        }
        return names;
    }

    // Removes the key and everything below it; false when it does not exist.
    bool EraseTree(std::string_view path) {
        std::string lower = Lower(path);
        if (lower.empty() || !keys.count(lower)) return false;
        std::string prefix = lower + '\\';
        keys.erase(lower);
        for (auto it = keys.lower_bound(prefix); it != keys.end();) {
            if (it->first.compare(0, prefix.size(), prefix) != 0) break;
            it = keys.erase(it);
        }
        return true;
    }
};

// ---- Text form ----

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02x", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string at text[*pos]; advances past the closing quote.
bool Unquote(std::string_view text, size_t* pos, std::string* out) {
    size_t i = *pos;
    if (i >= text.size() || text[i] != '"') return false;
    ++i;
    out->clear();
    while (i < text.size()) {
        char c = text[i++];
        if (c == '"') {
            *pos = i;
            return true;
        }
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (i >= text.size()) return false;
        char e = text[i++];
        switch (e) {
            case '"':
                *out += '"';
                break;
            case '\\':
                *out += '\\';
                break;
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            case 't':
                *out += '\t';
                break;
            case 'x': {
                if (i + 2 > text.size()) return false;
                int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
                if (high < 0 || low < 0) return false;
                *out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

std::string Serialize(Root root, const Store& store) {
    std::ostringstream out;
    out << kHeader << "\n";
    out << "; " << RootName(root)
        << ". Values are dword:<8 hex digits> or \"text\"; @ is a key's default value.\n";
    for (const auto& [lower, key] : store.keys) {
        if (lower.empty() && key.values.empty()) continue;
        out << "\n[" << key.path << "]\n";
        for (const auto& value : key.values) {
            out << (value.name.empty() ? std::string("@") : Quote(value.name)) << '=';
            if (const auto* number = std::get_if<uint32_t>(&value.data)) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "dword:%08x", *number);
                out << hex;
            } else {
                out << Quote(std::get<std::string>(value.data));
            }
            out << '\n';
        }
    }
    return out.str();
}

// Parses one value line into the key.
bool ParseValue(std::string_view line, KeyData* key) {
    Value value;
    size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else if (!Unquote(line, &pos, &value.name)) {
        return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string_view data = line.substr(pos + 1);
    if (data.starts_with("dword:")) {
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t number = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) return false;
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        value.data = number;
    } else {
        std::string textValue;
        size_t textPos = 0;
        if (!Unquote(data, &textPos, &textValue) || textPos != data.size()) return false;
        value.data = std::move(textValue);
    }
    if (Value* existing = key->Find(value.name)) {
        existing->data = std::move(value.data);
    } else {
        key->values.push_back(std::move(value));
    }
    return true;
}

// Parses the text form, keeping every line that reads. A damaged line is skipped (the values
// under a damaged key line with it, as their key is unknown); false, with the first damaged
// line's number, when any line was skipped or the header is missing.
bool Parse(std::string_view text, Store* store, int* badLine) {
    *store = Store{};
    *badLine = 0;
    if (text.empty()) return true;
    KeyData* current = nullptr;
    int lineNumber = 0;
    auto damaged = [&] {
        if (*badLine == 0) *badLine = lineNumber;
    };
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNumber == 1) {
            if (line != kHeader) damaged();
            if (line == kHeader) continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            current = line.back() == ']' ? store->Create(line.substr(1, line.size() - 2), nullptr)
                                         : nullptr;
            if (!current) damaged();
            continue;
        }
        if (!current || !ParseValue(line, current)) damaged();
    }
    return *badLine == 0;
}

// ---- Files ----

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileIdentity IdentityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

enum class LoadState { Missing, Good, Corrupt, Unreadable };

struct Loaded {
    LoadState state = LoadState::Missing;
    Store store;
    FileIdentity identity;
    int badLine = 0;
    std::string error;
};

Loaded LoadFile(const std::string& path) {
    Loaded result;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return result;
        result.state = LoadState::Unreadable;
        result.error = std::strerror(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        result.state = LoadState::Unreadable;
        result.error = std::strerror(errno);
        return result;
    }
    result.identity = IdentityOf(info);
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            result.state = LoadState::Unreadable;
            result.error = std::strerror(errno);
            return result;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    if (!Parse(text, &result.store, &result.badLine)) {
        // The values that read are kept: a save writes them back, the damaged lines stay in
        // the backup of the whole file.
        result.state = LoadState::Corrupt;
        return result;
    }
    result.state = LoadState::Good;
    return result;
}

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

void SyncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

// Writes the file beside the store and renames it over, so readers see the old or the new
// file, never part of one.
bool ReplaceFile(const std::string& path, std::string_view content) {
    std::string temp = path + ".tmp." + std::to_string(::getpid());
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        std::fprintf(stderr, "registry: cannot write %s: %s\n", temp.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    int savedErrno = errno;
    ok = fd.Close() && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (ok) savedErrno = errno;
        std::fprintf(stderr, "registry: cannot save %s: %s\n", path.c_str(),
                     std::strerror(savedErrno));
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(std::filesystem::path(path).parent_path());
    return true;
}

// Takes the store's lock, waiting a bounded time: a process that holds it for ever (stopped in
// a debugger, hung) must not hang every other user of the settings.
bool WaitForLock(int fd, const std::string& lockPath) {
    auto deadline = std::chrono::steady_clock::now() + kLockWait;
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            std::fprintf(stderr, "registry: cannot lock %s: %s\n", lockPath.c_str(),
                         std::strerror(errno));
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr,
                         "registry: another process holds the lock %s; gave up waiting after %d "
                         "seconds, the setting was not saved\n",
                         lockPath.c_str(), static_cast<int>(kLockWait.count()));
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return true;
}

// Moves a damaged store aside so that the write that replaces it loses nothing.
bool KeepBackup(const std::string& path, const Loaded& loaded) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string backup = path + ".bad-" + stamp;
    for (int n = 1; std::filesystem::exists(backup); ++n) {
        backup = path + ".bad-" + stamp + "-" + std::to_string(n);
    }
    if (::rename(path.c_str(), backup.c_str()) != 0) {
        std::fprintf(stderr, "registry: %s is damaged and cannot be moved to %s (%s); not saving\n",
                     path.c_str(), backup.c_str(), std::strerror(errno));
        return false;
    }
    if (loaded.state == LoadState::Corrupt) {
        std::fprintf(stderr,
                     "registry: %s is damaged (line %d); kept it as %s and saved what could be "
                     "read\n",
                     path.c_str(), loaded.badLine, backup.c_str());
    } else {
        std::fprintf(stderr,
                     "registry: %s cannot be read (%s); kept it as %s and started a new one\n",
                     path.c_str(), loaded.error.c_str(), backup.c_str());
    }
    return true;
}

// Snapshots of each store file, re-read only when the file changed on disk.
class StoreCache {
public:
    static StoreCache& Get() {
        static StoreCache* cache = new StoreCache;  // outlives static destructors of callers
        return *cache;
    }

    template <typename Fn>
    auto Read(Root root, Fn&& fn) {
        std::lock_guard lock(mutex_);
        std::string path = StorePath(root);
        Entry& entry = entries_[path];
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            entry = Entry{};
            entry.missing = true;
        } else if (entry.missing || !(IdentityOf(info) == entry.identity)) {
            Loaded loaded = LoadFile(path);
            FileIdentity identity = IdentityOf(info);
            if (loaded.state == LoadState::Corrupt || loaded.state == LoadState::Unreadable) {
                if (!entry.reportedBad || !(identity == *entry.reportedBad)) {
                    if (loaded.state == LoadState::Corrupt) {
                        std::fprintf(stderr,
                                     "registry: %s is damaged (line %d); reading the rest of it\n",
                                     path.c_str(), loaded.badLine);
                    } else {
                        std::fprintf(stderr,
                                     "registry: %s cannot be read (%s); reading it as empty\n",
                                     path.c_str(), loaded.error.c_str());
                    }
                    entry.reportedBad = identity;
                }
            }
            entry.store = std::move(loaded.store);
            entry.identity = identity;
            entry.missing = false;
        }
        const Store& store = entry.store;
        return fn(store);
    }

    enum class Change { Failed, Unchanged, Changed };

    // Re-reads the store under the lock file, applies the change and saves it.
    bool Modify(Root root, const std::function<Change(Store&)>& change) {
        std::lock_guard lock(mutex_);
        std::string path = StorePath(root);
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        std::string lockPath = path + ".lock";
        UniqueFd lockFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (lockFd.get() < 0) {
            std::fprintf(stderr, "registry: cannot open %s: %s\n", lockPath.c_str(),
                         std::strerror(errno));
            return false;
        }
        if (!WaitForLock(lockFd.get(), lockPath)) return false;
        Loaded loaded = LoadFile(path);
        Change result = change(loaded.store);
        if (result == Change::Failed) return false;
        if (result == Change::Unchanged) return true;
        bool damaged = loaded.state == LoadState::Corrupt || loaded.state == LoadState::Unreadable;
        if (damaged && !KeepBackup(path, loaded)) return false;
        if (!ReplaceFile(path, Serialize(root, loaded.store))) return false;
        Entry& entry = entries_[path];
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            entry.identity = IdentityOf(info);
            entry.missing = false;
            entry.store = std::move(loaded.store);
        } else {
            entry = Entry{};
            entry.missing = true;
        }
        return true;
    }

private:
    struct Entry {
        bool missing = true;
        FileIdentity identity;
        std::optional<FileIdentity> reportedBad;
        Store store;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

using Change = StoreCache::Change;

}  // namespace

std::string StorePath(Root root) {
    return (ConfigHome() / "Corvane" / (std::string(RootName(root)) + ".reg")).string();
}

std::optional<Key> Key::Open(Root root, std::string_view path) {
    return StoreCache::Get().Read(root, [&](const Store& store) -> std::optional<Key> {
        const KeyData* key = store.Find(path);
        if (!key) return std::nullopt;
        return Key(root, key->path);
    });
}

std::optional<Key> Key::Create(Root root, std::string_view path) {
    if (!SplitPath(path)) return std::nullopt;
    if (auto existing = Open(root, path)) return existing;
    std::string created;
    bool ok = StoreCache::Get().Modify(root, [&](Store& store) {
        bool isNew = false;
        KeyData* key = store.Create(path, &isNew);
        if (!key) return Change::Failed;
        created = key->path;
        return isNew ? Change::Changed : Change::Unchanged;
    });
    if (!ok) return std::nullopt;
    return Key(root, created);
}

std::optional<uint32_t> Key::ReadDword(std::string_view name) const {
    auto value = ReadValue(name);
    if (!value) return std::nullopt;
    if (const auto* number = std::get_if<uint32_t>(&value->data)) return *number;
    return std::nullopt;
}

std::optional<std::string> Key::ReadString(std::string_view name) const {
    auto value = ReadValue(name);
    if (!value) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&value->data)) return std::move(*text);
    return std::nullopt;
}

std::optional<Value> Key::ReadValue(std::string_view name) const {
    return StoreCache::Get().Read(root_, [&](const Store& store) -> std::optional<Value> {
        const KeyData* key = store.Find(path_);
        if (!key) return std::nullopt;
        const Value* value = key->Find(name);
        if (!value) return std::nullopt;
        return *value;
    });
}

namespace {
Change SetValue(Store& store, const std::string& path, std::string_view name,
                std::variant<uint32_t, std::string> data) {
    KeyData* key = store.Find(path);
    if (!key) return Change::Failed;  // deleted meanwhile, as a deleted key on Windows
    if (Value* existing = key->Find(name)) {
        if (existing->data == data) return Change::Unchanged;
        existing->data = std::move(data);
    } else {
        key->values.push_back(Value{std::string(name), std::move(data)});
    }
    return Change::Changed;
}
}  // namespace

bool Key::WriteDword(std::string_view name, uint32_t value) {
    return StoreCache::Get().Modify(
        root_, [&](Store& store) { return SetValue(store, path_, name, value); });
}

bool Key::WriteString(std::string_view name, std::string_view value) {
    return StoreCache::Get().Modify(
        root_, [&](Store& store) { return SetValue(store, path_, name, std::string(value)); });
}

bool Key::DeleteValue(std::string_view name) {
    return StoreCache::Get().Modify(root_, [&](Store& store) {
        KeyData* key = store.Find(path_);
        if (!key) return Change::Failed;
        for (auto it = key->values.begin(); it != key->values.end(); ++it) {
            if (SameName(it->name, name)) {
                key->values.erase(it);
                return Change::Changed;
            }
        }
        return Change::Failed;
    });
}

bool Key::DeleteSubKey(std::string_view relativePath) {
    auto parts = SplitPath(relativePath);
    if (!parts || parts->empty()) return false;
    std::string full = JoinPath(path_, JoinPath(*parts, parts->size()));
    return StoreCache::Get().Modify(root_, [&](Store& store) {
        return store.EraseTree(full) ? Change::Changed : Change::Failed;
    });
}

std::vector<std::string> Key::SubKeyNames() const {
    return StoreCache::Get().Read(root_, [&](const Store& store) {
        if (!store.Find(path_)) return std::vector<std::string>{};
        return store.Children(path_);
    });
}

std::vector<Value> Key::Values() const {
    return StoreCache::Get().Read(root_, [&](const Store& store) {
        const KeyData* key = store.Find(path_);
        return key ? key->values : std::vector<Value>{};
    });
}

std::optional<Key> Key::OpenSubKey(std::string_view relativePath) const {
    if (!SplitPath(relativePath)) return std::nullopt;
    return Open(root_, JoinPath(path_, relativePath));
}

std::optional<Key> Key::CreateSubKey(std::string_view relativePath) const {
    if (!SplitPath(relativePath)) return std::nullopt;
    return Create(root_, JoinPath(path_, relativePath));
}

}  // namespace quil::registry
