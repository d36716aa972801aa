#include "tools/quilgrab/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace quil::grab {

std::string ClockText(double seconds) {
    long total = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

std::string ProgressText(const ProgressFigures& figures, int width) {
    double speed = figures.elapsed > 0.05 ? figures.position / figures.elapsed : 0;
    char numbers[160];
    if (figures.duration > 0) {
        double fraction = std::min(figures.position / figures.duration, 1.0);
        double left = speed > 0 ? (figures.duration - figures.position) / speed : 0;
        std::snprintf(numbers, sizeof numbers, "%3.0f%%  %s / %s  %5.1fx  ETA %s", fraction * 100,
                      ClockText(figures.position).c_str(), ClockText(figures.duration).c_str(),
                      speed, speed > 0 ? ClockText(left).c_str() : "--:--");
    } else {
        std::snprintf(numbers, sizeof numbers, "%s  %5.1fx", ClockText(figures.position).c_str(),
                      speed);
    }
    std::string tail = numbers;
    if (width <= 0) width = 80;
    // The line never reaches the last column, or some terminals wrap it.
    size_t room = static_cast<size_t>(width - 1);
    if (tail.size() + 2 >= room) return tail.substr(0, room);
    std::string label = figures.label;
    size_t labelRoom = room - tail.size() - 2;
    if (label.size() > labelRoom) {
        // Keep the end of a long name: it holds the part that differs.
        label = labelRoom > 3 ? "..." + label.substr(label.size() - (labelRoom - 3)) : "";
        // Never split a UTF-8 sequence.
        size_t start = label.rfind("...") == 0 ? 3 : 0;
        while (start < label.size() && (static_cast<unsigned char>(label[start]) & 0xC0) == 0x80)
            label.erase(start, 1);
    }
    return label.empty() ? tail : label + "  " + tail;
}

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        int value = std::atoi(columns);
        if (value > 0) return value;
    }
    return 80;
}

ProgressLine::ProgressLine(bool quiet) : shown_(!quiet && isatty(STDERR_FILENO)) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Draw(const ProgressFigures& figures) {
    if (!shown_) return;
    std::lock_guard lock(mutex_);
    std::string text = ProgressText(figures, TerminalWidth());
    // Carriage return, the line, then erase what an earlier, longer line left.
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::Clear() {
    std::lock_guard lock(mutex_);
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void ProgressLine::Note(const std::string& text) {
    Clear();
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace quil::grab
