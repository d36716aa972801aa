#pragma once

// A temporary file for standard input or output: the grabber libraries read and write files
// they can seek in, so "-" goes through one of these. Removed when destroyed.

#include <string>

namespace quil::grab {

class SpoolFile {
public:
    explicit SpoolFile(const std::string& extension);
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    const std::string& path() const { return path_; }
    bool FillFrom(int fd);
    bool CopyTo(int fd) const;

private:
    std::string path_;
};

}  // namespace quil::grab
