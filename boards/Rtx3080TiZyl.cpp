#include "boards/Rtx3080TiZyl.h"

#include <optional>

#include "boards/BoardIo.h"
#include "boards/Rtx3080TiRegisters.h"

namespace {

using namespace rtx3080ti;
using namespace rtx3080ti::vr_map;

using board_io::HighByte;
using board_io::LowByte;
using board_io::Word;

// The regulator behind each setting. The switch has no default, so an item without a placement
// does not compile; a value outside the enumeration has no regulator at all.
std::optional<std::uint8_t> DeviceOf(PanelItem item) {
    switch (item) {
        case PanelItem::Auto:
        case PanelItem::Nvvdd:
        case PanelItem::NvFrequency:
        case PanelItem::NvLoadline:
        case PanelItem::NvOcp:
            return kNvvdd;
        case PanelItem::Fbvdd:
            return kFbvdd;
        case PanelItem::Msvdd:
        case PanelItem::MsFrequency:
        case PanelItem::MsLoadline:
        case PanelItem::MsOcp:
            return kMsvdd;
    }
    return std::nullopt;
}

constexpr auto Without(std::uint8_t bits) { return static_cast<std::uint8_t>(~bits); }

}  // namespace

Rtx3080TiZyl::Rtx3080TiZyl(std::uint32_t gpuIndex, PanelSource& panels) : Rtx3080TiControl(gpuIndex, panels) {}

bool Rtx3080TiZyl::Probe() {
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(Gpus(), GpuIndex());
    if (subsystem && board_io::SubsystemDevice(*subsystem) == kSubsystemDevice) SetDetected();
    return IsDetected();
}

bool Rtx3080TiZyl::ReadItem(PanelItem item, std::int32_t& value) {
    const std::optional<std::uint8_t> placement = DeviceOf(item);
    if (!placement) return false;
    const std::uint8_t device = *placement;
    std::uint8_t bytes[2] = {};
    std::uint8_t byte = 0;
    switch (item) {
        case PanelItem::Auto:
            if (!ReadWord(device, kVoltageControl, bytes)) return false;
            value = (bytes[0] & kFixedModeBit) == 0 ? 1 : 0;
            return true;
        case PanelItem::Nvvdd:
        case PanelItem::Fbvdd:
        case PanelItem::Msvdd:
            return ReadVoltage(device, value);
        case PanelItem::NvFrequency:
        case PanelItem::MsFrequency:
            if (!ReadWord(device, kFrequency, bytes)) return false;
            value = Word(bytes[0], bytes[1]) / kFrequencyWireScale;
            return true;
        case PanelItem::NvLoadline:
        case PanelItem::MsLoadline:
            if (!ReadByte(device, kLoadline, byte)) return false;
            value = byte & kLoadlineLevelMask;
            return true;
        case PanelItem::NvOcp:
        case PanelItem::MsOcp:
            if (!ReadWord(device, kOcp, bytes)) return false;
            value = (bytes[1] & kOcpMask) != 0 ? 1 : 0;
            return true;
    }
    return false;
}

void Rtx3080TiZyl::WriteItem(PanelItem item, std::int32_t value) {
    const std::optional<std::uint8_t> placement = DeviceOf(item);
    if (!placement) return;
    const std::uint8_t device = *placement;
    switch (item) {
        case PanelItem::Auto:
            break;
        case PanelItem::Nvvdd:
        case PanelItem::Msvdd:
            WriteVoltage(device, value);
            break;
        case PanelItem::Fbvdd:
            WriteMemoryVoltage(value);
            break;
        case PanelItem::NvFrequency:
        case PanelItem::MsFrequency:
            WriteSwitchingFrequency(device, value);
            break;
        case PanelItem::NvLoadline:
        case PanelItem::MsLoadline:
            WriteLoadline(device, value);
            break;
        case PanelItem::NvOcp:
        case PanelItem::MsOcp:
            WriteOcp(device, value);
            break;
    }
}

bool Rtx3080TiZyl::RestoreAuto(Rail rail) { return RestoreAutoVoltage(rail == Rail::Nvvdd ? kNvvdd : kMsvdd); }

bool Rtx3080TiZyl::ReadVoltage(std::uint8_t device, std::int32_t& code) const {
    std::uint8_t control[2] = {};
    if (!ReadWord(device, kVoltageControl, control)) return false;
    std::uint8_t bytes[2] = {};
    if (control[0] & kFixedModeBit) {
        if (!ReadWord(device, kFixedVoltage, bytes)) return false;
        code = Word(bytes[0], bytes[1]);
        return true;
    }
    // The top four bits of the measurement are status, not voltage.
    if (!ReadWord(device, kMeasuredVoltage, bytes)) return false;
    code = board_io::MillivoltsToCode(Word(bytes[0], bytes[1] & kMeasuredHighMask));
    return true;
}

