#pragma once

// The progress line on a terminal: percentage, position and duration, speed (x real time) and
// the time left, cut to the terminal's width and redrawn in place. Nothing is drawn when
// standard error is not a terminal or with -q; the callers print their final lines themselves.

#include <chrono>
#include <mutex>
#include <string>

namespace quil::grab {

struct ProgressFigures {
    std::string label;
    double position = 0;  // seconds of audio done
    double duration = 0;  // seconds in all; 0 when unknown (a stream, a live recording)
    double elapsed = 0;   // wall-clock seconds
};

// "01:02:03" or "02:03".
std::string ClockText(double seconds);
// The line for these figures, at most `width` columns.
std::string ProgressText(const ProgressFigures& figures, int width);

class ProgressLine {
public:
    explicit ProgressLine(bool quiet);
    ~ProgressLine();
    bool Shown() const { return shown_; }
    void Draw(const ProgressFigures& figures);
    // Clears the line, so a message can be printed in its place.
    void Clear();
    // Prints a message line on standard error without leaving a stale progress line.
    void Note(const std::string& text);

private:
    bool shown_;
    bool drawn_ = false;
    std::mutex mutex_;
};

int TerminalWidth();

}  // namespace quil::grab
