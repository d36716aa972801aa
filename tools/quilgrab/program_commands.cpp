#include <cstdio>

#include "app/settings/output_file.h"
#include "tools/quilgrab/program.h"

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
    return MakeProgramWith({AddFileCommand, AddStreamCommand, AddCdCommand, AddLiveCommand,
                            AddTagsCommand, AddProfilesCommand, AddSniffCommand});
}

}  // namespace quil::grab
