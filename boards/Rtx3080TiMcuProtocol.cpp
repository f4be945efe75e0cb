#include "boards/Rtx3080TiMcuProtocol.h"

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
    Item item;
    std::uint8_t readRegister;
    std::uint32_t readLength;
    std::size_t offset;
    bool rail;
    std::uint8_t writeRegister;
};

constexpr McuSetting kSettings[] = {
    {Item::Nvvdd, kStatus, kStatusLength, kStatusNvvddCode, true, kNvvddWrite},
    {Item::Fbvdd, kStatus, kStatusLength, kStatusFbvddCode, true, kFbvddWrite},
    {Item::Msvdd, kStatus, kStatusLength, kStatusMsvddCode, true, kMsvddWrite},
    {Item::NvFrequency, kFrequency, kPairLength, kPairNvvdd, false, kNvFrequencyWrite},
    {Item::MsFrequency, kFrequency, kPairLength, kPairMsvdd, false, kMsFrequencyWrite},
    {Item::NvLoadline, kLoadline, kPairLength, kPairNvvdd, false, kNvLoadlineWrite},
    {Item::MsLoadline, kLoadline, kPairLength, kPairMsvdd, false, kMsLoadlineWrite},
    {Item::NvOcp, kOcp, kPairLength, kPairNvvdd, false, kNvOcpWrite},
    {Item::MsOcp, kOcp, kPairLength, kPairMsvdd, false, kMsOcpWrite},
};

const McuSetting* SettingOf(Item item) {
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

bool Rtx3080TiMcuProtocol::Probe() {
    std::array<std::uint8_t, kIdentificationLength> id{};
    if (!Bus().Read(kDevice, kIdentification, id.data(), kIdentificationLength) ||
        id[kIdAddressByte] != kIdAddressValue || id[kIdBoardByte] != kIdBoardValue)
        return false;
    const std::array<std::uint8_t, kHandshakeLength> handshake = mcu::HandshakeBytes();
    return Bus().Write(kDevice, kHandshake, handshake.data(), kHandshakeLength);
}

std::optional<std::int32_t> Rtx3080TiMcuProtocol::Read(Item item) {
    std::array<std::uint8_t, kStatusLength> bytes{};
    if (item == Item::Auto) {
        if (!Bus().Read(kDevice, kStatus, bytes.data(), kStatusLength)) return std::nullopt;
        return bytes[kStatusNvvddMode] != kModeFixed ? 1 : 0;
    }
    const McuSetting* setting = SettingOf(item);
    if (!setting || !Bus().Read(kDevice, setting->readRegister, bytes.data(), setting->readLength)) return std::nullopt;
    return setting->rail ? board_io::Word(bytes[setting->offset], bytes[setting->offset + 1]) : bytes[setting->offset];
}

Plan Rtx3080TiMcuProtocol::SetPlan(Item item, std::int32_t value) const {
    const McuSetting* setting = SettingOf(item);
    if (!setting) return {};
    RegisterWrite write{kDevice, setting->writeRegister, {}};
    if (setting->rail)
        write.bytes = {kRailCount, kModeFixed, LowByte(value), HighByte(value)};
    else
        write.bytes = {kSettingCount, LowByte(value)};
    // The MCU needs the time whether or not it acknowledged.
    return {Step::Write(write), Step::Pause(kPauseAfterWriteMs)};
}

Plan Rtx3080TiMcuProtocol::RestoreAutoPlan(Rail rail) const {
    const std::uint8_t reg = rail == Rail::Nvvdd ? kNvvddWrite : kMsvddWrite;
    const std::size_t modeByte = rail == Rail::Nvvdd ? kStatusNvvddMode : kStatusMsvddMode;
    // Only a rail that holds a fixed voltage is written.
    return {Step::ReadThenWrite(
        kDevice, kStatus, kStatusLength,
        [reg, modeByte](const std::vector<std::uint8_t>& status) -> std::vector<RegisterWrite> {
            if (status[modeByte] != kModeFixed) return {};
            return {RegisterWrite{kDevice, reg, {kRailCount, kModeAutomatic, 0x00, 0x00}}};
        },
        Step::OnFailure::End, Step::OnFailure::End)};
}

Plan Rtx3080TiMcuProtocol::AfterDefaultsPlan() const { return {Step::Pause(kPauseAfterDefaultsMs)}; }
