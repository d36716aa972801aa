#pragma once

#include <span>
#include <string>

namespace quil::update {

// A download's file under its final path followed by ".part", renamed onto the final path only
// once complete, so a reader of the final path never sees half a file.
class PartFile {
public:
    explicit PartFile(std::string finalPath);
    ~PartFile();  // keeps whatever was written
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    const std::string& PartPath() const { return partPath_; }
    bool IsOpen() const { return descriptor_ >= 0; }

    // Creates or truncates the part file. On failure the error text says why.
    bool Create(std::string& error);
    bool Write(std::span<const char> bytes, std::string& error);
    // Flushes to disk, closes and renames the part file onto the final path.
    bool Commit(std::string& error);
    // Closes, leaving the part file in place.
    void Keep();
    // Closes and removes the part file, if this object created it.
    void Discard();

private:
    bool CloseFile(std::string* error);
    std::string Describe(const char* action, const std::string& path) const;

    std::string finalPath_;
    std::string partPath_;
    int descriptor_ = -1;
    bool created_ = false;
};

}  // namespace quil::update
