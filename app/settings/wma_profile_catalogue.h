#pragma once

// The Windows Media profiles the program offers, one list per version 4, 7, 8 and 9, asked once
// of a grabber: GetProfileCount per version, then GetProfileInfo twice per profile (first for
// the valid flag and the lengths, then with buffers of length + 1 for the texts). Only
// profiles the grabber marks valid (exactly one stream, an audio stream) are kept.

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/grabber_types.h"

namespace quil::settings {

struct WmaProfileEntry {
    bool valid = false;
    int32_t nameLength = 0;
    std::string name;
    int32_t descriptionLength = 0;
    std::string description;
};

// What the catalogue needs of a grabber.
class WmaProfileSource {
public:
    virtual int GetProfileCount(int version, int* count) = 0;
    virtual int GetProfileInfo(int version, int index, engine::WmaProfileInfo* info) = 0;

protected:
    ~WmaProfileSource() = default;
};

template <typename Grabber>
concept ProfileListingGrabber = requires(Grabber& grabber, int value, int* count,
                                         engine::WmaProfileInfo* info) {
    { grabber.GetProfileCount(value, count) } -> std::convertible_to<int>;
    { grabber.GetProfileInfo(value, value, info) } -> std::convertible_to<int>;
};

// Lets any grabber table with the two operations (the CD grabber's) feed the catalogue.
template <ProfileListingGrabber Grabber>
class GrabberProfileSource final : public WmaProfileSource {
public:
    explicit GrabberProfileSource(Grabber& grabber) : grabber_(grabber) {}
    int GetProfileCount(int version, int* count) override {
        return grabber_.GetProfileCount(version, count);
    }
    int GetProfileInfo(int version, int index, engine::WmaProfileInfo* info) override {
        return grabber_.GetProfileInfo(version, index, info);
    }

private:
    Grabber& grabber_;
};

class WmaProfileCatalogue {
public:
    static WmaProfileCatalogue Build(WmaProfileSource& source);
    template <ProfileListingGrabber Grabber>
    static WmaProfileCatalogue BuildFrom(Grabber& grabber) {
        GrabberProfileSource<Grabber> source(grabber);
        return Build(source);
    }

    // Empty for a version other than 4, 7, 8, 9.
    std::span<const WmaProfileEntry> List(int32_t version) const;
    void Add(int32_t version, WmaProfileEntry entry);
    bool Empty() const;

    // The name of the last valid entry of the version's list; empty when there is none.
    std::string LastName(int32_t version) const;
    // The entry whose name equals `name` exactly; null when none does.
    const WmaProfileEntry* Find(int32_t version, std::string_view name) const;

private:
    std::vector<WmaProfileEntry>* MutableList(int32_t version);
    std::vector<WmaProfileEntry> lists_[4];
};

}  // namespace quil::settings
