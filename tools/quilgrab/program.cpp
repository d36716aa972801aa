#include "tools/quilgrab/program.h"

#include <cstdio>

#include "app/settings/output_file.h"
#include "tools/quilgrab/cli_options.h"

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "3.0"
#endif

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

std::unique_ptr<Program> MakeProgram() {
    auto program = std::make_unique<Program>();
    CLI::App& parser = program->parser;
    parser.description(
        "quilgrab: grabs the audio of media files, streams, audio CDs and the sound "
        "card into WAV, MP3, WMA or OGG.");
    parser.name("quilgrab");
    parser.set_version_flag("--version", "quilgrab " QUILLET_VERSION);
    parser.footer(std::string("\"quilgrab COMMAND --help\" describes a command's options.\n") +
                  kExitCodesText);
    parser.require_subcommand(1);
    parser.fallthrough(false);
    auto add = [&](CommandRun run) {
        program->runs.emplace(parser.get_subcommands({}).back(), run);
    };
    add(AddFileCommand(parser));
    add(AddStreamCommand(parser));
    add(AddCdCommand(parser));
    add(AddLiveCommand(parser));
    add(AddTagsCommand(parser));
    add(AddProfilesCommand(parser));
    add(AddSniffCommand(parser));
    parser.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("quilgrab: ") + error.what() +
               "\n\"quilgrab COMMAND --help\" describes the options.\n";
    });
    return program;
}

}  // namespace quil::grab
