#include "sim/Regulator3080Ti.h"

#include "boards/Rtx3080TiRegisters.h"

namespace sim {

namespace {

using namespace rtx3080ti;
using namespace rtx3080ti::vr_map;

std::vector<std::uint8_t> WordBytes(int value) {
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF)};
}

// Bits the controller never touches, set at power-on so that losing them shows.
constexpr std::uint8_t kOtherControlBits = 0x02;  // 0xE1 byte 0
constexpr std::uint8_t kOtherControlBitsHigh = 0x40;  // 0xE1 byte 1
constexpr std::uint8_t kOtherLoadlineBits = 0x40;  // 0x1E bit 6
constexpr std::uint8_t kOtherOcpBits = 0x01;  // 0xEC byte 1
constexpr std::uint8_t kOtherOcpModeBits = 0x0A;  // 0xEE byte 0

}  // namespace

Regulator3080Ti::Regulator3080Ti(Rail rail) : rail_(rail) {
    if (rail == Rail::Fbvdd) {
        Define(kVoltageControl, {static_cast<std::uint8_t>(kFixedModeBit | kOtherControlBits), 0x00});
        Define(kFixedVoltage, WordBytes(kDefaultFbvdd));
        Define(kMeasuredVoltage, {0x00, 0x00}, true, false);
        return;
    }
    Define(kVoltageControl, {kOtherControlBits, kOtherControlBitsHigh});
    Define(kFixedVoltage, WordBytes(kFallbackRailVoltage));
    Define(kMeasuredVoltage, {0x00, 0x00}, true, false);
    Define(kVoltageLimit, WordBytes(kLimitForAutomatic));
    Define(kFrequency, WordBytes(kDefaultFrequency * kFrequencyWireScale));
    Define(kFrequencyCommit, {kFrequencyCommitValue});
    Define(kLoadline, {static_cast<std::uint8_t>(kOtherLoadlineBits | kDefaultLoadline)});
    Define(kLoadlineStep, {kLoadlineSteps[kDefaultLoadline / kLevelsPerStep]});
    Define(kOcp, {0x00, static_cast<std::uint8_t>(kOcpEnabledBits | kOtherOcpBits)});
    Define(kOcpCompanion, {0x00, kOcpCompanionBit});
    Define(kOcpMode, {static_cast<std::uint8_t>(kOcpModeEnabled | kOtherOcpModeBits), 0x00});
    Define(kOcpLimit, WordBytes(kOcpLimitEnabled));
}

bool Regulator3080Ti::IsFixed() const {
    const std::vector<std::uint8_t> control = Value(kVoltageControl);
    return !control.empty() && (control[0] & kFixedModeBit) != 0;
}

std::uint16_t Regulator3080Ti::FixedCode() const { return static_cast<std::uint16_t>(Word(kFixedVoltage)); }

std::uint16_t Regulator3080Ti::MeasuredMillivolts() const {
    if (!IsFixed()) return automaticMillivolts_;
    return static_cast<std::uint16_t>(FixedCode() * 625u / 100u);
}

void Regulator3080Ti::SetFixed(std::uint16_t code) {
    std::vector<std::uint8_t> control = Value(kVoltageControl);
    control.resize(2);
    control[0] |= kFixedModeBit;
    if (rail_ != Rail::Fbvdd) control[1] |= kFixedModeCompanionBit;
    Poke(kVoltageControl, control);
    Poke(kFixedVoltage, WordBytes(code));
}

void Regulator3080Ti::SetAutomatic() {
    std::vector<std::uint8_t> control = Value(kVoltageControl);
    control.resize(2);
    control[0] = static_cast<std::uint8_t>(control[0] & ~kFixedModeBit);
    control[1] = static_cast<std::uint8_t>(control[1] & ~kFixedModeCompanionBit);
    Poke(kVoltageControl, control);
}

void Regulator3080Ti::BeforeRead(std::uint8_t reg) {
    if (reg != kMeasuredVoltage) return;
    const std::uint16_t millivolts = MeasuredMillivolts();
    Find(kMeasuredVoltage)->value = {static_cast<std::uint8_t>(millivolts & 0xFF),
                                     static_cast<std::uint8_t>(((millivolts >> 8) & kMeasuredHighMask) | status_ << 4)};
}

}  // namespace sim
