#pragma once
// The RTX 3080 Ti board as data: the items' ranges and the board's defaults, the register map of
// its microcontroller (MCU) and the register map of its three voltage regulators, as both
// protocols drive them. The simulator keeps its own maps of the chips, so the two check each other.
#include <cstddef>
#include <cstdint>

namespace rtx3080ti {

// What the sliders cover, as board values: slider position = value - base, clamped to the top.
constexpr int kNvvddBase = 128, kNvvddTop = 256;   // 0.8 V to 1.6 V
constexpr int kFbvddBase = 192, kFbvddTop = 248;   // 1.2 V to 1.55 V
constexpr int kMsvddBase = 128, kMsvddTop = 256;   // 0.8 V to 1.6 V
constexpr int kFrequencyBase = 3, kFrequencyTop = 10;  // 100 kHz units: 300 kHz to 1000 kHz
constexpr int kKilohertzPerFrequencyUnit = 100;
constexpr int kLoadlineLevels = 16;                // "Level 0" to "Level 15"
constexpr int kOcpStates = 2;                      // "Disable", "Enable"
constexpr int kFallbackLoadline = 1;               // shown for a level outside 0 to 15

// The board's defaults. NVVDD and MSVDD default to automatic control.
constexpr int kDefaultFbvdd = 220;      // 1.375 V
constexpr int kDefaultFrequency = 4;    // 400 kHz
constexpr int kDefaultLoadline = 1;
constexpr int kDefaultOcp = 1;          // enabled
// A voltage a profile lacks or a board would not report: 1.2 V.
constexpr int kFallbackRailVoltage = 192;

// Every transfer to the board goes through this port of the GPU's I2C bus.
constexpr std::uint8_t kPort = 1;

// The PCI subsystem device ID (upper half of NvAPI's subsystem ID) that marks the board.
constexpr std::uint32_t kSubsystemDevice = 0x3998;

namespace mcu_map {

constexpr std::uint8_t kDevice = 0x5A;  // 7-bit address 0x2D

// Identification, read only by the detection probe.
constexpr std::uint8_t kIdentification = 0xB1;
constexpr std::uint32_t kIdentificationLength = 6;
constexpr std::size_t kIdAddressByte = 2;
constexpr std::uint8_t kIdAddressValue = 0x2D;
constexpr std::size_t kIdBoardByte = 3;
constexpr std::uint8_t kIdBoardValue = 0x03;
constexpr std::uint8_t kHandshake = 0xB2;
constexpr std::uint32_t kHandshakeLength = 5;

// Registers read. Byte 0 of each is not interpreted.
constexpr std::uint8_t kStatus = 0x19;
constexpr std::uint32_t kStatusLength = 10;
constexpr std::size_t kStatusNvvddMode = 1, kStatusNvvddCode = 2;
constexpr std::size_t kStatusMsvddMode = 4, kStatusMsvddCode = 5;
constexpr std::size_t kStatusFbvddMode = 7, kStatusFbvddCode = 8;
constexpr std::uint8_t kLoadline = 0x1A;
constexpr std::uint8_t kOcp = 0x1B;
constexpr std::uint8_t kFrequency = 0x1C;
constexpr std::uint32_t kPairLength = 3;  // byte 1 NVVDD, byte 2 MSVDD
constexpr std::size_t kPairNvvdd = 1, kPairMsvdd = 2;

// Registers written. The first byte of each write counts the bytes after it.
constexpr std::uint8_t kNvvddWrite = 0x10;
constexpr std::uint8_t kNvLoadlineWrite = 0x11;
constexpr std::uint8_t kNvOcpWrite = 0x12;
constexpr std::uint8_t kNvFrequencyWrite = 0x13;
constexpr std::uint8_t kMsvddWrite = 0x14;
constexpr std::uint8_t kMsLoadlineWrite = 0x15;
constexpr std::uint8_t kMsOcpWrite = 0x16;
constexpr std::uint8_t kMsFrequencyWrite = 0x17;
constexpr std::uint8_t kFbvddWrite = 0x18;
constexpr std::uint32_t kRailWriteLength = 4;     // count, mode, code low, code high
constexpr std::uint32_t kSettingWriteLength = 2;  // count, value

constexpr std::uint8_t kModeAutomatic = 0x00;
constexpr std::uint8_t kModeFixed = 0x01;  // any other mode byte reads as automatic

constexpr unsigned kPauseAfterWriteMs = 100;
constexpr unsigned kPauseAfterDefaultsMs = 200;

}  // namespace mcu_map

namespace vr_map {

constexpr std::uint8_t kNvvdd = 0x40;
constexpr std::uint8_t kFbvdd = 0x44;
constexpr std::uint8_t kMsvdd = 0x7C;

// Voltage control. Byte 0 bit 4: output follows the fixed value in kFixedVoltage. The NVVDD and
// MSVDD regulators keep byte 1 bit 5 in step with it.
constexpr std::uint8_t kVoltageControl = 0xE1;
constexpr std::uint8_t kFixedModeBit = 0x10;
constexpr std::uint8_t kFixedModeCompanionBit = 0x20;
constexpr std::uint8_t kFixedVoltage = 0x21;           // a voltage code
constexpr std::uint8_t kMeasuredVoltage = 0x8B;        // millivolts in the low 12 bits
constexpr std::uint8_t kMeasuredHighMask = 0x0F;
constexpr std::uint8_t kVoltageLimit = 0x24;           // a voltage code
constexpr std::uint16_t kLimitForFixed = 0x0100;       // 1.6 V, before a fixed voltage is set
constexpr std::uint16_t kLimitForAutomatic = 0x00D0;   // 1.3 V, when automatic control returns

constexpr std::uint8_t kFrequency = 0xBD;              // 10 kHz units
constexpr int kFrequencyWireScale = 10;                // the items' 100 kHz units to the wire's
constexpr std::uint8_t kFrequencyCommit = 0x05;
constexpr std::uint8_t kFrequencyCommitValue = 0x00;

constexpr std::uint8_t kLoadline = 0x1E;
constexpr std::uint8_t kLoadlineLevelMask = 0x0F;
constexpr std::uint8_t kLoadlineKeptBits = 0xD0;       // bits 7, 6, 4 stay; bit 5 is cleared
constexpr std::uint8_t kLoadlineStep = 0x06;
// Step value per group of four levels (0-3, 4-7, 8-11, 12-15).
constexpr std::uint8_t kLoadlineSteps[] = {0x00, 0x08, 0x10, 0x18};
constexpr int kLevelsPerStep = 4;

constexpr std::uint8_t kOcp = 0xEC;                    // byte 1
constexpr std::uint8_t kOcpMask = 0x60;
constexpr std::uint8_t kOcpEnabledBits = 0x20;
constexpr std::uint8_t kOcpCompanion = 0x44;           // byte 1
constexpr std::uint8_t kOcpCompanionBit = 0x08;
constexpr std::uint8_t kOcpMode = 0xEE;                // byte 0 bits 6-7
constexpr std::uint8_t kOcpModeKeptBits = 0x3F;
constexpr std::uint8_t kOcpModeEnabled = 0x40;
constexpr std::uint8_t kOcpLimit = 0x6A;
constexpr std::uint16_t kOcpLimitEnabled = 0x0163;     // 355
constexpr std::uint16_t kOcpLimitDisabled = 0x02A3;    // 675

constexpr std::uint32_t kWordLength = 2;
constexpr std::uint32_t kByteLength = 1;

}  // namespace vr_map

}  // namespace rtx3080ti
