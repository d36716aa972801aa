// quilgrab file / profiles: grabs the audio of media files, several at once, and lists the WMA
// profiles.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "tools/quilgrab/batch.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/interrupt.h"
#include "tools/quilgrab/output_names.h"
#include "tools/quilgrab/spool.h"
#include "tools/quilgrab/wma_profiles.h"

namespace quil::grab {

namespace {

struct FileOptions {
    CommonOptions common = LoadStoredDefaults();
    std::vector<std::string> inputs;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
};

ItemReport GrabFile(const FileOptions& options, const BatchItem& item, const std::string& input,
                    std::function<void(double, double)> progress) {
    ItemReport report;
    const OutputOptions& output = options.common.output;
    bool toStandardOutput = output.file == "-";
    NameFields fields;
    fields.stem = item.input == "-" ? "stdin" : std::filesystem::path(item.input).stem().string();
    if (fields.stem.empty()) fields.stem = "grab";
    fields.when = LocalNow();
    fields.extension = FormatExtension(options.common.format.format) + 1;
    std::unique_ptr<SpoolFile> spool;
    std::string wanted;
    if (toStandardOutput) {
        spool = std::make_unique<SpoolFile>(FormatExtension(options.common.format.format));
        wanted = spool->path();
    } else {
        wanted = WantedOutputPath(output, "{stem}", fields);
    }
    ClaimedOutput claim =
        ClaimOutput(wanted, toStandardOutput ? Clobber::kOverwrite : output.clobber);
    if (!claim.error.empty()) {
        report.state = ItemState::kFailed;
        report.message = claim.error;
        return report;
    }
    if (claim.skipped) {
        report.state = ItemState::kSkipped;
        report.message = item.label + " skipped: " + claim.path + " exists (-n)";
        return report;
    }
    report.output = toStandardOutput ? std::string("-") : claim.path;
    GrabRequest request;
    request.input = input;
    request.output = claim.path;
    request.format = &options.common.format;
    request.seconds = options.common.seconds;
    request.onProgress = std::move(progress);
    GrabResult result = RunMediaGrab(request);
    report.audioSeconds = result.audioSeconds;
    switch (result.outcome) {
        case GrabOutcome::kDone:
        case GrabOutcome::kLimitReached:
            report.state = ItemState::kDone;
            break;
        case GrabOutcome::kCut:
            report.state = ItemState::kCut;
            break;
        case GrabOutcome::kFailed:
            report.state = ItemState::kFailed;
            report.message = result.error;
            // A file the grab never wrote into is no result; a broken-off one keeps its audio.
            std::error_code ignored;
            if (std::filesystem::file_size(claim.path, ignored) == 0)
                std::filesystem::remove(claim.path, ignored);
            break;
    }
    if (toStandardOutput && (report.state == ItemState::kDone || report.state == ItemState::kCut)) {
        if (!spool->CopyTo(STDOUT_FILENO)) {
            report.state = ItemState::kFailed;
            report.message = "writing to standard output failed";
        }
    }
    return report;
}

int RunFile(FileOptions& options, CLI::App& command) {
    CheckFormatOptions(command, options.common.format);
    if (!options.common.output.file.empty() && options.inputs.size() > 1)
        throw CLI::ValidationError("-o", "names the output of a single input; use --name for " +
                                             std::to_string(options.inputs.size()) + " inputs");
    InstallInterruptHandlers();
    std::unique_ptr<SpoolFile> input;
    std::vector<BatchItem> items;
    for (const auto& name : options.inputs)
        items.push_back({name, name == "-" ? "standard input" : name});
    if (options.inputs.size() == 1 && options.inputs[0] == "-") {
        input = std::make_unique<SpoolFile>("");
        if (!input->FillFrom(STDIN_FILENO)) {
            std::fprintf(stderr, "quilgrab: standard input cannot be read\n");
            return exit_code::kSomeFailed;
        }
    } else {
        for (const auto& name : options.inputs)
            if (name == "-")
                throw CLI::ValidationError("INPUT", "- (standard input) must be the only input");
    }
    auto reports =
        RunBatch(items, options.jobs, options.common.quiet,
                 [&](const BatchItem& item, std::function<void(double, double)> progress) {
                     std::string path = item.input == "-" ? input->path() : item.input;
                     return GrabFile(options, item, path, std::move(progress));
                 });
    if (options.common.output.file == "-") {
        // Standard output carries the audio, so the names are not printed there.
        for (auto& report : reports) report.output.clear();
        int status = exit_code::kDone;
        for (size_t i = 0; i < reports.size(); ++i)
            if (reports[i].state == ItemState::kFailed) {
                std::fprintf(stderr, "quilgrab: %s\n", reports[i].message.c_str());
                status = exit_code::kSomeFailed;
            }
        return Interrupted() ? InterruptedExitStatus() : status;
    }
    return ReportBatch(items, reports, options.common.quiet);
}

}  // namespace

CommandRun AddFileCommand(CLI::App& program) {
    auto options = std::make_shared<FileOptions>();
    CLI::App* command =
        program.add_subcommand("file", "grab the audio of media files into WAV, MP3, WMA or OGG");
    command->add_option("INPUT", options->inputs, "media files; - reads standard input")
        ->required();
    command->add_option("-j,--jobs", options->jobs, "grab N files at once")
        ->check(WholeRange(1, 64))
        ->type_name("N")
        ->default_val(options->jobs);
    AddVerbosityOptions(*command, options->common);
    AddDurationOption(*command, options->common.seconds, "each file");
    AddOutputOptions(*command, options->common.output);
    AddFormatOptions(*command, options->common.format);
    command->footer(std::string("Outputs are named after the input (\"{stem}\"), with the stored "
                                "prefix and suffix.\n") +
                    kExitCodesText);
    return [options, command] { return RunFile(*options, *command); };
}

CommandRun AddProfilesCommand(CLI::App& program) {
    auto version = std::make_shared<int>(0);
    CLI::App* command =
        program.add_subcommand("profiles", "list the WMA profiles of each Windows Media version");
    command->add_option("--wma-version", *version, "only this version (4, 7, 8 or 9)")
        ->check(CLI::IsMember({4, 7, 8, 9}));
    command->footer(kExitCodesText);
    return [version] {
        for (int each : {4, 7, 8, 9}) {
            if (*version && each != *version) continue;
            std::printf("Windows Media version %d:\n", each);
            for (const auto& [name, description] : AudioProfiles(each))
                std::printf("  %s\n      %s\n", name.c_str(), description.c_str());
        }
        return exit_code::kDone;
    };
}

}  // namespace quil::grab
