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

}  // namespace

std::optional<int> AnswerInfoSwitch(int argc, const char* const* argv) {
    if (Given(argc, argv, "--version")) {
        std::printf("RTX Halvorn Controller %s\n", res::kVersion);
        return 0;
    }
    return std::nullopt;
}

}  // namespace qtfront
