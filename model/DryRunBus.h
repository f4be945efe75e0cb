#pragma once
// A bus for a dry run: reads reach the board, writes are sent nowhere and count as taken, so a
// plan decides as it would on the board and writes nothing.
#include "model/BoardBus.h"

class DryRunBus final : public BoardBus {
public:
    explicit DryRunBus(BoardBus& board) : board_(board) {}
    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        return board_.Read(device, reg, data, length);
    }
    bool Write(std::uint8_t, std::uint8_t, const std::uint8_t*, std::uint32_t) override { return true; }

private:
    BoardBus& board_;
};
