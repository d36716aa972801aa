// quilgrab sniff: the stream URLs of live traffic or of a capture file, each printed once.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

#include "app/sniffer/stream_sniffer.h"
#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

struct SniffOptions {
    std::string adapter;
    std::string readPath;
    std::optional<int> seconds;
    bool list = false;
};

// Shared by the capture thread and the main thread.
class UrlPrinter {
public:
    void Print(std::string_view url) {
        std::lock_guard lock(mutex_);
        if (!printed_.emplace(url).second) return;
        std::fwrite(url.data(), 1, url.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
    std::unordered_set<std::string> printed_;
};

int ReadCaptureFile(const std::string& path) {
    UrlPrinter printer;
    std::string error;
    long long packets = StreamSniffer::ScanCaptureFile(
        path, [&](std::string_view url) { printer.Print(url); }, &error);
    if (packets < 0) {
        std::fprintf(stderr, "quilgrab sniff: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

int CaptureLive(const std::string& adapter, std::optional<int> seconds) {
    // The capture thread inherits the blocked signals, so they all come to the sigtimedwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    UrlPrinter printer;
    StreamSniffer sniffer([&](std::string_view url) { printer.Print(url); });
    if (!sniffer.StartCapture(adapter)) return 1;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
    const timespec checkEvery{0, 200'000'000};
    while (sniffer.Capturing()) {
        if (sigtimedwait(&stopSignals, nullptr, &checkEvery) > 0) break;
        if (seconds && std::chrono::steady_clock::now() >= deadline) break;
    }
    bool failed = !sniffer.Capturing();
    sniffer.StopCapture();
    return failed ? 1 : 0;
}

}  // namespace

CommandRun AddSniffCommand(CLI::App& program) {
    auto options = std::make_shared<SniffOptions>();
    CLI::App* command = program.add_subcommand(
        "sniff", "print the stream URLs seen on a network adapter or in a capture file");
    auto* adapter =
        command->add_option("--adapter", options->adapter,
                            "capture on this adapter until interrupted (or for N seconds)");
    auto* read =
        command->add_option("--read", options->readPath, "scan a capture file in libpcap format")
            ->type_name("CAPTURE");
    auto* list = command->add_flag("--list", options->list, "list the adapters");
    adapter->excludes(read)->excludes(list);
    read->excludes(list);
    command->add_option("-t,--seconds", options->seconds, "stop the capture after N seconds")
        ->check(WholeRange(1, 86400 * 366))
        ->needs(adapter);
    command->footer(
        std::string(
            "Prints each stream URL found in the packets once, in the order first seen.\n") +
        kExitCodesText);
    return [options, adapter, read, list] {
        if (adapter->count() + read->count() + list->count() != 1)
            throw CLI::ValidationError("sniff", "give one of --adapter, --read or --list");
        if (options->list) return StreamSniffer::EnumerateAdapters().empty() ? 1 : 0;
        if (!options->readPath.empty()) return ReadCaptureFile(options->readPath);
        return CaptureLive(options->adapter, options->seconds);
    };
}

}  // namespace quil::grab
