#include "app/scheduler/profile_file.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
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

}  // namespace

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
    std::vector<char> buffer(kept + 2);
    DWORD got = GetPrivateProfileStringA(section_.c_str(), key, fallback.c_str(), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), path_.c_str());
    return std::string(CutOnCharacter(std::string_view(buffer.data(), got), kept));
}

void ProfileFile::Write(const char* key, const std::string& text) {
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
