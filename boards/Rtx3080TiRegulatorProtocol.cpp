#include "boards/Rtx3080TiRegulatorProtocol.h"

#include "boards/BoardIo.h"
#include "boards/Rtx3080TiRegisters.h"

namespace {

using namespace rtx3080ti;
using namespace rtx3080ti::vr_map;

using board_io::HighByte;
using board_io::LowByte;
using board_io::Word;
using Bytes = std::vector<std::uint8_t>;
using OnFailure = Step::OnFailure;

// The regulator behind each setting. The switch has no default, so an item without a placement
// does not compile; a value outside the enumeration has no regulator at all.
std::optional<std::uint8_t> DeviceOf(Item item) {
    switch (item) {
        case Item::Auto:
        case Item::Nvvdd:
        case Item::NvFrequency:
        case Item::NvLoadline:
        case Item::NvOcp:
            return kNvvdd;
        case Item::Fbvdd:
            return kFbvdd;
        case Item::Msvdd:
        case Item::MsFrequency:
        case Item::MsLoadline:
        case Item::MsOcp:
            return kMsvdd;
        case Item::kCount:
            break;
    }
    return std::nullopt;
}

constexpr auto Without(std::uint8_t bits) { return static_cast<std::uint8_t>(~bits); }

RegisterWrite WordWrite(std::uint8_t device, std::uint8_t reg, std::int32_t value) {
    return {device, reg, {LowByte(value), HighByte(value)}};
}

// Reads a register of length bytes and writes back what change makes of it; change returns false
// to leave the register as it is. An unreadable register is skipped; a failed write ends the plan.
Step Change(std::uint8_t device, std::uint8_t reg, std::uint32_t length, std::function<bool(Bytes&)> change) {
    return Step::ReadThenWrite(
        device, reg, length,
        [device, reg, change](const Bytes& read) -> std::vector<RegisterWrite> {
            Bytes bytes = read;
            if (!change(bytes)) return {};
            return {RegisterWrite{device, reg, bytes}};
        },
        OnFailure::Continue, OnFailure::End);
}

Plan VoltagePlan(std::uint8_t device, std::int32_t code) {
    // The new code is in place before the mode; a regulator that will not say its mode keeps it.
    return {Step::Write(WordWrite(device, kVoltageLimit, kLimitForFixed), OnFailure::End),
            Step::Write(WordWrite(device, kFixedVoltage, code), OnFailure::End),
            Change(device, kVoltageControl, kWordLength, [](Bytes& control) {
                control[0] |= kFixedModeBit;
                control[1] |= kFixedModeCompanionBit;
                return true;
            })};
}

Plan MemoryVoltagePlan(std::int32_t code) {
    return {Change(kFbvdd, kVoltageControl, kWordLength,
                   [](Bytes& control) {
                       if (control[0] & kFixedModeBit) return false;
                       control[0] |= kFixedModeBit;
                       return true;
                   }),
            Step::Write(WordWrite(kFbvdd, kFixedVoltage, code))};
}

Plan FrequencyPlan(std::uint8_t device, std::int32_t frequency) {
    return {Step::Write(WordWrite(device, kFrequency, frequency * kFrequencyWireScale), OnFailure::End),
            Step::Write({device, kFrequencyCommit, {kFrequencyCommitValue}})};
}

Plan LoadlinePlan(std::uint8_t device, std::int32_t level) {
    // The step table covers levels 0 to 15 only.
    if (level < 0 || level >= kLoadlineLevels) return {};
    return {Change(device, kLoadline, kByteLength,
                   [level](Bytes& byte) {
                       byte[0] = static_cast<std::uint8_t>((byte[0] & kLoadlineKeptBits) |
                                                           (level & kLoadlineLevelMask));
                       return true;
                   }),
            Step::Write({device, kLoadlineStep, {kLoadlineSteps[level / kLevelsPerStep]}})};
}

Plan OcpPlan(std::uint8_t device, std::int32_t enable) {
    return {Change(device, kOcp, kWordLength,
                   [enable](Bytes& bytes) {
                       bytes[1] = static_cast<std::uint8_t>((bytes[1] & Without(kOcpMask)) |
                                                            (enable > 0 ? kOcpEnabledBits : 0));
                       return true;
                   }),
            Change(device, kOcpCompanion, kWordLength,
                   [enable](Bytes& bytes) {
                       if (enable != 0) bytes[1] |= kOcpCompanionBit;
                       else bytes[1] &= Without(kOcpCompanionBit);
                       return true;
                   }),
            Change(device, kOcpMode, kWordLength,
                   [enable](Bytes& bytes) {
                       bytes[0] = static_cast<std::uint8_t>((bytes[0] & kOcpModeKeptBits) |
                                                            (enable > 0 ? kOcpModeEnabled : 0));
                       return true;
                   }),
            Step::Write(WordWrite(device, kOcpLimit, enable != 0 ? kOcpLimitEnabled : kOcpLimitDisabled))};
}

}  // namespace

