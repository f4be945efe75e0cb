#include "sim/Regulator3080Ti.h"

#include "sim/ChipValues.h"

namespace sim {

namespace {

// The regulator's registers; two bytes each, low byte first, unless noted.
constexpr std::uint8_t kVoltageControl = 0xE1;
constexpr std::uint8_t kFixedVoltage = 0x21;     // a voltage code
constexpr std::uint8_t kMeasuredVoltage = 0x8B;  // millivolts in the low 12 bits, status above
constexpr std::uint8_t kVoltageLimit = 0x24;     // a voltage code
constexpr std::uint8_t kFrequency = 0xBD;        // 10 kHz units
constexpr std::uint8_t kFrequencyCommit = 0x05;  // one byte
constexpr std::uint8_t kLoadline = 0x1E;         // one byte, bits 0-3 the level
constexpr std::uint8_t kLoadlineStep = 0x06;     // one byte
constexpr std::uint8_t kOcp = 0xEC;              // byte 1 bits 5-6
constexpr std::uint8_t kOcpCompanion = 0x44;     // byte 1 bit 3
constexpr std::uint8_t kOcpMode = 0xEE;          // byte 0 bits 6-7
constexpr std::uint8_t kOcpLimit = 0x6A;

// 0xE1: byte 0 bit 4 puts the output on 0x21; the NVVDD and MSVDD parts mirror it in byte 1 bit 5.
constexpr std::uint8_t kFixedBit = 0x10;
constexpr std::uint8_t kFixedMirrorBit = 0x20;
constexpr std::uint8_t kMeasuredHighBits = 0x0F;

// Power-on state: outputs under the GPU's control with 0x21 at 192 (1.2 V) and the limit at 208
// (1.3 V), FBVDD fixed at 220 (1.375 V), 400 kHz, loadline level 1 (step 0x00), OCP enabled with
// its companions (0x44 bit 3, 0xEE 0x40, 0x6A at 355).
constexpr std::uint16_t kPowerOnCode = 192;
constexpr std::uint16_t kPowerOnLimit = 208;
constexpr std::uint16_t kPowerOnFbvdd = 220;
constexpr std::uint16_t kPowerOnFrequency = 40;
constexpr std::uint8_t kPowerOnLoadline = 0x01;
constexpr std::uint8_t kPowerOnLoadlineStep = 0x00;
constexpr std::uint8_t kPowerOnOcp = 0x20;
constexpr std::uint8_t kPowerOnOcpCompanion = 0x08;
constexpr std::uint8_t kPowerOnOcpMode = 0x40;
constexpr std::uint16_t kPowerOnOcpLimit = 355;

// Bits the controller never touches, set at power-on so that losing them shows.
constexpr std::uint8_t kOtherControlBits = 0x02;      // 0xE1 byte 0
constexpr std::uint8_t kOtherControlBitsHigh = 0x40;  // 0xE1 byte 1
constexpr std::uint8_t kOtherLoadlineBits = 0x40;     // 0x1E bit 6
constexpr std::uint8_t kOtherOcpBits = 0x01;          // 0xEC byte 1
constexpr std::uint8_t kOtherOcpModeBits = 0x0A;      // 0xEE byte 0

}  // namespace

Regulator3080Ti::Regulator3080Ti(Rail rail) : rail_(rail) {
    if (rail == Rail::Fbvdd) {
        Define(kVoltageControl, {static_cast<std::uint8_t>(kFixedBit | kOtherControlBits), 0x00});
        Define(kFixedVoltage, WordBytes(kPowerOnFbvdd));
        Define(kMeasuredVoltage, {0x00, 0x00}, true, false);
        return;
    }
    Define(kVoltageControl, {kOtherControlBits, kOtherControlBitsHigh});
    Define(kFixedVoltage, WordBytes(kPowerOnCode));
    Define(kMeasuredVoltage, {0x00, 0x00}, true, false);
    Define(kVoltageLimit, WordBytes(kPowerOnLimit));
    Define(kFrequency, WordBytes(kPowerOnFrequency));
    Define(kFrequencyCommit, {0x00});
    Define(kLoadline, {static_cast<std::uint8_t>(kOtherLoadlineBits | kPowerOnLoadline)});
    Define(kLoadlineStep, {kPowerOnLoadlineStep});
    Define(kOcp, {0x00, static_cast<std::uint8_t>(kPowerOnOcp | kOtherOcpBits)});
    Define(kOcpCompanion, {0x00, kPowerOnOcpCompanion});
    Define(kOcpMode, {static_cast<std::uint8_t>(kPowerOnOcpMode | kOtherOcpModeBits), 0x00});
    Define(kOcpLimit, WordBytes(kPowerOnOcpLimit));
}

bool Regulator3080Ti::IsFixed() const {
    const std::vector<std::uint8_t> control = Value(kVoltageControl);
    return !control.empty() && (control[0] & kFixedBit) != 0;
}

std::uint16_t Regulator3080Ti::FixedCode() const { return static_cast<std::uint16_t>(Word(kFixedVoltage)); }

std::uint16_t Regulator3080Ti::MeasuredMillivolts() const {
    if (!IsFixed()) return automaticMillivolts_;
    return static_cast<std::uint16_t>(CodeMillivolts(FixedCode()));
}

void Regulator3080Ti::SetFixed(std::uint16_t code) {
    std::vector<std::uint8_t> control = Value(kVoltageControl);
    control.resize(2);
    control[0] |= kFixedBit;
    if (rail_ != Rail::Fbvdd) control[1] |= kFixedMirrorBit;
    Poke(kVoltageControl, control);
    Poke(kFixedVoltage, WordBytes(code));
}

void Regulator3080Ti::SetAutomatic() {
    std::vector<std::uint8_t> control = Value(kVoltageControl);
    control.resize(2);
    control[0] = static_cast<std::uint8_t>(control[0] & ~kFixedBit);
    control[1] = static_cast<std::uint8_t>(control[1] & ~kFixedMirrorBit);
    Poke(kVoltageControl, control);
}

void Regulator3080Ti::BeforeRead(std::uint8_t reg) {
    if (reg != kMeasuredVoltage) return;
    const std::uint16_t millivolts = MeasuredMillivolts();
    Find(kMeasuredVoltage)->value = {LowByte(millivolts),
                                     static_cast<std::uint8_t>((HighByte(millivolts) & kMeasuredHighBits) | status_ << 4)};
}

}  // namespace sim
