#include "tools/quilgrab/batch.h"
#include "tools/quilgrab/commands.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tools/quilgrab/interrupt.h"

namespace quil::grab {

namespace {

struct Slot {
    double position = 0;
    double duration = 0;
    bool running = false;
};

}  // namespace

std::vector<ItemReport> RunBatch(const std::vector<BatchItem>& items, int jobs, bool quiet,
                                 const ItemRunner& run) {
    std::vector<ItemReport> reports(items.size());
    std::vector<Slot> slots(items.size());
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<size_t> next{0};
    int running = 0;
    size_t exited = 0;
    ProgressLine line(quiet);

    auto worker = [&] {
        while (!Interrupted()) {
            size_t index = next.fetch_add(1);
            if (index >= items.size()) break;
            {
                std::lock_guard lock(mutex);
                slots[index].running = true;
                ++running;
            }
            ItemReport report = run(items[index], [&, index](double position, double duration) {
                std::lock_guard lock(mutex);
                slots[index].position = position;
                slots[index].duration = duration;
            });
            std::lock_guard lock(mutex);
            reports[index] = std::move(report);
            slots[index].running = false;
            --running;
            changed.notify_all();
        }
        std::lock_guard lock(mutex);
        ++exited;
        changed.notify_all();
    };
    size_t workerCount = std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), items.size());
    std::vector<std::thread> workers;
    auto started = std::chrono::steady_clock::now();
    for (size_t i = 0; i < workerCount; ++i) workers.emplace_back(worker);
    {
        std::unique_lock lock(mutex);
        while (exited < workerCount) {
            changed.wait_for(lock, std::chrono::milliseconds(200));
            ProgressFigures figures;
            size_t done = 0;
            for (size_t i = 0; i < items.size(); ++i) {
                figures.position += slots[i].position;
                figures.duration += slots[i].duration;
                if (reports[i].state != ItemState::kNotStarted) ++done;
            }
            // Inputs not yet opened count as long as the average of those seen.
            size_t seen = 0;
            for (const Slot& slot : slots) seen += slot.duration > 0 ? 1 : 0;
            if (seen > 0 && seen < items.size())
                figures.duration += figures.duration / static_cast<double>(seen) *
                                    static_cast<double>(items.size() - seen);
            figures.elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (items.size() == 1)
                figures.label = items[0].label;
            else
                figures.label = std::to_string(done) + "/" + std::to_string(items.size()) +
                                " done, " + std::to_string(running) + " running";
            line.Draw(figures);
        }
    }
    for (auto& thread : workers) thread.join();
    line.Clear();
    return reports;
}

int ReportBatch(const std::vector<BatchItem>& items, const std::vector<ItemReport>& reports,
                bool quiet) {
    int failed = 0;
    std::vector<std::string> notDone;
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemReport& report = reports[i];
        switch (report.state) {
            case ItemState::kDone:
                if (FinishOutput(report.output, 0) != 0) ++failed;
                break;
            case ItemState::kCut:
                if (FinishOutput(report.output, 0) != 0) {
                    ++failed;
                    break;
                }
                std::fprintf(stderr,
                             "quilgrab: %s was cut at %s by the interruption; %s keeps "
                             "what was written\n",
                             items[i].label.c_str(), ClockText(report.audioSeconds).c_str(),
                             report.output.c_str());
                break;
            case ItemState::kFailed:
                ++failed;
                std::fprintf(stderr, "quilgrab: %s\n", report.message.c_str());
                break;
            case ItemState::kSkipped:
                if (!quiet) std::fprintf(stderr, "quilgrab: %s\n", report.message.c_str());
                break;
            case ItemState::kNotStarted:
                notDone.push_back(items[i].label);
                break;
        }
    }
    std::fflush(stdout);
    if (Interrupted()) {
        if (!notDone.empty()) {
            std::string list;
            for (const auto& label : notDone) list += (list.empty() ? "" : ", ") + label;
            std::fprintf(stderr, "quilgrab: interrupted; not done: %s\n", list.c_str());
        } else {
            std::fprintf(stderr, "quilgrab: interrupted\n");
        }
        return InterruptedExitStatus();
    }
    return failed ? exit_code::kSomeFailed : exit_code::kDone;
}

}  // namespace quil::grab
