#pragma once
// The switches that only print something and end the program: `--version` and `--help`. They are
// answered before Qt starts, so they work without a display.
#include <optional>

namespace qtfront {

// The exit status when one of them is among the arguments after the program's path (the answer is
// then on standard output), nothing otherwise.
std::optional<int> AnswerInfoSwitch(int argc, const char* const* argv);

}  // namespace qtfront
