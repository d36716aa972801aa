// quilgrab_commands.so: every command of quilgrab with the grabber libraries (and through them
// FFmpeg and its hundred-odd libraries) behind it. quilgrab loads it only for a command that
// needs it, so sniffing a capture file or asking for the version starts without them.

#include "tools/quilgrab/program.h"

extern "C" __attribute__((visibility("default"))) int QuilgrabMain(int argc, char** argv) {
    auto made = quil::grab::MakeProgram();
    return quil::grab::RunProgram(*made, argc, argv);
}
