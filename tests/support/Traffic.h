#pragma once
// Expected I2C traffic as tables spelled with the hardware's literal bytes, compared with the
// simulated machine's transfer log in the log's own text form; the one rule for what a failed
// transfer leaves out; and the fault sweep that fails each transfer of an operation in turn.
//
// The rule (see Step): a failed transfer ends its step. Where a board does otherwise, the transfer
// says so with OnFailSkips and a comment giving the hardware's reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/TransferLog.h"

namespace traffic {

using Bytes = std::vector<std::uint8_t>;

// One expected log entry.
struct Io {
    sim::LogEntry entry;
    bool answerShown = false;                // a read written with the bytes the board answers
    std::optional<std::size_t> onFailSkips;  // the exception to the rule, see OnFailSkips
    std::optional<int> fills;                // the panel item a read fills, for the board's own kit

    bool IsTransfer() const { return entry.kind != sim::LogEntry::Kind::Pause; }
    bool IsRead() const { return entry.kind == sim::LogEntry::Kind::Read; }

    // Expected as refused by the bus.
    Io Failing() const {
        Io io = *this;
        io.entry.status = nvapi::NVAPI_ERROR;
        if (io.IsRead()) io.entry.bytes.clear();
        return io;
    }
    // When this transfer fails, only the next n entries of its step are left out and the
    // operation goes on.
    Io OnFailSkips(std::size_t n) const {
        Io io = *this;
        io.onFailSkips = n;
        return io;
    }
    template <class Item>
    Io Fills(Item item) const {
        Io io = *this;
        io.fills = static_cast<int>(item);
        return io;
    }
};

// On GPU 0, port 1, where every board's devices sit.
inline Io Transfer(sim::LogEntry::Kind kind, std::uint8_t device, std::uint8_t reg, Bytes bytes) {
    Io io;
    io.entry.kind = kind;
    io.entry.port = 1;
    io.entry.portSet = true;
    io.entry.device = device;
    io.entry.reg = reg;
    io.entry.length = static_cast<std::uint32_t>(bytes.size());
    io.entry.bytes = std::move(bytes);
    return io;
}

// A read the board answers with these bytes: R(0x40, 0xE1, {0x88, 0xC2}).
inline Io R(std::uint8_t device, std::uint8_t reg, Bytes answer) {
    Io io = Transfer(sim::LogEntry::Kind::Read, device, reg, std::move(answer));
    io.answerShown = true;
    return io;
}
// A read of `length` bytes whose answer the test does not compare.
inline Io Rn(std::uint8_t device, std::uint8_t reg, std::uint32_t length) {
    Io io = Transfer(sim::LogEntry::Kind::Read, device, reg, {});
    io.entry.length = length;
    return io;
}
inline Io W(std::uint8_t device, std::uint8_t reg, Bytes bytes) {
    return Transfer(sim::LogEntry::Kind::Write, device, reg, std::move(bytes));
}
inline Io P(std::uint32_t ms) {
    Io io;
    io.entry.kind = sim::LogEntry::Kind::Pause;
    io.entry.pauseMs = ms;
    return io;
}

using Ios = std::vector<Io>;

inline Ios operator+(Ios a, const Ios& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One step of an operation: a setting's reads and the register sequence that writes it, or one
// register operation. A failed transfer ends its step: a failed read skips what needed it, and a
// failed write ends its register sequence, which is the rest of the step.
using Step = Ios;
using Script = std::vector<Step>;

inline Script Join(std::initializer_list<Script> parts) {
    Script all;
    for (const Script& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Ios Flat(const Script& script) {
    Ios all;
    for (const Step& step : script) all = all + step;
    return all;
}

inline std::size_t TransferCount(const Ios& ios) {
    std::size_t n = 0;
    for (const Io& io : ios) n += io.IsTransfer() ? 1 : 0;
    return n;
}

// The script's traffic when transfer n (1-based, pauses not counted; 0: none) fails; `failed`
// gets that transfer.
inline Ios WithFault(const Script& script, std::size_t n, std::optional<Io>* failed = nullptr) {
    Ios traffic;
    std::size_t transfer = 0;
    for (const Step& step : script) {
        for (std::size_t i = 0; i < step.size(); ++i) {
            const Io& io = step[i];
            if (!io.IsTransfer() || ++transfer != n) {
                traffic.push_back(io);
                continue;
            }
            traffic.push_back(io.Failing());
            if (failed) *failed = io;
            if (!io.onFailSkips) break;
            i += *io.onFailSkips;
        }
    }
    return traffic;
}

// The log's text form of each expected entry.
inline std::vector<std::string> Lines(const Ios& ios) {
    std::vector<std::string> lines;
    for (const Io& io : ios)
        lines.push_back(sim::TransferLog::Format(
            io.entry, io.answerShown ? sim::TransferLog::ReadBytes::Shown : sim::TransferLog::ReadBytes::Length));
    return lines;
}
inline std::vector<std::string> Lines(const Script& script) { return Lines(Flat(script)); }

// The log from entry `from` on, each read shown the way the expected entry at its place shows
// reads (with its answer or with its length), so the two compare line by line.
inline std::vector<std::string> Logged(const sim::TransferLog& log, const Ios& like, std::size_t from = 0) {
    std::vector<std::string> lines;
    const auto& entries = log.Entries();
    for (std::size_t i = from; i < entries.size(); ++i) {
        const std::size_t at = i - from;
        const bool shown = at >= like.size() || like[at].answerShown;
        lines.push_back(sim::TransferLog::Format(
            entries[i], shown ? sim::TransferLog::ReadBytes::Shown : sim::TransferLog::ReadBytes::Length));
    }
    return lines;
}

inline void ExpectTraffic(const sim::TransferLog& log, const Ios& expected, std::size_t from = 0) {
    EXPECT_EQ(Logged(log, expected, from), Lines(expected));
}
inline void ExpectTraffic(const sim::TransferLog& log, const Script& expected, std::size_t from = 0) {
    ExpectTraffic(log, Flat(expected), from);
}

// Only the writes of the log, against expected writes.
inline void ExpectWrites(const sim::TransferLog& log, const Ios& expected) {
    std::vector<std::string> lines;
    for (const sim::LogEntry& e : log.Writes()) lines.push_back(sim::TransferLog::Format(e));
    EXPECT_EQ(lines, Lines(expected));
}

// A logged transfer as an expected one, answer and all: for traffic a reference run recorded.
inline Io FromLog(const sim::LogEntry& entry) {
    Io io;
    io.entry = entry;
    io.answerShown = true;
    return io;
}

// The script with its reads' answers left out of the comparison: after a fault, what a later read
// finds may differ from the script's answers while its place in the traffic does not.
inline Script WithoutAnswers(Script script) {
    for (Step& step : script)
        for (Io& io : step) io.answerShown = false;
    return script;
}

// The fault sweep: `round(n)` for n = 0 (no fault) and n = 1..transfers in turn. Each round sets
// up a fresh board, fails transfer n of the operation (machine.FailTransferAt(n) when n > 0), runs
// it and compares the log with the expected script cut by WithFault.
inline void SweepFaults(std::size_t transfers, const std::function<void(std::size_t n)>& round) {
    for (std::size_t n = 0; n <= transfers; ++n) {
        SCOPED_TRACE("failing transfer " + std::to_string(n) + " of " + std::to_string(transfers));
        round(n);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace traffic
