#include "app/settings/settings_key.h"

#include <cstring>

#include "platform/com/strings.h"

namespace quil::settings {

SettingsKey::SettingsKey(registry::Root parent, std::string_view path)
    : parent_(parent), path_(Utf8Prefix(path, kTextBytes - 1)) {}

SettingsKey SettingsKey::ForLoad() {
    SettingsKey key;
    if (!key.Open()) key.Create();
    return key;
}

SettingsKey SettingsKey::ForSave() {
    SettingsKey key;
    key.Create();
    return key;
}

bool SettingsKey::Open() {
    key_ = registry::Key::Open(parent_, path_);
    return IsOpen();
}

bool SettingsKey::Create() {
    key_ = registry::Key::Create(parent_, path_);
    return IsOpen();
}

int SettingsKey::ReadBool(std::string_view name, int fallback) const {
    if (!key_) return fallback;
    auto value = key_->ReadDword(name);
    if (!value) return fallback;
    return *value != 0 ? 1 : 0;
}

int32_t SettingsKey::ReadNumber(std::string_view name, int32_t fallback) const {
    if (!key_) return fallback;
    auto value = key_->ReadDword(name);
    return value ? static_cast<int32_t>(*value) : fallback;
}

std::string SettingsKey::ReadString(std::string_view name, std::string_view fallback) const {
    std::string fallbackText(Utf8Prefix(fallback, kTextBytes - 1));
    if (!key_) return fallbackText;
    auto value = key_->ReadString(name);
    if (!value) return fallbackText;
    // A C reader of the stored text would stop at its first NUL.
    value->resize(std::strlen(value->c_str()));
    if (value->size() > kTextBytes - 1) return fallbackText;
    return *value;
}

size_t SettingsKey::ReadString(std::string_view name, std::span<char, kTextBytes> buffer,
                               std::string_view fallback) const {
    return CopyBounded(ReadString(name, fallback), buffer.data(), buffer.size());
}

void SettingsKey::WriteNumber(std::string_view name, int32_t value) {
    if (key_) key_->WriteDword(name, static_cast<uint32_t>(value));
}

void SettingsKey::WriteString(std::string_view name, std::string_view value) {
    if (!key_) return;
    value = value.substr(0, value.find('\0'));
    key_->WriteString(name, Utf8Prefix(value, kTextBytes - 1));
}

}  // namespace quil::settings
