#pragma once
// A bus for a dry run: writes are sent nowhere and count as taken, and reads reach the board. What
// the plan wrote is remembered, so a later read of that register sees it as the board would have:
// a plan that reads back a register an earlier step wrote (two items sharing one register) is
// shown as it would run.
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "model/BoardBus.h"

class DryRunBus final : public BoardBus {
public:
    explicit DryRunBus(BoardBus& board) : board_(board) {}

    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        const auto written = written_.find({device, reg});
        const std::size_t known = written == written_.end() ? 0 : written->second.size();
        // Only what the plan did not write, or not all of, is asked of the board.
        if (known < length && !board_.Read(device, reg, data, length)) return false;
        if (known != 0) std::copy_n(written->second.begin(), std::min<std::size_t>(known, length), data);
        return true;
    }
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        // The register byte alone is a command; it leaves the register's contents as they were.
        if (length != 0) written_[{device, reg}].assign(data, data + length);
        return true;
    }

private:
    BoardBus& board_;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::vector<std::uint8_t>> written_;
};
