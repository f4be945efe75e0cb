#include "sim/Regulator2080Ti.h"

#include <algorithm>

#include "boards/Rtx2080TiRegisters.h"

namespace sim {

namespace {
namespace rb = rtx2080ti;
namespace vr = rtx2080ti::vr;

std::vector<std::uint8_t> WordBytes(unsigned value) {
    return {static_cast<std::uint8_t>(value & 0xFFu), static_cast<std::uint8_t>((value >> 8) & 0xFFu)};
}

constexpr std::uint16_t kNvvddRequestMv = 1000;
constexpr std::uint16_t kFbvddRequestMv = 1375;
constexpr std::uint8_t kFbvddControlHigh = 0x42;
}  // namespace

Regulator2080Ti::Regulator2080Ti(Rail rail)
    : rail_(rail), gpuRequestMv_(rail == Rail::Nvvdd ? kNvvddRequestMv : kFbvddRequestMv) {
    if (rail == Rail::Fbvdd) {
        Define(vr::kControl, {vr::kControlAutomatic[0], kFbvddControlHigh});
        Define(vr::kFixedVoltage, WordBytes(rb::kDefaultFbvdd - vr::kFbvddBias));
        Define(vr::kMeasuredVoltage, WordBytes(0), true, false);
        return;
    }
    const rb::LoadlineCodes& level0 = rb::kLoadlineTable[0];
    Define(vr::kControl, {vr::kControlAutomatic[0], vr::kControlAutomatic[1]});
    Define(vr::kFixedVoltage, WordBytes(vr::kParkingCode));
    Define(vr::kMeasuredVoltage, WordBytes(0), true, false);
    Define(vr::kVoltageLimit, WordBytes(vr::kLimitAutomatic));
    Define(vr::kSequenceTrim, {rb::kLoadlineTrimLow, level0.trimHigh});
    Define(vr::kFrequency, WordBytes(rb::kDefaultFrequency * rb::kFrequencyWireScale));
    Define(vr::kFrequencyCommit, {}, false, true);
    Define(vr::kLoadline, {level0.loadline});
    Define(vr::kLoadlineEnable, {level0.enable});
    Define(vr::kLoadlineSecond, {level0.second});
    Define(vr::kOcp, {vr::kOcpEnabled[0], vr::kOcpEnabled[1]});
    Define(vr::kLn2Mode, {vr::kLn2Off[0], vr::kLn2Off[1]});
    Define(vr::kOcpLimit, {vr::kOcpLimitEnable[0], vr::kOcpLimitEnable[1]});
    activeFrequency_ = static_cast<std::uint16_t>(Word(vr::kFrequency));
}

bool Regulator2080Ti::IsFixed() const {
    const std::vector<std::uint8_t> control = Value(vr::kControl);
    return !control.empty() && (control[0] & vr::kFixedModeBit) != 0;
}

std::uint16_t Regulator2080Ti::OutputMillivolts() const {
    if (!IsFixed()) return gpuRequestMv_;
    std::uint32_t code = Word(vr::kFixedVoltage) & 0xFFFFu;
    if (rail_ == Rail::Fbvdd) {
        code += vr::kFbvddBias;
    } else {
        code = std::min<std::uint32_t>(code, Word(vr::kVoltageLimit) & 0xFFFFu);
    }
    // 6.25 mV steps, rounded down; more than 16 bits cannot be reported.
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(code * 625u / 100u, 0xFFFFu));
}

void Regulator2080Ti::BeforeRead(std::uint8_t reg) {
    if (reg == vr::kMeasuredVoltage) Poke(reg, WordBytes(OutputMillivolts()));
}

bool Regulator2080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (rail_ == Rail::Nvvdd && reg == vr::kFrequencyCommit) {
        if (length != 0) return false;
        activeFrequency_ = static_cast<std::uint16_t>(Word(vr::kFrequency));
        return true;
    }
    return RegisterDevice::OnWrite(reg, data, length);
}

}  // namespace sim
