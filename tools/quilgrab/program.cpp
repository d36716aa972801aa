#include "tools/quilgrab/program.h"

#include <cstdio>

#include "tools/quilgrab/cli_options.h"

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "3.0"
#endif

namespace quil::grab {

std::unique_ptr<Program> MakeProgramWith(std::initializer_list<AddCommandFn> commands) {
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
    for (AddCommandFn add : commands) {
        CommandRun run = add(parser);
        program->runs.emplace(parser.get_subcommands({}).back(), std::move(run));
    }
    parser.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("quilgrab: ") + error.what() +
               "\n\"quilgrab COMMAND --help\" describes the options.\n";
    });
    return program;
}

int RunProgram(Program& made, int argc, char** argv) {
    CLI::App& program = made.parser;
    const auto& runs = made.runs;
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

}  // namespace quil::grab
