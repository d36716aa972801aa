#include "app/settings/wma_profile_catalogue.h"

#include <cstring>

#include "app/settings/option_tables.h"

namespace quil::settings {

namespace {

// Bounds against a grabber that reports nonsense, so building never runs away.
constexpr int kMaxProfilesPerVersion = 1024;
constexpr int32_t kMaxTextLength = 64 * 1024;

int VersionSlot(int32_t version) {
    for (size_t i = 0; i < kWmaVersions.size(); ++i) {
        if (kWmaVersions[i] == version) return static_cast<int>(i);
    }
    return -1;
}

bool ReadEntry(WmaProfileSource& source, int version, int index, WmaProfileEntry* entry) {
    engine::WmaProfileInfo info{};
    if (!source.GetProfileInfo(version, index, &info) || info.audioOnly != 1) return false;
    int32_t nameLength = info.nameLength, descriptionLength = info.descriptionLength;
    if (nameLength < 0 || nameLength > kMaxTextLength || descriptionLength < 0 ||
        descriptionLength > kMaxTextLength)
        return false;

    std::vector<char> name(static_cast<size_t>(nameLength) + 1, '\0');
    std::vector<char> description(static_cast<size_t>(descriptionLength) + 1, '\0');
    info = {};
    info.name = name.data();
    info.description = description.data();
    if (!source.GetProfileInfo(version, index, &info) || info.audioOnly != 1) return false;
    // The profile changed between the calls; its texts may not fit what was allocated.
    if (info.nameLength != nameLength || info.descriptionLength != descriptionLength) return false;
    name.back() = '\0';
    description.back() = '\0';

    entry->valid = true;
    entry->nameLength = nameLength;
    entry->name = name.data();
    entry->descriptionLength = descriptionLength;
    entry->description = description.data();
    return true;
}

}  // namespace

WmaProfileCatalogue WmaProfileCatalogue::Build(WmaProfileSource& source) {
    WmaProfileCatalogue catalogue;
    for (int32_t version : kWmaVersions) {
        int count = 0;
        if (!source.GetProfileCount(version, &count)) continue;
        if (count > kMaxProfilesPerVersion) count = kMaxProfilesPerVersion;
        for (int index = 0; index < count; ++index) {
            WmaProfileEntry entry;
            if (ReadEntry(source, version, index, &entry)) catalogue.Add(version, std::move(entry));
        }
    }
    return catalogue;
}

std::vector<WmaProfileEntry>* WmaProfileCatalogue::MutableList(int32_t version) {
    int slot = VersionSlot(version);
    return slot < 0 ? nullptr : &lists_[slot];
}

std::span<const WmaProfileEntry> WmaProfileCatalogue::List(int32_t version) const {
    int slot = VersionSlot(version);
    if (slot < 0) return {};
    return lists_[slot];
}

void WmaProfileCatalogue::Add(int32_t version, WmaProfileEntry entry) {
    if (auto* list = MutableList(version)) list->push_back(std::move(entry));
}

bool WmaProfileCatalogue::Empty() const {
    for (const auto& list : lists_) {
        if (!list.empty()) return false;
    }
    return true;
}

std::string WmaProfileCatalogue::LastName(int32_t version) const {
    auto list = List(version);
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if (it->valid) return it->name;
    }
    return {};
}

const WmaProfileEntry* WmaProfileCatalogue::Find(int32_t version, std::string_view name) const {
    for (const auto& entry : List(version)) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

}  // namespace quil::settings
