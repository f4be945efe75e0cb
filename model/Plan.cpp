#include "model/Plan.h"

#include <cstdio>

Step Step::Write(RegisterWrite write, OnFailure onFailure) {
    Step step;
    step.kind = Kind::Write;
    step.write = std::move(write);
    step.onWriteFailure = onFailure;
    return step;
}

Step Step::ReadThenWrite(std::uint8_t device, std::uint8_t reg, std::uint32_t length, Decision decide,
                         OnFailure onReadFailure, OnFailure onWriteFailure) {
    Step step;
    step.kind = Kind::ReadThenWrite;
    step.readDevice = device;
    step.readReg = reg;
    step.readLength = length;
    step.decide = std::move(decide);
    step.onReadFailure = onReadFailure;
    step.onWriteFailure = onWriteFailure;
    return step;
}

Step Step::Pause(std::uint32_t ms) {
    Step step;
    step.kind = Kind::Pause;
    step.pauseMs = ms;
    return step;
}

namespace {

bool Send(BoardBus& bus, const RegisterWrite& write) {
    return bus.Write(write.device, write.reg, write.bytes.empty() ? nullptr : write.bytes.data(),
                     static_cast<std::uint32_t>(write.bytes.size()));
}

}  // namespace

std::uint32_t PlanRun::Advance(BoardBus& bus) {
    while (!Done()) {
        const Step& step = plan_[next_++];
        StepResult result;
        result.kind = step.kind;
        switch (step.kind) {
            case Step::Kind::Pause:
                result.pausedMs = step.pauseMs;
                results_.push_back(result);
                return step.pauseMs;
            case Step::Kind::Write:
                result.wrote = {step.write};
                result.writeOk = Send(bus, step.write);
                break;
            case Step::Kind::ReadThenWrite: {
                std::vector<std::uint8_t> bytes(step.readLength, 0);
                result.readOk = bus.Read(step.readDevice, step.readReg, bytes.data(), step.readLength);
                if (!result.readOk) {
                    ended_ = step.onReadFailure == Step::OnFailure::End;
                    results_.push_back(result);
                    continue;
                }
                for (RegisterWrite& write : step.decide(bytes)) {
                    result.wrote.push_back(std::move(write));
                    result.writeOk = Send(bus, result.wrote.back());
                    if (!result.writeOk) break;
                }
                break;
            }
        }
        if (!result.writeOk && step.onWriteFailure == Step::OnFailure::End) ended_ = true;
        results_.push_back(std::move(result));
    }
    return 0;
}

std::size_t PlanRun::Failures() const {
    std::size_t failures = 0;
    for (const StepResult& r : results_) failures += r.Failures();
    return failures;
}

PlanRun RunPlan(Plan plan, BoardBus& bus, Sleeper& sleeper) {
    PlanRun run(std::move(plan));
    while (!run.Done())
        if (const std::uint32_t pause = run.Advance(bus)) sleeper.Sleep(pause);
    return run;
}

std::vector<std::string> DescribeResults(const std::vector<StepResult>& results) {
    std::vector<std::string> lines;
    for (const StepResult& r : results) {
        if (r.kind == Step::Kind::Pause) {
            lines.push_back("pause " + std::to_string(r.pausedMs) + " ms");
            continue;
        }
        for (const RegisterWrite& write : r.wrote) {
            char text[48];
            std::snprintf(text, sizeof text, "write 0x%02X reg 0x%02X:", write.device, write.reg);
            std::string line = text;
            for (std::uint8_t b : write.bytes) {
                std::snprintf(text, sizeof text, " %02X", b);
                line += text;
            }
            if (write.bytes.empty()) line += " (register byte alone)";
            lines.push_back(line);
        }
    }
    return lines;
}
