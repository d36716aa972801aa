#pragma once

// Watches one network adapter and reports the stream URLs seen in its traffic.

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/sniffer/url_extractor.h"

namespace quil {

struct AdapterEntry {
    int id = 0;               // position in enumeration order, from 0
    std::string name;         // what libpcap opens
    std::string description;  // what the user sees; may be empty
};

class StreamSniffer {
public:
    // The callback runs on the capture thread. It must not wait for the thread that calls
    // StopCapture, since that thread joins the capture thread.
    explicit StreamSniffer(UrlCallback onUrl);
    ~StreamSniffer();
    StreamSniffer(const StreamSniffer&) = delete;
    StreamSniffer& operator=(const StreamSniffer&) = delete;

    // The adapters in libpcap's order, also printed on standard output numbered from 1.
    static std::vector<AdapterEntry> EnumerateAdapters();

    // Opens the live capture, starts a new dump file and the capture thread. A capture that is
    // still running is stopped first. On failure standard error says why.
    bool StartCapture(const std::string& deviceName);
    // Ends the capture thread and closes the capture and the dump file. The thread waits for
    // traffic in a poll that this call wakes, so it returns as soon as the packet in hand, if
    // any, is analysed.
    void StopCapture();
    // False once stopped, and once the capture thread ended by itself on a read error.
    bool Capturing() const;

    // Where each capture is dumped: "Dump.txt" in the per-user data folder, readable by its
    // owner only, rotated to "Dump.txt.1" at 100 MB.
    static std::filesystem::path DumpFilePath();

    // Scans a capture file as the live capture would. Returns the number of packets read, or
    // -1 with the reason in `error` (URLs of the packets before a damaged one are reported).
    static long long ScanCaptureFile(const std::filesystem::path& path, const UrlCallback& onUrl,
                                     std::string* error = nullptr);

private:
    struct Control;

    UrlCallback onUrl_;
    std::unique_ptr<Control> control_;
    std::thread thread_;
};

}  // namespace quil
