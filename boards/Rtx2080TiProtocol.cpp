#include "boards/Rtx2080TiProtocol.h"

#include <algorithm>
#include <array>

#include "boards/BoardIo.h"
#include "boards/Rtx2080TiRegisters.h"

namespace {

namespace rb = rtx2080ti;
namespace vr = rtx2080ti::vr;
namespace ofs = rtx2080ti::offset;
using rtx2080ti::Item;
using Bytes = std::vector<std::uint8_t>;
using OnFailure = Step::OnFailure;

std::int32_t DecodeOffset(std::uint8_t byte) {
    const int magnitude = byte & ofs::kMagnitudeMask;
    return (byte & ofs::kNegative) != 0 ? -magnitude : magnitude;
}

std::uint8_t EncodeOffset(std::int32_t offset) {
    // Callers pass offsets from the sliders' ranges, far inside seven bits.
    const int magnitude = std::min(offset < 0 ? -offset : offset, static_cast<int>(ofs::kMagnitudeMask));
    const auto byte = static_cast<std::uint8_t>(magnitude);
    return offset < 0 ? static_cast<std::uint8_t>(byte | ofs::kNegative) : byte;
}

std::int32_t LevelOf(std::uint8_t code) {
    for (int level = 0; level < rb::kLoadlineLevels; ++level)
        if (rb::kLoadlineTable[static_cast<std::size_t>(level)].loadline == code) return level;
    // A code the table lacks reads as the first level (never 0) that reaches as far in its low bits.
    const int wanted = code & rb::kLoadlineCodeMask;
    for (int level = 1; level < rb::kLoadlineLevels; ++level)
        if ((rb::kLoadlineTable[static_cast<std::size_t>(level)].loadline & rb::kLoadlineCodeMask) >= wanted)
            return level;
    return rb::kLoadlineLevels - 1;  // not reached: the top level's low bits are all set
}

// Each write of a sequence only when the one before it succeeded.
Step Then(std::uint8_t device, std::uint8_t reg, Bytes bytes) {
    return Step::Write({device, reg, std::move(bytes)}, OnFailure::End);
}
Step ThenWord(std::uint8_t device, std::uint8_t reg, unsigned value) {
    return Then(device, reg, {board_io::LowByte(value), board_io::HighByte(value)});
}
Step ThenPair(std::uint8_t device, std::uint8_t reg, const rb::Bytes2& bytes) {
    return Then(device, reg, {bytes[0], bytes[1]});
}

Plan VoltagePlan(std::int32_t code) {
    const std::uint8_t d = rb::kNvvddRegulator;
    return {ThenWord(d, vr::kSequenceTrim, vr::kSequenceStart), ThenWord(d, vr::kFixedVoltage, vr::kParkingCode),
            ThenPair(d, vr::kControl, vr::kControlFixed), ThenWord(d, vr::kVoltageLimit, vr::kLimitFixed),
            ThenWord(d, vr::kFixedVoltage, static_cast<unsigned>(code))};
}

Plan MemoryVoltagePlan(std::int32_t code) {
    const std::uint8_t d = rb::kFbvddRegulator;
    // An unreadable control word does not stop the voltage write; a refused mode change does.
    return {Step::ReadThenWrite(
                d, vr::kControl, rb::kWordLength,
                [d](const Bytes& control) -> std::vector<RegisterWrite> {
                    if ((control[0] & vr::kFixedModeBit) != 0) return {};
                    return {{d, vr::kControl, {static_cast<std::uint8_t>(control[0] | vr::kFixedModeBit), control[1]}}};
                },
                OnFailure::Continue, OnFailure::End),
            ThenWord(d, vr::kFixedVoltage, static_cast<unsigned>(code) - vr::kFbvddBias)};
}

Plan FrequencyPlan(std::int32_t step) {
    const std::uint8_t d = rb::kNvvddRegulator;
    return {ThenWord(d, vr::kFrequency, static_cast<unsigned>(step * rb::kFrequencyWireScale)),
            Then(d, vr::kFrequencyCommit, {})};
}

Plan OffsetPlan(std::uint8_t reg, std::int32_t offset) {
    const std::uint8_t target = EncodeOffset(offset);
    return {Step::ReadThenWrite(
        rb::kOffsetDevice, reg, rb::kByteLength,
        [reg, target](const Bytes& current) {
            // The device will not flip the sign of a stored offset in one write: pass through both zeros.
            const bool targetNegative = (target & ofs::kNegative) != 0;
            const bool currentNegative = (current[0] & ofs::kNegative) != 0;
            std::vector<RegisterWrite> writes;
            if (targetNegative && !currentNegative) {
                writes.push_back({rb::kOffsetDevice, reg, {ofs::kPositiveZero}});
                writes.push_back({rb::kOffsetDevice, reg, {ofs::kNegativeZero}});
            } else if (!targetNegative && currentNegative) {
                writes.push_back({rb::kOffsetDevice, reg, {ofs::kNegativeZero}});
                writes.push_back({rb::kOffsetDevice, reg, {ofs::kPositiveZero}});
            }
            writes.push_back({rb::kOffsetDevice, reg, {target}});
            return writes;
        },
        OnFailure::End, OnFailure::End)};
}

Plan LoadlinePlan(std::int32_t level) {
    if (level < 0 || level >= rb::kLoadlineLevels) return {};
    const rb::LoadlineCodes& codes = rb::kLoadlineTable[static_cast<std::size_t>(level)];
    const std::uint8_t d = rb::kNvvddRegulator;
    return {Then(d, vr::kLoadlineEnable, {codes.enable}), Then(d, vr::kLoadline, {codes.loadline}),
            Then(d, vr::kSequenceTrim, {rb::kLoadlineTrimLow, codes.trimHigh}),
            Then(d, vr::kLoadlineSecond, {codes.second})};
}

Plan OcpPlan(bool enable) {
    const std::uint8_t d = rb::kNvvddRegulator;
    return {ThenPair(d, vr::kOcp, enable ? vr::kOcpEnabled : vr::kOcpDisabled),
            ThenPair(d, vr::kLn2Mode, enable ? vr::kOcpModeEnable : vr::kOcpModeDisable),
            ThenPair(d, vr::kOcpLimit, enable ? vr::kOcpLimitEnable : vr::kOcpLimitDisable)};
}

std::int32_t FrequencyOf(std::uint8_t low, std::uint8_t high) {
    return board_io::Word(low, high) / rb::kFrequencyWireScale;
}
std::int32_t Ln2Of(std::uint8_t low, std::uint8_t high) { return rb::Bytes2{low, high} == vr::kLn2On ? 1 : 0; }
std::int32_t OcpOf(std::uint8_t low, std::uint8_t high) { return rb::Bytes2{low, high} == vr::kOcpEnabled ? 1 : 0; }

}  // namespace

