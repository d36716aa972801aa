#include "app/scheduler/profile_file.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "app/scheduler/schedule_task.h"
#include "platform/profile/profile.h"
#include "platform/registry/user_folders.h"

namespace quil::scheduler {

namespace {

std::string ProgramName() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("Quilmain") : self.filename().string();
}

std::filesystem::path BaseFolder(bool programFolder) {
    if (programFolder) return ProgramFolder();
    std::error_code error;
    auto current = std::filesystem::current_path(error);
    return error ? std::filesystem::path("/") : current;
}

// atoi: leading blanks, a sign and the digits up to the first other character; wraps where a C
// int would overflow instead of being undefined.
int64_t Atoi(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint64_t number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = number * 10u + static_cast<uint64_t>(text[i] - '0');
    return static_cast<int64_t>(negative ? 0u - number : number);
}

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

}  // namespace

// The profile functions' reading rules: sections and keys without regard to ASCII case, names and
// values trimmed of blanks, one pair of matching quotes stripped, the first section and key of a
// name win, comment lines and lines without "=" are no keys.
class ProfileFile::Snapshot {
public:
    explicit Snapshot(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::map<std::string, std::string>* section = nullptr;
        size_t start = 0;
        while (start < content.size()) {
            size_t stop = content.find_first_of("\r\n", start);
            if (stop == std::string::npos) stop = content.size();
            std::string_view line = Trim(std::string_view(content).substr(start, stop - start));
            start = stop + 1;
            if (stop < content.size() && content[stop] == '\r' && start < content.size() &&
                content[start] == '\n')
                ++start;
            if (line.empty() || line[0] == ';') continue;
            if (line[0] == '[') {
                std::string_view name = line.substr(1);
                name = name.substr(0, name.find(']'));
                // A repeated section name reads from its first section only.
                auto [it, added] = sections_.try_emplace(Folded(Trim(name)));
                section = added ? &it->second : nullptr;
                continue;
            }
            size_t equals = line.find('=');
            if (!section || equals == std::string_view::npos) continue;
            std::string_view value = Trim(line.substr(equals + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            section->try_emplace(Folded(Trim(line.substr(0, equals))), value);
        }
    }

    const std::string* Find(std::string_view section, std::string_view key) const {
        auto found = sections_.find(Folded(Trim(section)));
        if (found == sections_.end()) return nullptr;
        auto value = found->second.find(Folded(Trim(key)));
        return value == found->second.end() ? nullptr : &value->second;
    }

private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

ProfileFile::ProfileFile(ProfileFile&&) noexcept = default;
ProfileFile::~ProfileFile() = default;

void ProfileFile::TakeSnapshot() {
    snapshot_ = std::make_unique<Snapshot>(path_);
}

ProfileFile::ProfileFile(std::string_view path, std::string_view section, bool programFolder)
    : path_(path), section_(section) {
    if (path_.empty()) {
        path_ = (BaseFolder(programFolder) / (ProgramName() + ".ini")).string();
    } else if (std::filesystem::path(path_).is_relative()) {
        path_ = (BaseFolder(programFolder) / path_).string();
    }
    if (section_.empty()) section_ = ProgramName();
}

std::string ProfileFile::Read(const char* key, const std::string& fallback,
                              size_t bufferSize) const {
    // One byte more than kept, to see whether the cut falls inside a character.
    const size_t kept = std::max<size_t>(bufferSize, 1) - 1;
    if (snapshot_) {
        std::string_view text = fallback;
        if (const std::string* value = snapshot_->Find(section_, key)) {
            text = *value;
        } else {
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
        }
        return std::string(CutOnCharacter(text.substr(0, std::min(text.size(), kept + 1)), kept));
    }
    std::vector<char> buffer(kept + 2);
    DWORD got = GetPrivateProfileStringA(section_.c_str(), key, fallback.c_str(), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), path_.c_str());
    return std::string(CutOnCharacter(std::string_view(buffer.data(), got), kept));
}

void ProfileFile::Write(const char* key, const std::string& text) {
    snapshot_.reset();
    if (!WritePrivateProfileStringA(section_.c_str(), key, text.c_str(), path_.c_str()))
        writeFailed_ = true;
}

int64_t ProfileFile::LoadNumber(const char* key, int64_t current) const {
    return Atoi(Read(key, std::to_string(current), kBufferSize));
}

void ProfileFile::Exchange(Direction direction, const char* key, std::string& value,
                           size_t bufferSize) {
    if (direction == Direction::kStore) {
        Write(key, value);
    } else {
        value = Read(key, value, bufferSize);
    }
}

void ProfileFile::Exchange(Direction direction, const char* key, int32_t& value) {
    if (direction == Direction::kStore) {
        Write(key, std::to_string(value));
    } else {
        value = static_cast<int32_t>(LoadNumber(key, value));
    }
}

void ProfileFile::Exchange(Direction direction, const char* key, uint32_t& value) {
    // "%d" of an unsigned field: ids above 2^31 are written negative and read back the same.
    if (direction == Direction::kStore) {
        Write(key, std::to_string(static_cast<int32_t>(value)));
    } else {
        value = static_cast<uint32_t>(LoadNumber(key, static_cast<int32_t>(value)));
    }
}

void ProfileFile::Exchange(Direction direction, const char* key, uint16_t& value) {
    if (direction == Direction::kStore) {
        Write(key, std::to_string(value));
    } else {
        value = static_cast<uint16_t>(LoadNumber(key, value));
    }
}

}  // namespace quil::scheduler