bool Rtx3080TiRegulatorProtocol::ReadWord(std::uint8_t device, std::uint8_t reg, std::uint8_t (&bytes)[2]) {
    return Bus().Read(device, reg, bytes, kWordLength);
}

std::optional<std::int32_t> Rtx3080TiRegulatorProtocol::Read(Item item) {
    const std::optional<std::uint8_t> placement = DeviceOf(item);
    if (!placement) return std::nullopt;
    const std::uint8_t device = *placement;
    std::uint8_t bytes[2] = {};
    switch (item) {
        case Item::Auto:
            if (!ReadWord(device, kVoltageControl, bytes)) return std::nullopt;
            return (bytes[0] & kFixedModeBit) == 0 ? 1 : 0;
        case Item::Nvvdd:
        case Item::Fbvdd:
        case Item::Msvdd:
            return ReadVoltage(device);
        case Item::NvFrequency:
        case Item::MsFrequency:
            if (!ReadWord(device, kFrequency, bytes)) return std::nullopt;
            return Word(bytes[0], bytes[1]) / kFrequencyWireScale;
        case Item::NvLoadline:
        case Item::MsLoadline:
            if (!Bus().Read(device, kLoadline, bytes, kByteLength)) return std::nullopt;
            return bytes[0] & kLoadlineLevelMask;
        case Item::NvOcp:
        case Item::MsOcp:
            if (!ReadWord(device, kOcp, bytes)) return std::nullopt;
            return (bytes[1] & kOcpMask) != 0 ? 1 : 0;
        case Item::kCount:
            break;
    }
    return std::nullopt;
}

std::optional<std::int32_t> Rtx3080TiRegulatorProtocol::ReadVoltage(std::uint8_t device) {
    std::uint8_t control[2] = {};
    if (!ReadWord(device, kVoltageControl, control)) return std::nullopt;
    std::uint8_t bytes[2] = {};
    if (control[0] & kFixedModeBit) {
        if (!ReadWord(device, kFixedVoltage, bytes)) return std::nullopt;
        return Word(bytes[0], bytes[1]);
    }
    // The top four bits of the measurement are status, not voltage.
    if (!ReadWord(device, kMeasuredVoltage, bytes)) return std::nullopt;
    return board_io::MillivoltsToCode(Word(bytes[0], bytes[1] & kMeasuredHighMask));
}

Plan Rtx3080TiRegulatorProtocol::SetPlan(Item item, std::int32_t value) const {
    const std::optional<std::uint8_t> placement = DeviceOf(item);
    if (!placement) return {};
    const std::uint8_t device = *placement;
    switch (item) {
        case Item::Nvvdd:
        case Item::Msvdd:
            return VoltagePlan(device, value);
        case Item::Fbvdd:
            return MemoryVoltagePlan(value);
        case Item::NvFrequency:
        case Item::MsFrequency:
            return FrequencyPlan(device, value);
        case Item::NvLoadline:
        case Item::MsLoadline:
            return LoadlinePlan(device, value);
        case Item::NvOcp:
        case Item::MsOcp:
            return OcpPlan(device, value);
        case Item::Auto:
        case Item::kCount:
            break;
    }
    return {};
}

Plan Rtx3080TiRegulatorProtocol::RestoreAutoPlan(Rail rail) const {
    const std::uint8_t device = rail == Rail::Nvvdd ? kNvvdd : kMsvdd;
    return {Change(device, kVoltageControl, kWordLength,
                   [](Bytes& control) {
                       control[0] &= Without(kFixedModeBit);
                       control[1] &= Without(kFixedModeCompanionBit);
                       return true;
                   }),
            Step::Write(WordWrite(device, kVoltageLimit, kLimitForAutomatic), OnFailure::End)};
}
