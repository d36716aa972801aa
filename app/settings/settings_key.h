#pragma once

// The program's settings key, HKEY_LOCAL_MACHINE "SOFTWARE\Corvane\Quillet". Every read has a
// default: a closed key, a missing value, a value of the other type or a text too long for the
// 260-byte buffers of the program's interfaces all read as the default. Writes are not
// checked; a failed write leaves the old value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace quil::settings {

inline constexpr std::string_view kSettingsKeyPath = "SOFTWARE\\Corvane\\Quillet";
// Stored texts hold at most 259 bytes and their terminator.
constexpr size_t kTextBytes = 260;

class SettingsKey {
public:
    explicit SettingsKey(registry::Root parent = registry::Root::LocalMachine,
                         std::string_view path = kSettingsKeyPath);

    // Loaders open and fall back to create; savers create (which opens an existing key).
    static SettingsKey ForLoad();
    static SettingsKey ForSave();

    bool Open();
    bool Create();
    bool IsOpen() const { return key_.has_value(); }
    void Close() { key_.reset(); }

    int ReadBool(std::string_view name, int fallback) const;
    int32_t ReadNumber(std::string_view name, int32_t fallback) const;
    std::string ReadString(std::string_view name, std::string_view fallback) const;
    // Fills the buffer (always terminated) and returns the length copied.
    size_t ReadString(std::string_view name, std::span<char, kTextBytes> buffer,
                      std::string_view fallback) const;

    void WriteNumber(std::string_view name, int32_t value);
    // Texts longer than 259 bytes are cut on a character boundary.
    void WriteString(std::string_view name, std::string_view value);

private:
    registry::Root parent_;
    std::string path_;
    std::optional<registry::Key> key_;
};

}  // namespace quil::settings
