#pragma once
// What an operation does on a board's bus, as data: the ordered steps with their bytes. A step may
// read a register and decide from it what to write, since the boards' own sequences do (set one
// bit of a control word, hand a rail back only when it is fixed). Plans are run step by step, and
// each step's result comes back; a dry run runs them on a bus that writes nothing.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/Sleeper.h"
#include "model/BoardBus.h"

struct RegisterWrite {
    std::uint8_t device = 0;
    std::uint8_t reg = 0;
    std::vector<std::uint8_t> bytes;  // none: the register byte alone
};

struct Step {
    enum class Kind { Write, ReadThenWrite, Pause };
    // What the plan does when a step's transfer fails.
    enum class OnFailure { Continue, End };
    // What to write, in order, from the bytes read; none: the register stays as it is.
    using Decision = std::function<std::vector<RegisterWrite>(const std::vector<std::uint8_t>&)>;

    Kind kind = Kind::Write;
    RegisterWrite write;  // Write: what is written
    // ReadThenWrite: the register read, and what to write from its bytes. The writes stop at the
    // first that fails.
    std::uint8_t readDevice = 0, readReg = 0;
    std::uint32_t readLength = 0;
    Decision decide;
    OnFailure onReadFailure = OnFailure::Continue;
    OnFailure onWriteFailure = OnFailure::Continue;
    std::uint32_t pauseMs = 0;  // Pause

    static Step Write(RegisterWrite write, OnFailure onFailure = OnFailure::Continue);
    static Step ReadThenWrite(std::uint8_t device, std::uint8_t reg, std::uint32_t length, Decision decide,
                              OnFailure onReadFailure, OnFailure onWriteFailure);
    static Step Pause(std::uint32_t ms);
};

using Plan = std::vector<Step>;

struct StepResult {
    Step::Kind kind = Step::Kind::Write;
    bool readOk = true;                // ReadThenWrite: the read succeeded
    std::vector<RegisterWrite> wrote;  // what was sent, in order; when writeOk is false the last failed
    bool writeOk = true;
    std::uint32_t pausedMs = 0;
    // Transfers of the step that failed: 0 or 1, since a step stops at its first failure.
    std::size_t Failures() const { return readOk && writeOk ? 0 : 1; }
};

// A plan being run: Advance runs the transfers up to the next pause and says how long it is.
class PlanRun {
public:
    explicit PlanRun(Plan plan) : plan_(std::move(plan)) {}
    bool Done() const { return next_ >= plan_.size() || ended_; }
    // Runs steps until a pause (returned, in ms, the step counted as done) or the end (0).
    std::uint32_t Advance(BoardBus& bus);
    const std::vector<StepResult>& Results() const { return results_; }
    // No step's failure ended the plan early.
    bool Completed() const { return !ended_; }
    // Transfers of the steps run that failed.
    std::size_t Failures() const;

private:
    Plan plan_;
    std::size_t next_ = 0;
    bool ended_ = false;
    std::vector<StepResult> results_;
};

// Runs the whole plan, pausing with the sleeper.
PlanRun RunPlan(Plan plan, BoardBus& bus, Sleeper& sleeper);

// "write 0x5A reg 0x18: 03 01 EC 00", "pause 100 ms", one line per step that wrote or paused.
std::vector<std::string> DescribeResults(const std::vector<StepResult>& results);
