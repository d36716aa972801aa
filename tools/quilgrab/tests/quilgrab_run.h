#pragma once

// Runs quilgrab as a process, as a user would, and reads what it wrote.

#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/test_support.h"

namespace quil::test {

struct Run {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// quilgrab with the arguments (already quoted as the shell needs them).
inline Run Quilgrab(const std::string& arguments, const std::string& input = "") {
    static int counter = 0;
    auto dir = MakeTempDir("quilgrab_run_" + std::to_string(++counter));
    std::string command = std::string(QUILGRAB_PATH) + " " + arguments + " 2>" +
                          Quote((dir / "err").string()) +
                          (input.empty() ? " </dev/null" : " <" + Quote(input));
    Run run;
    run.status = RunCommand(command, &run.out);
    auto bytes = ReadFile(dir / "err");
    run.err.assign(bytes.begin(), bytes.end());
    return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Seconds of audio in a file as ffprobe decodes it; -1 when it cannot.
inline double ProbeSeconds(const std::filesystem::path& path) {
    std::string out;
    if (RunCommand(
            "ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path.string()),
            &out) != 0)
        return -1;
    return out.empty() ? -1 : std::stod(out);
}

// Seconds of audio in a file counted by decoding it all (a header's length can be an estimate).
inline double DecodedSeconds(const std::filesystem::path& path) {
    std::string out;
    if (RunCommand("ffmpeg -v error -i " + Quote(path.string()) + " -f s16le -ac 1 -ar 8000 -",
                   &out) != 0)
        return -1;
    return static_cast<double>(out.size()) / 16000.0;
}

// A tone file made by ffmpeg.
inline bool MakeTone(const std::filesystem::path& path, double seconds,
                     const std::string& codec = "") {
    return RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" +
                      std::to_string(seconds) + (codec.empty() ? "" : " -c:a " + codec) + " " +
                      Quote(path.string())) == 0;
}

}  // namespace quil::test
