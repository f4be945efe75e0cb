#include "sim/Mcu3080Ti.h"

#include <algorithm>
#include <array>

#include "sim/ChipValues.h"

namespace sim {

namespace {

// The MCU's registers as its firmware lays them out.
constexpr std::uint8_t kIdentification = 0xB1;  // 6 bytes, read only
constexpr std::uint8_t kHandshake = 0xB2;       // 5 bytes, write only
constexpr std::uint8_t kStatus = 0x19;          // 10 bytes: count, then mode and code of each rail
constexpr std::uint8_t kLoadline = 0x1A;        // 3 bytes: count, NVVDD, MSVDD
constexpr std::uint8_t kOcp = 0x1B;             // as 0x1A
constexpr std::uint8_t kFrequency = 0x1C;       // as 0x1A, 100 kHz units

constexpr std::uint32_t kIdentificationLength = 6;
constexpr std::uint32_t kStatusLength = 10;
constexpr std::uint32_t kPairLength = 3;
constexpr std::uint32_t kRailWriteLength = 4;     // count, mode, code low, code high
constexpr std::uint32_t kSettingWriteLength = 2;  // count, value

// Status block bytes: the mode of a rail, followed by its two-byte code.
constexpr std::size_t kNvvddMode = 1, kMsvddMode = 4, kFbvddMode = 7;
// Pair registers: byte 1 is the NVVDD regulator's, byte 2 the MSVDD regulator's.
constexpr std::size_t kPairNvvdd = 1, kPairMsvdd = 2;

constexpr std::uint8_t kModeAutomatic = 0x00;
constexpr std::uint8_t kModeFixed = 0x01;

// Identification: the board revision, the MCU's own 7-bit address, the board code, firmware 1.7.
constexpr std::uint8_t kRevision = 0x10;
constexpr std::uint8_t kOwnAddress = 0x2D;
constexpr std::uint8_t kBoardCode = 0x03;
constexpr std::uint8_t kFirmwareMajor = 1, kFirmwareMinor = 7;

// The firmware opens up for the word "HLVN" followed by its tail byte, and for nothing else.
constexpr std::array<std::uint8_t, 5> kUnlockBytes = {0x48, 0x4C, 0x56, 0x4E, 0xA5};

// Power-on state: FBVDD fixed at 220 (1.375 V), 400 kHz, loadline level 1, OCP enabled.
constexpr std::uint16_t kPowerOnFbvdd = 220;
constexpr std::uint8_t kPowerOnFrequency = 4;
constexpr std::uint8_t kPowerOnLoadline = 1;
constexpr std::uint8_t kPowerOnOcp = 1;

// Which settings register a write lands in, and where.
struct Target {
    std::uint8_t writeRegister;
    std::uint8_t readRegister;
    std::size_t offset;  // into the read register; for rails the mode byte
    bool rail;
};

constexpr Target kTargets[] = {
    {0x10, kStatus, kNvvddMode, true},      {0x11, kLoadline, kPairNvvdd, false},
    {0x12, kOcp, kPairNvvdd, false},        {0x13, kFrequency, kPairNvvdd, false},
    {0x14, kStatus, kMsvddMode, true},      {0x15, kLoadline, kPairMsvdd, false},
    {0x16, kOcp, kPairMsvdd, false},        {0x17, kFrequency, kPairMsvdd, false},
    {0x18, kStatus, kFbvddMode, true},
};

const Target* TargetOf(std::uint8_t reg) {
    for (const Target& t : kTargets)
        if (t.writeRegister == reg) return &t;
    return nullptr;
}

std::uint8_t CountByte(std::uint32_t length) { return static_cast<std::uint8_t>(length - 1); }

}  // namespace

Mcu3080Ti::Mcu3080Ti() {
    Define(kIdentification,
           {CountByte(kIdentificationLength), kRevision, kOwnAddress, kBoardCode, kFirmwareMajor, kFirmwareMinor}, true,
           false);
    Define(kHandshake, std::vector<std::uint8_t>(kUnlockBytes.size(), 0), false, true);

    Define(kStatus,
           {CountByte(kStatusLength), kModeAutomatic, LowByte(automaticCode_), HighByte(automaticCode_),
            kModeAutomatic, LowByte(automaticCode_), HighByte(automaticCode_), kModeFixed, LowByte(kPowerOnFbvdd),
            HighByte(kPowerOnFbvdd)},
           true, false);
    const auto pair = [](std::uint8_t value) {
        return std::vector<std::uint8_t>{CountByte(kPairLength), value, value};
    };
    Define(kLoadline, pair(kPowerOnLoadline), true, false);
    Define(kOcp, pair(kPowerOnOcp), true, false);
    Define(kFrequency, pair(kPowerOnFrequency), true, false);

    for (const Target& t : kTargets)
        Define(t.writeRegister, std::vector<std::uint8_t>(t.rail ? kRailWriteLength : kSettingWriteLength, 0), false,
               true);
}

bool Mcu3080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (reg == kHandshake) {
        if (length != kUnlockBytes.size() || !std::equal(kUnlockBytes.begin(), kUnlockBytes.end(), data)) return false;
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
        SetRail(target->offset, data[1], code);
    } else {
        SetPairByte(target->readRegister, target->offset, data[1]);
    }
    return true;
}

