// Writes quilgrab's bash completion to standard output; the build installs what it writes.

#include <cstdio>

#include "tools/quilgrab/bash_completion.h"
#include "tools/quilgrab/program.h"

int main() {
    const std::string script = quil::grab::BashCompletion(quil::grab::MakeProgram()->parser);
    return std::fwrite(script.data(), 1, script.size(), stdout) == script.size() ? 0 : 1;
}
