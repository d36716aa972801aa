#include "update/part_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quil::update {

PartFile::PartFile(std::string finalPath)
    : finalPath_(std::move(finalPath)), partPath_(finalPath_ + ".part") {}

PartFile::~PartFile() {
    Keep();
}

std::string PartFile::Describe(const char* action, const std::string& path) const {
    return std::string(action) + " " + path + ": " + std::strerror(errno);
}

bool PartFile::Create(std::string& error) {
    Keep();
    descriptor_ = open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor_ < 0) {
        error = Describe("Cannot create", partPath_);
        return false;
    }
    created_ = true;
    return true;
}

bool PartFile::Write(std::span<const char> bytes, std::string& error) {
    while (!bytes.empty()) {
        ssize_t written = write(descriptor_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            error = Describe("Cannot write", partPath_);
            return false;
        }
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
}

bool PartFile::CloseFile(std::string* error) {
    if (descriptor_ < 0) return true;
    int descriptor = descriptor_;
    descriptor_ = -1;
    // Delayed write errors (a full disk on a network file system) show up here.
    bool ok = true;
    if (error && fsync(descriptor) != 0 && errno != EINVAL) {
        *error = Describe("Cannot write", partPath_);
        ok = false;
    }
    if (close(descriptor) != 0 && ok && error && errno != EINTR) {
        *error = Describe("Cannot write", partPath_);
        ok = false;
    }
    return ok;
}

bool PartFile::Commit(std::string& error) {
    if (!CloseFile(&error)) return false;
    if (std::rename(partPath_.c_str(), finalPath_.c_str()) != 0) {
        error = Describe("Cannot rename to", finalPath_);
        return false;
    }
    created_ = false;
    return true;
}

void PartFile::Keep() {
    CloseFile(nullptr);
}

void PartFile::Discard() {
    CloseFile(nullptr);
    if (std::exchange(created_, false)) std::remove(partPath_.c_str());
}

}  // namespace quil::update
