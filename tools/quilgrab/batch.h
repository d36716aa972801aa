#pragma once

// Runs a list of grabs on N worker threads, each with its own grabber, while the calling thread
// draws one combined progress line. The outputs do not depend on N. When the run is
// interrupted, the running grabs finish their files and the inputs not started are listed.

#include <functional>
#include <string>
#include <vector>

#include "tools/quilgrab/media_grab.h"
#include "tools/quilgrab/progress.h"

namespace quil::grab {

struct BatchItem {
    std::string input;
    std::string label;  // shown in messages
};

enum class ItemState { kNotStarted, kDone, kCut, kFailed, kSkipped };

struct ItemReport {
    ItemState state = ItemState::kNotStarted;
    std::string output;
    std::string message;  // why it failed or was skipped
    double audioSeconds = 0;
};

// Grabs one item (on a worker thread); progress goes to the callback.
using ItemRunner =
    std::function<ItemReport(const BatchItem& item, std::function<void(double, double)> progress)>;

std::vector<ItemReport> RunBatch(const std::vector<BatchItem>& items, int jobs, bool quiet,
                                 const ItemRunner& run);

// Prints the final lines (outputs on standard output, problems on standard error) and returns
// the exit status: 0 all done, 1 some failed, 130/143 interrupted.
int ReportBatch(const std::vector<BatchItem>& items, const std::vector<ItemReport>& reports,
                bool quiet);

}  // namespace quil::grab
