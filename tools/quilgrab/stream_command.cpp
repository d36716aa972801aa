// quilgrab stream: records stream URLs (or the streams a .pls or .m3u playlist lists) into
// files. A dropped connection is tried again a few times, each part into a file of its own; a
// stream that ends before the asked time (or at all, without --until-end) is reported as
// failed, since a radio stream that stops is not a finished recording.

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/quilgrab/batch.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/interrupt.h"
#include "tools/quilgrab/output_names.h"
#include "tools/quilgrab/stream_source.h"

namespace quil::grab {

namespace {

struct StreamOptions {
    CommonOptions common = LoadStoredDefaults();
    std::vector<std::string> urls;
    bool untilEnd = false;
    int retries = 3;
    double retryWait = 2.0;
};

std::string StreamStem(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    size_t scheme = path.find("://");
    std::string rest = scheme == std::string::npos ? path : path.substr(scheme + 3);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    size_t slash = rest.rfind('/');
    std::string last = slash == std::string::npos ? rest : rest.substr(slash + 1);
    size_t dot = last.rfind('.');
    if (dot != std::string::npos && dot > 0) last = last.substr(0, dot);
    size_t colon = last.find(':');  // a bare host with its port
    if (colon != std::string::npos) last = last.substr(0, colon);
    return last.empty() ? "stream" : last;
}

// Waits, returning early (false) when the run is interrupted.
bool WaitUnlessInterrupted(double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (Interrupted()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !Interrupted();
}

ItemReport RecordStream(const StreamOptions& options, const BatchItem& item,
                        const std::function<void(double, double)>& progress, ProgressLine& notes) {
    ItemReport report;
    report.state = ItemState::kFailed;
    Resolved resolved = ResolveStreamAddress(item.input);
    if (!resolved.error.empty()) {
        report.message = resolved.error;
        return report;
    }
    const std::optional<double>& limit = options.common.seconds;
    double total = 0;
    int attempt = 0;
    size_t urlIndex = 0;
    std::vector<std::string> outputs;
    std::string lastProblem;
    while (true) {
        const std::string& url = resolved.urls[urlIndex % resolved.urls.size()];
        std::string problem = ProbeStream(url);
        GrabResult result;
        if (problem.empty()) {
            NameFields fields;
            fields.stem = StreamStem(url);
            fields.when = LocalNow();
            fields.extension = FormatExtension(options.common.format.format) + 1;
            std::string wanted =
                WantedOutputPath(options.common.output, "{stem} {date} {time}", fields);
            ClaimedOutput claim = ClaimOutput(wanted, options.common.output.clobber);
            if (!claim.error.empty() || claim.skipped) {
                report.state = claim.skipped ? ItemState::kSkipped : ItemState::kFailed;
                report.message = claim.skipped
                                     ? item.label + " skipped: " + claim.path + " exists (-n)"
                                     : claim.error;
                return report;
            }
            GrabRequest request;
            request.input = url;
            request.isStream = true;
            request.output = claim.path;
            request.format = &options.common.format;
            if (limit) request.seconds = *limit - total;
            request.onProgress = [&](double position, double) {
                progress(total + position, limit.value_or(0));
            };
            result = RunMediaGrab(request);
            std::error_code ignored;
            if (result.audioSeconds > 0 || std::filesystem::file_size(claim.path, ignored) > 0) {
                outputs.push_back(claim.path);
                total += result.audioSeconds;
            } else {
                std::filesystem::remove(claim.path, ignored);
            }
            if (result.outcome == GrabOutcome::kCut) {
                report.state = outputs.empty() ? ItemState::kFailed : ItemState::kCut;
                report.message = item.label + ": interrupted before any audio arrived";
                break;
            }
            if (result.outcome == GrabOutcome::kLimitReached) {
                report.state = ItemState::kDone;
                break;
            }
            if (result.outcome == GrabOutcome::kDone && options.untilEnd) {
                report.state = ItemState::kDone;
                break;
            }
            problem = result.outcome == GrabOutcome::kDone
                          ? "the stream ended after " + ClockText(result.audioSeconds)
                          : result.error + " after " + ClockText(result.audioSeconds);
            if (result.outcome == GrabOutcome::kFailed && result.audioSeconds == 0 &&
                result.error.find(url) == 0)
                problem = result.error.substr(url.size() + 2);
        }
        lastProblem = problem;
        if (attempt >= options.retries) break;
        ++attempt;
        if (!options.common.quiet)
            notes.Note("quilgrab: " + url + ": " + problem + "; connecting again (" +
                       std::to_string(attempt) + " of " + std::to_string(options.retries) + ")");
        ++urlIndex;
        if (!WaitUnlessInterrupted(options.retryWait * attempt)) {
            report.state = outputs.empty() ? ItemState::kNotStarted : ItemState::kCut;
            break;
        }
    }
    report.audioSeconds = total;
    for (size_t i = 0; i < outputs.size(); ++i) report.output += (i ? "\n" : "") + outputs[i];
    if (report.state == ItemState::kFailed && report.message.empty()) {
        std::string asked = limit ? " of the " + ClockText(*limit) + " asked for" : "";
        report.message =
            item.label + ": " + lastProblem +
            (outputs.empty()
                 ? std::string()
                 : "; the stream ended early: " + ClockText(total) + asked + " recorded" +
                       (options.untilEnd ? "" : " (--until-end accepts an end)"));
    }
    return report;
}

int RunStream(StreamOptions& options, CLI::App& command) {
    CheckFormatOptions(command, options.common.format);
    if (!options.common.output.file.empty() && options.urls.size() > 1)
        throw CLI::ValidationError("-o", "names the output of a single input; use --name for " +
                                             std::to_string(options.urls.size()) + " streams");
    if (options.common.output.file == "-")
        throw CLI::ValidationError("-o", "a stream is written into a file; - is not possible");
    InstallInterruptHandlers();
    std::vector<BatchItem> items;
    for (const auto& url : options.urls) items.push_back({url, url});
    ProgressLine notes(options.common.quiet);
    auto reports =
        RunBatch(items, static_cast<int>(items.size()), options.common.quiet,
                 [&](const BatchItem& item, std::function<void(double, double)> progress) {
                     return RecordStream(options, item, progress, notes);
                 });
    // A stream that ended early still has its recording; name it before the failure.
    for (auto& report : reports)
        if (report.state == ItemState::kFailed && !report.output.empty())
            std::printf("%s\n", report.output.c_str());
    return ReportBatch(items, reports, options.common.quiet);
}

}  // namespace

CommandRun AddStreamCommand(CLI::App& program) {
    auto options = std::make_shared<StreamOptions>();
    CLI::App* command = program.add_subcommand(
        "stream", "record stream URLs (http, https, rtsp, mms) or .pls/.m3u playlists into files");
    command->add_option("URL", options->urls, "stream addresses, or playlists (file or URL)")
        ->required();
    command->add_flag("--until-end", options->untilEnd,
                      "a stream that ends is finished, not broken off (no reconnection)");
    command
        ->add_option("--retries", options->retries,
                     "connect again up to N times after a drop or a failed connection")
        ->check(WholeRange(0, 100))
        ->default_val(options->retries);
    command
        ->add_option("--retry-wait", options->retryWait,
                     "seconds before the first new try; each further try waits that much longer")
        ->check(NumberRange(0, 600))
        ->default_val(options->retryWait);
    AddVerbosityOptions(*command, options->common);
    AddDurationOption(*command, options->common.seconds, "each stream");
    AddOutputOptions(*command, options->common.output);
    AddFormatOptions(*command, options->common.format);
    command->footer(std::string("Each part after a reconnection is a file of its own.\n") +
                    kExitCodesText);
    return [options, command] { return RunStream(*options, *command); };
}

}  // namespace quil::grab
