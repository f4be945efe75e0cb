#include "platform/qt/InfoSwitches.h"

#include <cstdio>
#include <cstring>

#include "res/Version.h"

namespace qtfront {

namespace {

bool Given(int argc, const char* const* argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

void PrintHelp() {
    std::fputs("Usage: HalvornController [--simulate[=FILE]] [internalTest]\n"
               "Reads and sets the power settings of supported NVIDIA RTX boards over the GPUs' I2C buses.\n"
               "\n"
               "  --simulate        run on the built-in simulated boards instead of the hardware\n"
               "  --simulate=FILE   run on the simulated machine a scenario file describes\n"
               "  internalTest      show the Test button for raw I2C register reads and writes\n"
               "  --version         print the program's name and version, then end\n"
               "  --help            print this text, then end\n",
               stdout);
}

}  // namespace

std::optional<int> AnswerInfoSwitch(int argc, const char* const* argv) {
    if (Given(argc, argv, "--version")) {
        std::printf("RTX Halvorn Controller %s\n", res::kVersion);
        return 0;
    }
    if (Given(argc, argv, "--help")) {
        PrintHelp();
        return 0;
    }
    return std::nullopt;
}

}  // namespace qtfront