void Mcu3080Ti::SetRail(std::size_t modeByte, std::uint8_t mode, std::uint16_t code) {
    Register* status = Find(kStatus);
    // A status block poked short grows back to its width.
    if (status->value.size() < kStatusLength) status->value.resize(kStatusLength);
    const std::uint16_t shown = mode == kModeFixed ? code : automaticCode_;
    status->value[modeByte] = mode;
    status->value[modeByte + 1] = LowByte(shown);
    status->value[modeByte + 2] = HighByte(shown);
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

void Mcu3080Ti::SetNvvdd(std::uint8_t mode, std::uint16_t code) { SetRail(kNvvddMode, mode, code); }
void Mcu3080Ti::SetMsvdd(std::uint8_t mode, std::uint16_t code) { SetRail(kMsvddMode, mode, code); }
void Mcu3080Ti::SetFbvdd(std::uint16_t code) { SetRail(kFbvddMode, kModeFixed, code); }

std::uint8_t Mcu3080Ti::StatusByte(std::size_t index) const { return Find(kStatus)->value.at(index); }
std::uint16_t Mcu3080Ti::StatusWord(std::size_t index) const {
    return static_cast<std::uint16_t>(StatusByte(index) | StatusByte(index + 1) << 8);
}

std::uint8_t Mcu3080Ti::NvvddMode() const { return StatusByte(kNvvddMode); }
std::uint16_t Mcu3080Ti::NvvddCode() const { return StatusWord(kNvvddMode + 1); }
std::uint8_t Mcu3080Ti::MsvddMode() const { return StatusByte(kMsvddMode); }
std::uint16_t Mcu3080Ti::MsvddCode() const { return StatusWord(kMsvddMode + 1); }
std::uint8_t Mcu3080Ti::FbvddMode() const { return StatusByte(kFbvddMode); }
std::uint16_t Mcu3080Ti::FbvddCode() const { return StatusWord(kFbvddMode + 1); }
std::uint8_t Mcu3080Ti::NvLoadline() const { return Find(kLoadline)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsLoadline() const { return Find(kLoadline)->value.at(kPairMsvdd); }
std::uint8_t Mcu3080Ti::NvOcp() const { return Find(kOcp)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsOcp() const { return Find(kOcp)->value.at(kPairMsvdd); }
std::uint8_t Mcu3080Ti::NvFrequency() const { return Find(kFrequency)->value.at(kPairNvvdd); }
std::uint8_t Mcu3080Ti::MsFrequency() const { return Find(kFrequency)->value.at(kPairMsvdd); }

}  // namespace sim