std::optional<bool> Rtx2080TiProtocol::ReadFixedMode(std::uint8_t device) {
    std::array<std::uint8_t, 2> control{};
    if (!bus_.Read(device, vr::kControl, control.data(), rb::kWordLength)) return std::nullopt;
    return (control[0] & vr::kFixedModeBit) != 0;
}

std::optional<std::int32_t> Rtx2080TiProtocol::ReadVoltage(std::uint8_t device) {
    const std::optional<bool> fixed = ReadFixedMode(device);
    if (!fixed) return std::nullopt;
    std::array<std::uint8_t, 2> bytes{};
    if (*fixed) {
        if (!bus_.Read(device, vr::kFixedVoltage, bytes.data(), rb::kWordLength)) return std::nullopt;
        const unsigned bias = device == rb::kFbvddRegulator ? vr::kFbvddBias : 0u;
        return static_cast<std::int32_t>(board_io::Word(bytes[0], bytes[1]) + bias);
    }
    if (!bus_.Read(device, vr::kMeasuredVoltage, bytes.data(), rb::kWordLength)) return std::nullopt;
    return board_io::MillivoltsToCode(board_io::Word(bytes[0], bytes[1]));
}

std::optional<std::int32_t> Rtx2080TiProtocol::ReadOffset(std::uint8_t reg) {
    std::uint8_t byte = 0;
    if (!bus_.Read(rb::kOffsetDevice, reg, &byte, rb::kByteLength)) return std::nullopt;
    return DecodeOffset(byte);
}

std::optional<std::int32_t> Rtx2080TiProtocol::ReadWordItem(std::uint8_t reg,
                                                            std::int32_t (*decode)(std::uint8_t, std::uint8_t)) {
    std::array<std::uint8_t, 2> bytes{};
    if (!bus_.Read(rb::kNvvddRegulator, reg, bytes.data(), rb::kWordLength)) return std::nullopt;
    return decode(bytes[0], bytes[1]);
}

std::optional<std::int32_t> Rtx2080TiProtocol::Read(Item item) {
    switch (item) {
        case Item::Auto:
            if (const std::optional<bool> fixed = ReadFixedMode(rb::kNvvddRegulator)) return *fixed ? 0 : 1;
            return std::nullopt;
        case Item::Nvvdd:
            return ReadVoltage(rb::kNvvddRegulator);
        case Item::Fbvdd:
            return ReadVoltage(rb::kFbvddRegulator);
        case Item::Pexvdd:
            return ReadOffset(ofs::kRailPexvdd);
        case Item::Rail1v8:
            return ReadOffset(ofs::kRail1v8);
        case Item::Frequency:
            return ReadWordItem(vr::kFrequency, &FrequencyOf);
        case Item::Ln2:
            return ReadWordItem(vr::kLn2Mode, &Ln2Of);
        case Item::Ocp:
            return ReadWordItem(vr::kOcp, &OcpOf);
        case Item::Loadline: {
            std::uint8_t code = 0;
            if (!bus_.Read(rb::kNvvddRegulator, vr::kLoadline, &code, rb::kByteLength)) return std::nullopt;
            return LevelOf(code);
        }
        case Item::kCount:
            break;
    }
    return std::nullopt;
}

Plan Rtx2080TiProtocol::SetPlan(Item item, std::int32_t value) const {
    switch (item) {
        case Item::Nvvdd:
            return VoltagePlan(value);
        case Item::Fbvdd:
            return MemoryVoltagePlan(value);
        case Item::Pexvdd:
            return OffsetPlan(ofs::kRailPexvdd, value);
        case Item::Rail1v8:
            return OffsetPlan(ofs::kRail1v8, value);
        case Item::Frequency:
            return FrequencyPlan(value);
        case Item::Loadline:
            return LoadlinePlan(value);
        case Item::Ocp:
            return OcpPlan(value != 0);
        case Item::Ln2: {
            const rb::Bytes2& bytes = value == 1 ? vr::kLn2On : vr::kLn2Off;
            return {Step::Write({rb::kNvvddRegulator, vr::kLn2Mode, {bytes[0], bytes[1]}})};
        }
        case Item::Auto:
        case Item::kCount:
            break;
    }
    return {};
}

Plan Rtx2080TiProtocol::RestoreAutoPlan() const {
    const std::uint8_t d = rb::kNvvddRegulator;
    return {ThenWord(d, vr::kSequenceTrim, vr::kSequenceStart), ThenWord(d, vr::kFixedVoltage, vr::kParkingCode),
            ThenWord(d, vr::kVoltageLimit, vr::kLimitAutomatic), ThenPair(d, vr::kControl, vr::kControlAutomatic)};
}
