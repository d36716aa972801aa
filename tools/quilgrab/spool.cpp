#include "tools/quilgrab/spool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace quil::grab {

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool Copy(int from, int to) {
    std::vector<char> buffer(1 << 16);
    while (true) {
        ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(got))) return false;
    }
}

}  // namespace

SpoolFile::SpoolFile(const std::string& extension) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder && *folder ? folder : "/tmp") + "/quilgrab-XXXXXX" + extension;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd >= 0) {
        ::close(fd);
        path_ = name.data();
    }
}

SpoolFile::~SpoolFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool SpoolFile::FillFrom(int fd) {
    if (path_.empty()) return false;
    int out = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) return false;
    bool copied = Copy(fd, out);
    return ::close(out) == 0 && copied;
}

bool SpoolFile::CopyTo(int fd) const {
    int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    bool copied = Copy(in, fd);
    ::close(in);
    return copied;
}

}  // namespace quil::grab
