// quilgrab: command-line front end over the grabber libraries; one subcommand per file.

#include <cstdio>

#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/program.h"

int main(int argc, char** argv) {
    using namespace quil::grab;
    std::unique_ptr<Program> made = MakeProgram();
    CLI::App& program = made->parser;
    const auto& runs = made->runs;
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