bool Rtx3080TiZyl::WriteVoltage(std::uint8_t device, std::int32_t code) const {
    if (!WriteWordValue(device, kVoltageLimit, kLimitForFixed)) return false;
    if (!WriteWordValue(device, kFixedVoltage, code)) return false;
    std::uint8_t control[2] = {};
    // The new code is in place; a regulator that will not say its mode keeps it.
    if (!ReadWord(device, kVoltageControl, control)) return true;
    control[0] |= kFixedModeBit;
    control[1] |= kFixedModeCompanionBit;
    return WriteWord(device, kVoltageControl, control);
}

bool Rtx3080TiZyl::WriteMemoryVoltage(std::int32_t code) const {
    std::uint8_t control[2] = {};
    if (ReadWord(kFbvdd, kVoltageControl, control) && (control[0] & kFixedModeBit) == 0) {
        control[0] |= kFixedModeBit;
        if (!WriteWord(kFbvdd, kVoltageControl, control)) return false;
    }
    return WriteWordValue(kFbvdd, kFixedVoltage, code);
}

bool Rtx3080TiZyl::RestoreAutoVoltage(std::uint8_t device) {
    std::uint8_t control[2] = {};
    if (ReadWord(device, kVoltageControl, control)) {
        control[0] &= Without(kFixedModeBit);
        control[1] &= Without(kFixedModeCompanionBit);
        if (!WriteWord(device, kVoltageControl, control)) return false;
    }
    if (!WriteWordValue(device, kVoltageLimit, kLimitForAutomatic)) return false;
    SetAutoFlag();
    return true;
}

void Rtx3080TiZyl::WriteSwitchingFrequency(std::uint8_t device, std::int32_t frequency) const {
    if (!WriteWordValue(device, kFrequency, frequency * kFrequencyWireScale)) return;
    WriteByte(device, kFrequencyCommit, kFrequencyCommitValue);
}

void Rtx3080TiZyl::WriteLoadline(std::uint8_t device, std::int32_t level) const {
    // The step table covers levels 0 to 15 only.
    if (level < 0 || level >= kLoadlineLevels) return;
    std::uint8_t byte = 0;
    if (ReadByte(device, kLoadline, byte)) {
        byte = static_cast<std::uint8_t>((byte & kLoadlineKeptBits) | (level & kLoadlineLevelMask));
        if (!WriteByte(device, kLoadline, byte)) return;
    }
    WriteByte(device, kLoadlineStep, kLoadlineSteps[level / kLevelsPerStep]);
}

bool Rtx3080TiZyl::WriteOcp(std::uint8_t device, std::int32_t enable) const {
    std::uint8_t bytes[2] = {};
    if (ReadWord(device, kOcp, bytes)) {
        bytes[1] = static_cast<std::uint8_t>((bytes[1] & Without(kOcpMask)) | (enable > 0 ? kOcpEnabledBits : 0));
        if (!WriteWord(device, kOcp, bytes)) return false;
    }
    if (ReadWord(device, kOcpCompanion, bytes)) {
        if (enable != 0) bytes[1] |= kOcpCompanionBit;
        else bytes[1] &= Without(kOcpCompanionBit);
        if (!WriteWord(device, kOcpCompanion, bytes)) return false;
    }
    if (ReadWord(device, kOcpMode, bytes)) {
        bytes[0] = static_cast<std::uint8_t>((bytes[0] & kOcpModeKeptBits) | (enable > 0 ? kOcpModeEnabled : 0));
        if (!WriteWord(device, kOcpMode, bytes)) return false;
    }
    return WriteWordValue(device, kOcpLimit, enable != 0 ? kOcpLimitEnabled : kOcpLimitDisabled);
}

bool Rtx3080TiZyl::ReadWord(std::uint8_t device, std::uint8_t reg, std::uint8_t (&bytes)[2]) const {
    return ReadRegister(device, reg, bytes, kWordLength);
}

bool Rtx3080TiZyl::WriteWord(std::uint8_t device, std::uint8_t reg, const std::uint8_t (&bytes)[2]) const {
    return WriteRegister(device, reg, bytes, kWordLength);
}

bool Rtx3080TiZyl::WriteWordValue(std::uint8_t device, std::uint8_t reg, std::int32_t value) const {
    const std::uint8_t bytes[2] = {LowByte(value), HighByte(value)};
    return WriteWord(device, reg, bytes);
}

bool Rtx3080TiZyl::ReadByte(std::uint8_t device, std::uint8_t reg, std::uint8_t& byte) const {
    return ReadRegister(device, reg, &byte, kByteLength);
}

bool Rtx3080TiZyl::WriteByte(std::uint8_t device, std::uint8_t reg, std::uint8_t byte) const {
    return WriteRegister(device, reg, &byte, kByteLength);
}
