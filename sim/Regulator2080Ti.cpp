#include "sim/Regulator2080Ti.h"

#include <algorithm>

#include "sim/ChipValues.h"

namespace sim {

namespace {

// Registers of both parts; two bytes, low byte first.
constexpr std::uint8_t kControl = 0xE1;
constexpr std::uint8_t kFixedVoltage = 0x21;     // a voltage code; the FBVDD part counts from 4 up
constexpr std::uint8_t kMeasuredVoltage = 0x8B;  // millivolts, read only
// Registers of the NVVDD part only.
constexpr std::uint8_t kVoltageLimit = 0x24;     // a voltage code
constexpr std::uint8_t kTrim = 0x2A;
constexpr std::uint8_t kFrequency = 0xBD;        // 10 kHz units
constexpr std::uint8_t kFrequencyCommit = 0x05;  // register-only
constexpr std::uint8_t kLoadline = 0x1E;         // one byte
constexpr std::uint8_t kLoadlineEnable = 0x2B;   // one byte
constexpr std::uint8_t kLoadlineSecond = 0x06;   // one byte
constexpr std::uint8_t kOcp = 0xEC;
constexpr std::uint8_t kLn2Mode = 0xEE;
constexpr std::uint8_t kOcpLimit = 0x44;

// 0xE1 byte 0 bit 4: the output follows 0x21.
constexpr std::uint8_t kFixedBit = 0x10;
constexpr unsigned kFbvddCodeBias = 4;

// Power-on state: automatic, with the GPU asking for 1000 mV (NVVDD) and 1375 mV (FBVDD).
constexpr std::uint16_t kNvvddRequestMv = 1000;
constexpr std::uint16_t kFbvddRequestMv = 1375;
constexpr std::uint8_t kNvvddControl[] = {0x88, 0xC2};
constexpr std::uint8_t kFbvddControl[] = {0x88, 0x42};
constexpr std::uint16_t kPowerOnNvvddCode = 192;  // 1.2 V
constexpr std::uint16_t kPowerOnLimit = 208;      // 1.3 V
constexpr std::uint16_t kPowerOnFbvddValue = 216;  // code 220, 1.375 V
constexpr std::uint16_t kPowerOnFrequency = 40;   // 400 kHz
// Loadline level 0.
constexpr std::uint8_t kPowerOnLoadline = 0x31;
constexpr std::uint8_t kPowerOnLoadlineEnable = 0x1F;
constexpr std::uint8_t kPowerOnLoadlineSecond = 0x00;
constexpr std::uint8_t kPowerOnTrim[] = {0x20, 0x3A};
// OCP enabled, LN2 mode off.
constexpr std::uint8_t kPowerOnOcp[] = {0x41, 0x23};
constexpr std::uint8_t kPowerOnLn2Mode[] = {0x5F, 0x54};
constexpr std::uint8_t kPowerOnOcpLimit[] = {0x0B, 0x0C};

}  // namespace

Regulator2080Ti::Regulator2080Ti(Rail rail)
    : rail_(rail), gpuRequestMv_(rail == Rail::Nvvdd ? kNvvddRequestMv : kFbvddRequestMv) {
    if (rail == Rail::Fbvdd) {
        Define(kControl, {kFbvddControl[0], kFbvddControl[1]});
        Define(kFixedVoltage, WordBytes(kPowerOnFbvddValue));
        Define(kMeasuredVoltage, WordBytes(0), true, false);
        return;
    }
    Define(kControl, {kNvvddControl[0], kNvvddControl[1]});
    Define(kFixedVoltage, WordBytes(kPowerOnNvvddCode));
    Define(kMeasuredVoltage, WordBytes(0), true, false);
    Define(kVoltageLimit, WordBytes(kPowerOnLimit));
    Define(kTrim, {kPowerOnTrim[0], kPowerOnTrim[1]});
    Define(kFrequency, WordBytes(kPowerOnFrequency));
    Define(kFrequencyCommit, {}, false, true);
    Define(kLoadline, {kPowerOnLoadline});
    Define(kLoadlineEnable, {kPowerOnLoadlineEnable});
    Define(kLoadlineSecond, {kPowerOnLoadlineSecond});
    Define(kOcp, {kPowerOnOcp[0], kPowerOnOcp[1]});
    Define(kLn2Mode, {kPowerOnLn2Mode[0], kPowerOnLn2Mode[1]});
    Define(kOcpLimit, {kPowerOnOcpLimit[0], kPowerOnOcpLimit[1]});
    activeFrequency_ = kPowerOnFrequency;
}

bool Regulator2080Ti::IsFixed() const {
    const std::vector<std::uint8_t> control = Value(kControl);
    return !control.empty() && (control[0] & kFixedBit) != 0;
}

std::uint16_t Regulator2080Ti::OutputMillivolts() const {
    if (!IsFixed()) return gpuRequestMv_;
    std::uint32_t code = Word(kFixedVoltage) & 0xFFFFu;
    if (rail_ == Rail::Fbvdd) {
        code += kFbvddCodeBias;
    } else {
        code = std::min<std::uint32_t>(code, Word(kVoltageLimit) & 0xFFFFu);
    }
    // More than 16 bits cannot be reported.
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(CodeMillivolts(code), 0xFFFFu));
}

void Regulator2080Ti::BeforeRead(std::uint8_t reg) {
    if (reg == kMeasuredVoltage) Poke(reg, WordBytes(OutputMillivolts()));
}

bool Regulator2080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (rail_ == Rail::Nvvdd && reg == kFrequencyCommit) {
        if (length != 0) return false;
        activeFrequency_ = static_cast<std::uint16_t>(Word(kFrequency));
        return true;
    }
    return RegisterDevice::OnWrite(reg, data, length);
}

}  // namespace sim
