// The option checks every command uses, kept apart from the stored-settings defaults so the
// program's own start (sniff, --version) does not need the settings libraries.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/quilgrab/cli_options.h"

namespace quil::grab {

const char* const kExitCodesText =
    "Exit status: 0 all done, 1 some input failed, 2 bad usage,\n"
    "             130 interrupted (Ctrl-C), 143 stopped (SIGTERM).";

namespace {

std::string Trimmed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool ParseReal(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(*value);
}

}  // namespace

bool ParseWhole(const std::string& text, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0' && errno == 0;
}

CLI::Validator WholeRange(long low, long high, const std::string& unit) {
    std::string range = std::to_string(low) + " to " + std::to_string(high) + unit;
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            long value = 0;
            if (!ParseWhole(text, &value) || value < low || value > high)
                return "takes a whole number from " + range + ", not \"" + text + "\"";
            return {};
        },
        range);
}

CLI::Validator NumberRange(double low, double high, const std::string& unit) {
    std::string range = Trimmed(low) + " to " + Trimmed(high) + unit;
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            double value = 0;
            if (!ParseReal(text, &value) || value < low || value > high)
                return "takes a number from " + range + ", not \"" + text + "\"";
            return {};
        },
        range);
}

}  // namespace quil::grab
