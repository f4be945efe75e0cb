#pragma once
// The RTX 2080 Ti board as data: how the board is recognised, its three I2C devices and their
// registers, the byte patterns the regulators expect, the loadline codes, the offset rails'
// voltage tables, the items' ranges and the board's defaults, as its protocol drives them. The
// simulator keeps its own maps of the chips, so the two check each other.
#include <array>
#include <cstddef>
#include <cstdint>

namespace rtx2080ti {

using Bytes2 = std::array<std::uint8_t, 2>;

// Recognition: PCI subsystem ID (device in the upper half, vendor in the lower) and VBIOS text.
constexpr std::uint32_t kSubsystemDevice = 0x2589;
constexpr std::uint32_t kReferenceSubsystem = 0x12FA10DE;  // needs the VBIOS below as well
constexpr const wchar_t* kReferenceVbios = L"90.02.17.40.88";

// Every transfer to the board goes through this port of the GPU's I2C bus.
constexpr std::uint8_t kPort = 1;

// Devices, 8-bit addresses (7-bit 0x20, 0x22, 0x12).
constexpr std::uint8_t kNvvddRegulator = 0x40;
constexpr std::uint8_t kFbvddRegulator = 0x44;
constexpr std::uint8_t kOffsetDevice = 0x24;

constexpr std::uint32_t kWordLength = 2;
constexpr std::uint32_t kByteLength = 1;

namespace vr {

// Both regulators.
constexpr std::uint8_t kControl = 0xE1;          // byte 0 bit 4: output fixed by kFixedVoltage
constexpr std::uint8_t kFixedModeBit = 0x10;
constexpr std::uint8_t kFixedVoltage = 0x21;     // a voltage code (FBVDD: code minus kFbvddBias)
constexpr std::uint8_t kMeasuredVoltage = 0x8B;  // millivolts, all 16 bits
constexpr unsigned kFbvddBias = 4;

// NVVDD regulator only.
constexpr std::uint8_t kVoltageLimit = 0x24;     // a voltage code
constexpr std::uint8_t kSequenceTrim = 0x2A;     // voltage sequences and the loadline share it
constexpr std::uint8_t kFrequency = 0xBD;        // 10 kHz units
constexpr std::uint8_t kFrequencyCommit = 0x05;  // register-only write
constexpr std::uint8_t kLoadline = 0x1E;
constexpr std::uint8_t kLoadlineEnable = 0x2B;
constexpr std::uint8_t kLoadlineSecond = 0x06;
constexpr std::uint8_t kOcp = 0xEC;
constexpr std::uint8_t kLn2Mode = 0xEE;          // also written by the OCP sequence
constexpr std::uint8_t kOcpLimit = 0x44;         // a register, not the FBVDD regulator's address

// NVVDD control words, whole.
constexpr Bytes2 kControlAutomatic = {0x88, 0xC2};
constexpr Bytes2 kControlFixed = {0x98, 0xE2};

// Voltage sequences: both start from trim 0x0001 and the 1.2 V parking code; the limit is lowered
// for automatic control and raised to 1.75 V before a fixed code is set.
constexpr std::uint16_t kSequenceStart = 0x0001;
constexpr std::uint16_t kParkingCode = 192;
constexpr std::uint16_t kLimitAutomatic = 208;
constexpr std::uint16_t kLimitFixed = 280;

// OCP: what each of the three registers receives, and the one pattern that reads as enabled.
constexpr Bytes2 kOcpEnabled = {0x41, 0x23};
constexpr Bytes2 kOcpDisabled = {0x41, 0x03};
constexpr Bytes2 kOcpModeEnable = {0x54, 0x5F};
constexpr Bytes2 kOcpModeDisable = {0x14, 0x1F};
constexpr Bytes2 kOcpLimitEnable = {0x0B, 0x0C};
constexpr Bytes2 kOcpLimitDisable = {0x0B, 0x06};

// LN2 mode: the one pattern that reads as on, and what switches it off.
constexpr Bytes2 kLn2On = {0x1F, 0x14};
constexpr Bytes2 kLn2Off = {0x5F, 0x54};

}  // namespace vr

namespace offset {

constexpr std::uint8_t kRail1v8 = 0x01;
constexpr std::uint8_t kRailPexvdd = 0x02;
// Sign-magnitude bytes: bit 7 set is negative, bits 0 to 6 the magnitude.
constexpr std::uint8_t kNegative = 0x80;
constexpr std::uint8_t kMagnitudeMask = 0x7F;
constexpr std::uint8_t kPositiveZero = 0x00;
constexpr std::uint8_t kNegativeZero = 0x80;

}  // namespace offset

// Loadline levels 0 to 11 and what each register of the level receives.
struct LoadlineCodes {
    std::uint8_t loadline;   // register 0x1E, also how the level is read back
    std::uint8_t second;     // register 0x06
    std::uint8_t enable;     // register 0x2B
    std::uint8_t trimHigh;   // second byte of register 0x2A
};
constexpr std::uint8_t kLoadlineTrimLow = 0x20;  // first byte of register 0x2A
constexpr std::uint8_t kLoadlineCodeMask = 0x0F; // what the fallback search compares
constexpr std::array<LoadlineCodes, 12> kLoadlineTable = {{
    {0x31, 0x00, 0x1F, 0x3A},
    {0x10, 0x00, 0x00, 0x02},
    {0x12, 0x00, 0x00, 0x1A},
    {0x14, 0x08, 0x00, 0x1A},
    {0x16, 0x08, 0x00, 0x1A},
    {0x17, 0x08, 0x00, 0x1A},
    {0x18, 0x10, 0x00, 0x1A},
    {0x19, 0x10, 0x00, 0x1A},
    {0x1A, 0x10, 0x00, 0x1A},
    {0x1B, 0x10, 0x00, 0x1A},
    {0x1D, 0x18, 0x00, 0x1A},
    {0x1F, 0x18, 0x00, 0x1A},
}};
constexpr int kLoadlineLevels = static_cast<int>(kLoadlineTable.size());

// Voltages of the offset rails, for offsets from the table's lowest offset upwards.
constexpr int kPexvddLowestOffset = -4;
constexpr std::array<double, 20> kPexvddVolts = {0.938, 0.970, 1.008, 1.039, 1.078, 1.113, 1.149,
                                                 1.184, 1.220, 1.255, 1.291, 1.325, 1.355, 1.381,
                                                 1.403, 1.418, 1.429, 1.437, 1.444, 1.449};
constexpr int kRail1v8LowestOffset = -1;
constexpr std::array<double, 5> kRail1v8Volts = {1.67, 1.80, 1.95, 2.07, 2.20};

// What the sliders cover: slider position = value - base, held within 0 .. top - base.
constexpr int kNvvddBase = 128, kNvvddTop = 256;    // voltage codes, 0.8 V to 1.6 V
constexpr int kFbvddBase = 192, kFbvddTop = 280;    // voltage codes, 1.2 V to 1.75 V
constexpr int kPexvddBase = kPexvddLowestOffset;
constexpr int kPexvddTop = kPexvddLowestOffset + static_cast<int>(kPexvddVolts.size()) - 1;
constexpr int kRail1v8Base = kRail1v8LowestOffset;
constexpr int kRail1v8Top = kRail1v8LowestOffset + static_cast<int>(kRail1v8Volts.size()) - 1;
constexpr int kFrequencyBase = 3, kFrequencyTop = 10;  // 100 kHz steps: 300 kHz to 1000 kHz
constexpr int kKilohertzPerStep = 100;
constexpr int kFrequencyWireScale = 10;                // the regulator counts in 10 kHz

// The board's defaults.
constexpr bool kDefaultOcp = true;
constexpr bool kDefaultLn2 = false;
constexpr int kDefaultFbvdd = 220;     // 1.375 V
constexpr int kDefaultPexvdd = 0;
constexpr int kDefaultRail1v8 = 0;
constexpr int kDefaultFrequency = 4;   // 400 kHz
constexpr int kDefaultLoadline = 0;

}  // namespace rtx2080ti
