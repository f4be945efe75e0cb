#pragma once
// A board bus for tests without the simulator: registers answer reads with stated bytes, every
// transfer is recorded, and chosen transfers fail.
#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "model/BoardBus.h"

class StubBus final : public BoardBus {
public:
    using Bytes = std::vector<std::uint8_t>;

    void Answer(std::uint8_t device, std::uint8_t reg, Bytes bytes) { registers[{device, reg}] = std::move(bytes); }
    // The n-th transfer from the start (1 = the first) fails.
    void FailAt(std::size_t n) { failAt.insert(n); }

    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        const bool ok = Next() && registers.count({device, reg}) != 0;
        std::string line = "R " + Hex(device) + ":" + Hex(reg);
        if (ok) {
            const Bytes& bytes = registers[{device, reg}];
            for (std::uint32_t i = 0; i < length; ++i) data[i] = i < bytes.size() ? bytes[i] : 0;
        }
        log.push_back(line + (ok ? "" : " FAIL"));
        return ok;
    }
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        const bool ok = Next();
        std::string line = "W " + Hex(device) + ":" + Hex(reg);
        for (std::uint32_t i = 0; i < length; ++i) line += " " + Hex(data[i]);
        log.push_back(line + (ok ? "" : " FAIL"));
        if (ok) registers[{device, reg}] = Bytes(data, data + length);
        return ok;
    }

    static std::string Hex(unsigned byte) {
        static const char* digits = "0123456789ABCDEF";
        return {digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
    }

    std::map<std::pair<std::uint8_t, std::uint8_t>, Bytes> registers;
    std::vector<std::string> log;
    std::set<std::size_t> failAt;

private:
    bool Next() { return failAt.count(++transfers_) == 0; }
    std::size_t transfers_ = 0;
};

// A bus a board can own that hands every transfer to another, such as a StubBus the test keeps.
class BusOnto final : public BoardBus {
public:
    explicit BusOnto(BoardBus& to) : to_(to) {}
    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        return to_.Read(device, reg, data, length);
    }
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        return to_.Write(device, reg, data, length);
    }

private:
    BoardBus& to_;
};
