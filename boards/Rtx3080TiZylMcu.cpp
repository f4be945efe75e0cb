#include "boards/Rtx3080TiZylMcu.h"

#include <array>

#include "boards/BoardIo.h"
#include "boards/McuHandshake.h"
#include "boards/Rtx3080TiRegisters.h"

namespace {

using namespace rtx3080ti;
using namespace rtx3080ti::mcu_map;

// Where each setting sits in the MCU: the register read and the offset of its value there, and the
// register written. Rails are two-byte codes, everything else one byte.
struct McuSetting {
    PanelItem item;
    std::uint8_t readRegister;
    std::uint32_t readLength;
    std::size_t offset;
    bool rail;
    std::uint8_t writeRegister;
};

constexpr McuSetting kSettings[] = {
    {PanelItem::Nvvdd, kStatus, kStatusLength, kStatusNvvddCode, true, kNvvddWrite},
    {PanelItem::Fbvdd, kStatus, kStatusLength, kStatusFbvddCode, true, kFbvddWrite},
    {PanelItem::Msvdd, kStatus, kStatusLength, kStatusMsvddCode, true, kMsvddWrite},
    {PanelItem::NvFrequency, kFrequency, kPairLength, kPairNvvdd, false, kNvFrequencyWrite},
    {PanelItem::MsFrequency, kFrequency, kPairLength, kPairMsvdd, false, kMsFrequencyWrite},
    {PanelItem::NvLoadline, kLoadline, kPairLength, kPairNvvdd, false, kNvLoadlineWrite},
    {PanelItem::MsLoadline, kLoadline, kPairLength, kPairMsvdd, false, kMsLoadlineWrite},
    {PanelItem::NvOcp, kOcp, kPairLength, kPairNvvdd, false, kNvOcpWrite},
    {PanelItem::MsOcp, kOcp, kPairLength, kPairMsvdd, false, kMsOcpWrite},
};

const McuSetting* SettingOf(PanelItem item) {
    for (const McuSetting& setting : kSettings)
        if (setting.item == item) return &setting;
    return nullptr;
}

using board_io::HighByte;
using board_io::LowByte;

// The first byte of every MCU write counts the bytes after it.
constexpr auto kRailCount = static_cast<std::uint8_t>(kRailWriteLength - 1);
constexpr auto kSettingCount = static_cast<std::uint8_t>(kSettingWriteLength - 1);

}  // namespace

Rtx3080TiZylMcu::Rtx3080TiZylMcu(std::uint32_t gpuIndex, PanelSource& panels, Sleeper& sleeper)
    : Rtx3080TiControl(gpuIndex, panels), sleeper_(sleeper) {}

bool Rtx3080TiZylMcu::Probe() {
    std::array<std::uint8_t, kIdentificationLength> id{};
    if (Read(kIdentification, id.data(), kIdentificationLength) && id[kIdAddressByte] == kIdAddressValue &&
        id[kIdBoardByte] == kIdBoardValue) {
        const std::array<std::uint8_t, kHandshakeLength> handshake = mcu::HandshakeBytes();
        if (Write(kHandshake, handshake.data(), kHandshakeLength)) SetDetected();
    }
    return IsDetected();
}

bool Rtx3080TiZylMcu::ReadItem(PanelItem item, std::int32_t& value) {
    if (item == PanelItem::Auto) {
        std::array<std::uint8_t, kStatusLength> status{};
        if (!Read(kStatus, status.data(), kStatusLength)) return false;
        value = status[kStatusNvvddMode] != kModeFixed ? 1 : 0;
        return true;
    }
    const McuSetting* setting = SettingOf(item);
    if (!setting) return false;
    std::array<std::uint8_t, kStatusLength> bytes{};
    if (!Read(setting->readRegister, bytes.data(), setting->readLength)) return false;
    value = setting->rail ? board_io::Word(bytes[setting->offset], bytes[setting->offset + 1]) : bytes[setting->offset];
    return true;
}

void Rtx3080TiZylMcu::WriteItem(PanelItem item, std::int32_t value) {
    const McuSetting* setting = SettingOf(item);
    if (!setting) return;
    if (setting->rail) {
        const std::uint8_t bytes[kRailWriteLength] = {kRailCount, kModeFixed, LowByte(value), HighByte(value)};
        Write(setting->writeRegister, bytes, kRailWriteLength);
    } else {
        const std::uint8_t bytes[kSettingWriteLength] = {kSettingCount, LowByte(value)};
        Write(setting->writeRegister, bytes, kSettingWriteLength);
    }
    // The MCU needs the time whether or not it acknowledged.
    sleeper_.Sleep(kPauseAfterWriteMs);
}

bool Rtx3080TiZylMcu::RestoreAuto(Rail rail) {
    return rail == Rail::Nvvdd ? RestoreAutoRail(kNvvddWrite, kStatusNvvddMode)
                               : RestoreAutoRail(kMsvddWrite, kStatusMsvddMode);
}

bool Rtx3080TiZylMcu::RestoreAutoRail(std::uint8_t reg, std::size_t modeByte) {
    std::array<std::uint8_t, kStatusLength> status{};
    if (!Read(kStatus, status.data(), kStatusLength)) return false;
    if (status[modeByte] == kModeFixed) {
        const std::uint8_t automatic[kRailWriteLength] = {kRailCount, kModeAutomatic, 0x00, 0x00};
        if (!Write(reg, automatic, kRailWriteLength)) return false;
    }
    SetAutoFlag();
    return true;
}

void Rtx3080TiZylMcu::AfterDefaults() { sleeper_.Sleep(kPauseAfterDefaultsMs); }

bool Rtx3080TiZylMcu::Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) const {
    return ReadRegister(kDevice, reg, data, length);
}

bool Rtx3080TiZylMcu::Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) const {
    return WriteRegister(kDevice, reg, data, length);
}
