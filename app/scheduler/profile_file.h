#pragma once

// Typed access to one section of an initialisation file through the profile functions: the same
// call loads a value (the current one is the default) or stores it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quil::scheduler {

enum class Direction { kLoad, kStore };

class ProfileFile {
public:
    // An empty path names "<program>.ini" in the program folder (programFolder true) or the
    // current folder; a relative path is taken from the same folder. An empty section becomes the
    // program's name.
    ProfileFile(std::string_view path, std::string_view section, bool programFolder);

    ProfileFile(ProfileFile&&) noexcept;
    ~ProfileFile();

    // Reads the file once and answers later loads from what it held, as GetPrivateProfileStringA
    // would: each of those calls reads and parses the whole file, which makes loading a long
    // schedule quadratic. A store drops the snapshot.
    void TakeSnapshot();

    const std::string& path() const { return path_; }
    const std::string& section() const { return section_; }
    void SetSection(std::string_view section) { section_ = section; }

    // Texts come back cut to `bufferSize` - 1 bytes, on a UTF-8 character boundary.
    void Exchange(Direction direction, const char* key, std::string& value,
                  size_t bufferSize = kBufferSize);
    // Numbers are stored as "%d" and loaded as atoi does, wrapping to the field's width.
    void Exchange(Direction direction, const char* key, int32_t& value);
    void Exchange(Direction direction, const char* key, uint32_t& value);
    void Exchange(Direction direction, const char* key, uint16_t& value);

    // Whether any store failed since construction.
    bool WriteFailed() const { return writeFailed_; }

    static constexpr size_t kBufferSize = 256;

private:
    // Loads the text of the key with `fallback` as the default.
    std::string Read(const char* key, const std::string& fallback, size_t bufferSize) const;
    void Write(const char* key, const std::string& text);
    int64_t LoadNumber(const char* key, int64_t current) const;

    class Snapshot;

    std::string path_;
    std::string section_;
    bool writeFailed_ = false;
    std::unique_ptr<Snapshot> snapshot_;
};

}  // namespace quil::scheduler
