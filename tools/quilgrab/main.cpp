// quilgrab: command-line front end over the grabber libraries; one subcommand per file.

#include <cstdio>
#include <map>

#include "app/settings/output_file.h"
#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

int FinishOutput(const std::string& path, int status) {
    switch (settings::CheckFinishedOutput(path)) {
        case settings::FinishedOutput::kKept:
            if (status == 0) std::printf("%s\n", path.c_str());
            return status;
        case settings::FinishedOutput::kNoAudio:
            std::fprintf(stderr,
                         "quilgrab: no audio: nothing was recorded into %s, which was removed\n",
                         path.c_str());
            return 1;
        case settings::FinishedOutput::kMissing:
            std::fprintf(stderr,
                         "quilgrab: %s is no longer there (was its folder removed or renamed?); "
                         "the grab is lost\n",
                         path.c_str());
            return 1;
    }
    return 1;
}

}  // namespace quil::grab

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "3.0"
#endif

int main(int argc, char** argv) {
    using namespace quil::grab;
    CLI::App program(
        "quilgrab: grabs the audio of media files, streams, audio CDs and the sound "
        "card into WAV, MP3, WMA or OGG.",
        "quilgrab");
    program.set_version_flag("--version", "quilgrab " QUILLET_VERSION);
    program.footer(std::string("\"quilgrab COMMAND --help\" describes a command's options.\n") +
                   kExitCodesText);
    program.require_subcommand(1);
    program.fallthrough(false);
    std::map<CLI::App*, CommandRun> runs;
    auto add = [&](CommandRun run) { runs.emplace(program.get_subcommands({}).back(), run); };
    add(AddFileCommand(program));
    add(AddStreamCommand(program));
    add(AddCdCommand(program));
    add(AddLiveCommand(program));
    add(AddTagsCommand(program));
    add(AddProfilesCommand(program));
    add(AddSniffCommand(program));
    program.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("quilgrab: ") + error.what() +
               "\n\"quilgrab COMMAND --help\" describes the options.\n";
    });
    if (argc >= 2 && argv[1][0] != '-') {
        bool known = false;
        for (auto& [command, run] : runs) known = known || command->get_name() == argv[1];
        if (!known) {
            std::fprintf(stderr, "quilgrab: unknown command \"%s\"\n\n%s", argv[1],
                         program.help().c_str());
            return exit_code::kUsage;
        }
    }
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = program.exit(error);
        return status == 0 ? exit_code::kDone : exit_code::kUsage;
    }
    for (auto& [command, run] : runs)
        if (command->parsed()) {
            try {
                return run();
            } catch (const CLI::ParseError& error) {
                int status = command->exit(error);
                return status == 0 ? exit_code::kDone : exit_code::kUsage;
            }
        }
    return exit_code::kUsage;
}
