#pragma once
// The switch that only prints something and ends the program: `--version`. It is
// answered before Qt starts, so it works without a display (`--help` belongs to the command line).
#include <optional>

namespace qtfront {

// The exit status when it is among the arguments after the program's path (the answer is
// then on standard output), nothing otherwise.
std::optional<int> AnswerInfoSwitch(int argc, const char* const* argv);

}  // namespace qtfront
