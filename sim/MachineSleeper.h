#pragma once
// The program's pauses on a simulated machine: they go into its transfer log and advance its
// clock instead of taking time.
#include "model/Sleeper.h"
#include "sim/SimMachine.h"

namespace sim {

class MachineSleeper final : public Sleeper {
public:
    explicit MachineSleeper(SimMachine& machine) : machine_(machine) {}
    void Sleep(unsigned milliseconds) override { machine_.Pause(milliseconds); }

private:
    SimMachine& machine_;
};

}  // namespace sim
