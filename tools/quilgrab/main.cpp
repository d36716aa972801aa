// quilgrab: command-line front end; one subcommand per file.

#include <cstdio>
#include <cstring>
#include <span>

#include "app/settings/output_file.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

int FinishOutput(const std::string& path, int status) {
    switch (settings::CheckFinishedOutput(path)) {
        case settings::FinishedOutput::kKept:
            if (status == 0) std::printf("%s\n", path.c_str());
            return status;
        case settings::FinishedOutput::kNoAudio:
            if (status == 0)
                std::fprintf(stderr, "quilgrab: no audio: nothing was recorded into %s, which "
                                     "was removed\n", path.c_str());
            return 1;
        case settings::FinishedOutput::kMissing:
            if (status == 0)
                std::fprintf(stderr, "quilgrab: %s is no longer there (was its folder removed "
                                     "or renamed?); the grab is lost\n", path.c_str());
            return 1;
    }
    return 1;
}

}  // namespace quil::grab

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(std::span<char* const> arguments);
};

constexpr Command kCommands[] = {
    {"file", "grab the audio of media files into WAV, MP3, WMA or OGG", quil::grab::RunFileCommand},
    {"stream", "record stream URLs (http, https, rtsp, mms) into a file", quil::grab::RunStreamCommand},
    {"profiles", "list the WMA profiles of each Windows Media version", quil::grab::RunProfilesCommand},
    {"sniff", "print the stream URLs seen on a network adapter or in a capture file",
     quil::grab::RunSniffCommand},
    {"tags", "print or write the tags of a WAV, MP3 or WMA file", quil::grab::RunTagsCommand},
    {"live", "list the recording devices or record one into WAV, MP3, WMA or OGG",
     quil::grab::RunLiveCommand},
    {"cd", "list drives and tracks, rip CD tracks into WAV, MP3, WMA or OGG",
     quil::grab::RunCdCommand},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "Usage: quilgrab COMMAND [OPTIONS]\n\nCommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out, "\n\"quilgrab COMMAND --help\" describes a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const char* name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
        std::strcmp(name, "help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(name, command.name) == 0)
            return command.run(std::span<char* const>(argv + 2, static_cast<size_t>(argc - 2)));
    }
    std::fprintf(stderr, "quilgrab: unknown command \"%s\"\n\n", name);
    PrintUsage(stderr);
    return 2;
}
