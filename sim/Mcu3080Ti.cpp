#include "sim/Mcu3080Ti.h"

#include <algorithm>
#include <array>

#include "boards/McuHandshake.h"
#include "boards/Rtx3080TiRegisters.h"

namespace sim {

namespace {

using namespace rtx3080ti;
using namespace rtx3080ti::mcu_map;

constexpr std::uint8_t kRevision = 0x10;
constexpr std::uint8_t kFirmwareMajor = 1, kFirmwareMinor = 7;

// Which settings register a write lands in, and where.
struct Target {
    std::uint8_t writeRegister;
    std::uint8_t readRegister;
    std::size_t offset;  // into the read register; for rails the mode byte
    bool rail;
};

constexpr Target kTargets[] = {
    {kNvvddWrite, kStatus, kStatusNvvddMode, true},      {kMsvddWrite, kStatus, kStatusMsvddMode, true},
    {kFbvddWrite, kStatus, kStatusFbvddMode, true},      {kNvLoadlineWrite, kLoadline, kPairNvvdd, false},
    {kMsLoadlineWrite, kLoadline, kPairMsvdd, false},    {kNvOcpWrite, kOcp, kPairNvvdd, false},
    {kMsOcpWrite, kOcp, kPairMsvdd, false},              {kNvFrequencyWrite, kFrequency, kPairNvvdd, false},
    {kMsFrequencyWrite, kFrequency, kPairMsvdd, false},
};

const Target* TargetOf(std::uint8_t reg) {
    for (const Target& t : kTargets)
        if (t.writeRegister == reg) return &t;
    return nullptr;
}

std::uint8_t Low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t High(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t CountByte(std::uint32_t length) { return static_cast<std::uint8_t>(length - 1); }

}  // namespace

Mcu3080Ti::Mcu3080Ti() {
    Define(kIdentification,
           {CountByte(kIdentificationLength), kRevision, kIdAddressValue, kIdBoardValue, kFirmwareMajor, kFirmwareMinor},
           true, false);
    Define(kHandshake, std::vector<std::uint8_t>(kHandshakeLength, 0), false, true);

    const auto fixed = static_cast<std::uint16_t>(kDefaultFbvdd);
    Define(kStatus,
           {CountByte(kStatusLength), kModeAutomatic, Low(automaticCode_), High(automaticCode_), kModeAutomatic,
            Low(automaticCode_), High(automaticCode_), kModeFixed, Low(fixed), High(fixed)},
           true, false);
    const auto pair = [](int value) {
        return std::vector<std::uint8_t>{CountByte(kPairLength), static_cast<std::uint8_t>(value),
                                         static_cast<std::uint8_t>(value)};
    };
    Define(kLoadline, pair(kDefaultLoadline), true, false);
    Define(kOcp, pair(kDefaultOcp), true, false);
    Define(kFrequency, pair(kDefaultFrequency), true, false);

    for (const Target& t : kTargets)
        Define(t.writeRegister, std::vector<std::uint8_t>(t.rail ? kRailWriteLength : kSettingWriteLength, 0), false,
               true);
}

bool Mcu3080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (reg == kHandshake) {
        const std::array<std::uint8_t, kHandshakeLength> expected = mcu::HandshakeBytes();
        if (length != kHandshakeLength || !std::equal(expected.begin(), expected.end(), data)) return false;
        locked_ = false;
        return true;
    }
    if (locked_) return false;
    const Target* target = TargetOf(reg);
    if (!target) return false;
    const std::uint32_t expectedLength = target->rail ? kRailWriteLength : kSettingWriteLength;
    if (length != expectedLength || data[0] != CountByte(length)) return false;

    if (target->rail) {
        const auto code = static_cast<std::uint16_t>(data[2] | data[3] << 8);
        SetRail(target->offset, target->offset + 1, data[1], code);
    } else {
        SetPairByte(target->readRegister, target->offset, data[1]);
    }
    return true;
}

void Mcu3080Ti::SetRail(std::size_t modeByte, std::size_t codeByte, std::uint8_t mode, std::uint16_t code) {
    Register* status = Find(kStatus);
    // A status block poked short grows back to its width.
    if (status->value.size() < kStatusLength) status->value.resize(kStatusLength);
    const std::uint16_t shown = mode == kModeFixed ? code : automaticCode_;
    status->value[modeByte] = mode;
    status->value[codeByte] = Low(shown);
    status->value[codeByte + 1] = High(shown);
}

void Mcu3080Ti::SetPairByte(std::uint8_t reg, std::size_t index, std::uint8_t value) {
    Register* pair = Find(reg);
    if (pair->value.size() < kPairLength) pair->value.resize(kPairLength);
    pair->value[index] = value;
}

void Mcu3080Ti::SetAutomaticCode(std::uint16_t code) {
    automaticCode_ = code;
    if (NvvddMode() != kModeFixed) SetNvvdd(NvvddMode(), code);
    if (MsvddMode() != kModeFixed) SetMsvdd(MsvddMode(), code);
}

void Mcu3080Ti::SetNvvdd(std::uint8_t mode, std::uint16_t code) {
    SetRail(kStatusNvvddMode, kStatusNvvddCode, mode, code);
}
void Mcu3080Ti::SetMsvdd(std::uint8_t mode, std::uint16_t code) {
    SetRail(kStatusMsvddMode, kStatusMsvddCode, mode, code);
}
void Mcu3080Ti::SetFbvdd(std::uint16_t code) { SetRail(kStatusFbvddMode, kStatusFbvddCode, kModeFixed, code); }

std::uint8_t Mcu3080Ti::StatusByte(std::size_t index) const { return Find(kStatus)->value.at(index); }
std::uint16_t Mcu3080Ti::StatusWord(std::size_t index) const {
    return static_cast<std::uint16_t>(StatusByte(index) | StatusByte(index + 1) << 8);
}

std::uint8_t Mcu3080Ti::NvvddMode() const { return StatusByte(kStatusNvvddMode); }
std::uint16_t Mcu3080Ti::NvvddCode() const { return StatusWord(kStatusNvvddCode); }
std::uint8_t Mcu3080Ti::MsvddMode() const { return StatusByte(kStatusMsvddMode); }
std::uint16_t Mcu3080Ti::MsvddCode() const { return StatusWord(kStatusMsvddCode); }
std::uint8_t Mcu3080Ti::FbvddMode() const { return StatusByte(kStatusFbvddMode); }
std::uint16_t Mcu3080Ti::FbvddCode() const { return StatusWord(kStatusFbvddCode); }
std::uint8_t Mcu3080Ti::NvLoadline() const { return Find(kLoadline)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsLoadline() const { return Find(kLoadline)->value.at(kPairMsvdd); }
std::uint8_t Mcu3080Ti::NvOcp() const { return Find(kOcp)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsOcp() const { return Find(kOcp)->value.at(kPairMsvdd); }
std::uint8_t Mcu3080Ti::NvFrequency() const { return Find(kFrequency)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsFrequency() const { return Find(kFrequency)->value.at(kPairMsvdd); }

}  // namespace sim
