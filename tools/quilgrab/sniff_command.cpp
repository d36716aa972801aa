// quilgrab sniff: the stream URLs of live traffic or of a capture file, each printed once.

#include <signal.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

#include "app/sniffer/stream_sniffer.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

constexpr const char* kUsage =
    "Usage: quilgrab sniff --adapter NAME [--seconds N]\n"
    "       quilgrab sniff --read FILE.pcap\n"
    "       quilgrab sniff --list\n"
    "Prints each stream URL found in the packets once, in the order first seen.\n"
    "  --adapter NAME  capture on this adapter until interrupted (or for N seconds)\n"
    "  --read FILE     scan a capture file in libpcap format\n"
    "  --list          list the adapters\n";

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

int UsageError(const char* problem) {
    std::fprintf(stderr, "quilgrab sniff: %s\n%s", problem, kUsage);
    return 2;
}

// Returns an exit status when the arguments say to stop at once.
std::optional<int> ParseArguments(std::span<char* const> arguments, SniffOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        auto value = [&]() -> const char* {
            return i + 1 < arguments.size() ? arguments[++i] : nullptr;
        };
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argument == "--list") {
            options.list = true;
        } else if (argument == "--adapter") {
            const char* name = value();
            if (!name || !*name) return UsageError("--adapter needs a name");
            options.adapter = name;
        } else if (argument == "--read") {
            const char* path = value();
            if (!path || !*path) return UsageError("--read needs a file");
            options.readPath = path;
        } else if (argument == "--seconds") {
            const char* text = value();
            int seconds = 0;
            auto [end, error] = text ? std::from_chars(text, text + std::strlen(text), seconds)
                                     : std::from_chars_result{};
            if (!text || error != std::errc() || *end || seconds <= 0)
                return UsageError("--seconds needs a whole number above 0");
            options.seconds = seconds;
        } else {
            std::string problem = "unknown option \"" + std::string(argument) + "\"";
            return UsageError(problem.c_str());
        }
    }
    int modes = !options.adapter.empty() + !options.readPath.empty() + options.list;
    if (modes != 1) return UsageError("give one of --adapter, --read or --list");
    if (options.seconds && options.adapter.empty())
        return UsageError("--seconds goes with --adapter");
    return std::nullopt;
}

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

int RunSniffCommand(std::span<char* const> arguments) {
    SniffOptions options;
    if (auto status = ParseArguments(arguments, options)) return *status;
    if (options.list) return StreamSniffer::EnumerateAdapters().empty() ? 1 : 0;
    if (!options.readPath.empty()) return ReadCaptureFile(options.readPath);
    return CaptureLive(options.adapter, options.seconds);
}

}  // namespace quil::grab
