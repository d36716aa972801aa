#pragma once

// Gathers a file's small writes into large ones. A run of writes that follow each other in the
// file waits in memory until it fills the buffer or its oldest byte is kMaxAge old (the owner
// checks Due on each write and from a timer); any other write first puts the held run into the
// file, so the file always receives bytes in the order they were written. A live recording
// therefore keeps at most kMaxAge of audio only in memory.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/com/types.h"

namespace quil::filters {

class WriteBehind {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kCapacity = 256 * 1024;
    static constexpr std::chrono::milliseconds kMaxAge{200};

    // Starts writing to fd (not owned), holding nothing.
    void Attach(int fd);

    // Writes length bytes at offset, now or later. A failure is the errno of the write that
    // failed (what was held is dropped then, as a failed write's bytes are).
    HRESULT Write(const BYTE* data, size_t length, uint64_t offset, Clock::time_point now);
    // Puts everything held into the file.
    HRESULT Flush();

    bool Empty() const { return held_.empty(); }
    // True when something is held and its oldest byte is kMaxAge old at now.
    bool Due(Clock::time_point now) const { return !Empty() && now - since_ >= kMaxAge; }
    // When what is held now becomes due.
    Clock::time_point Deadline() const { return since_ + kMaxAge; }

private:
    HRESULT WriteAll(const BYTE* data, size_t length, uint64_t offset);

    int fd_ = -1;
    std::vector<BYTE> held_;
    uint64_t heldAt_ = 0;      // file offset of held_[0]
    Clock::time_point since_;  // when the oldest held byte was written
};

}  // namespace quil::filters
