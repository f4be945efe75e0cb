#include "boards/Rtx2080TiZyl.h"

#include <algorithm>
#include <array>
#include <string>

#include "boards/BoardIo.h"
#include "boards/PanelText.h"
#include "boards/Rtx2080TiRegisters.h"
#include "gpu/AnsiText.h"
#include "gpu/NvApi.h"
#include "res/ControlIds.h"

namespace rb = rtx2080ti;
namespace vr = rtx2080ti::vr;
namespace ofs = rtx2080ti::offset;

namespace {

// The panel's controls by what they show on this board.
constexpr int kNvvddSlider = ctl::kRow1Slider, kNvvddValue = ctl::kRow1Value;
constexpr int kFbvddSlider = ctl::kRow2Slider, kFbvddValue = ctl::kRow2Value;
constexpr int kPexvddSlider = ctl::kRow3Slider, kPexvddValue = ctl::kRow3Value;
constexpr int kFrequencySlider = ctl::kRow4Slider, kFrequencyValue = ctl::kRow4Value;
constexpr int kRail1v8Slider = ctl::kRow5Slider, kRail1v8Value = ctl::kRow5Value;
constexpr int kLn2List = ctl::kList1Left;
constexpr int kLoadlineList = ctl::kList2Left;
constexpr int kOcpList = ctl::kList3Left;
constexpr int kSwitchItems = 2;  // "Disable", "Enable"

struct LabelStep {
    int id;
    const wchar_t* text;
};
constexpr std::array<LabelStep, 8> kLabels = {{
    {ctl::kRow1Label, L"NVVDD"},
    {ctl::kRow2Label, L"FBVDD"},
    {ctl::kRow3Label, L"PEXVDD"},
    {ctl::kRow4Label, L"PWM Freq."},
    {ctl::kRow5Label, L"+1.8V"},
    {ctl::kList1LeftLabel, L"LN2 VRM mode"},
    {ctl::kList2LeftLabel, L"NVVDD Loadline"},
    {ctl::kList3LeftLabel, L"NVVDD OCP"},
}};
constexpr std::array<int, 3> kHiddenLabels = {ctl::kList1RightLabel, ctl::kList2RightLabel, ctl::kList3RightLabel};

struct SliderStep {
    int id;
    int base, top;
};
constexpr std::array<SliderStep, 5> kSliders = {{
    {kNvvddSlider, rb::kNvvddBase, rb::kNvvddTop},
    {kFbvddSlider, rb::kFbvddBase, rb::kFbvddTop},
    {kPexvddSlider, rb::kPexvddBase, rb::kPexvddTop},
    {kFrequencySlider, rb::kFrequencyBase, rb::kFrequencyTop},
    {kRail1v8Slider, rb::kRail1v8Base, rb::kRail1v8Top},
}};
constexpr std::array<int, 5> kValueFields = {kNvvddValue, kFbvddValue, kPexvddValue, kFrequencyValue,
                                             kRail1v8Value};
constexpr std::array<int, 3> kHiddenLists = {ctl::kList1Right, ctl::kList2Right, ctl::kList3Right};

int DecodeOffset(std::uint8_t byte) {
    const int magnitude = byte & ofs::kMagnitudeMask;
    return (byte & ofs::kNegative) != 0 ? -magnitude : magnitude;
}

std::uint8_t EncodeOffset(int offset) {
    // Callers pass offsets from the sliders' ranges, far inside seven bits.
    const int magnitude = std::min(offset < 0 ? -offset : offset, static_cast<int>(ofs::kMagnitudeMask));
    const auto byte = static_cast<std::uint8_t>(magnitude);
    return offset < 0 ? static_cast<std::uint8_t>(byte | ofs::kNegative) : byte;
}

template <std::size_t N>
std::wstring OffsetText(int offset, int lowest, const std::array<double, N>& volts,
                        std::wstring (*format)(double)) {
    const int index = offset - lowest;
    if (index < 0 || index >= static_cast<int>(N)) return panel_text::Format("offset %+d", offset);
    return format(volts[static_cast<std::size_t>(index)]);
}

std::wstring PexvddText(int offset) {
    return OffsetText(offset, rb::kPexvddLowestOffset, rb::kPexvddVolts, &panel_text::Volts3);
}

std::wstring Rail1v8Text(int offset) {
    return OffsetText(offset, rb::kRail1v8LowestOffset, rb::kRail1v8Volts, &panel_text::Volts2);
}

std::wstring FrequencyText(int step) { return panel_text::Kilohertz(step * rb::kKilohertzPerStep); }

}  // namespace

Rtx2080TiZyl::Rtx2080TiZyl(std::uint32_t gpuIndex, PanelSource& panels)
    : gpus_(*GpuList::Instance()), gpuIndex_(gpuIndex), panels_(panels) {
    detected_ = Probe();
}

bool Rtx2080TiZyl::Probe() const {
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(gpus_, gpuIndex_);
    if (!subsystem) return false;
    if (board_io::SubsystemDevice(*subsystem) == rb::kSubsystemDevice) return true;
    if (*subsystem != rb::kReferenceSubsystem) return false;

    char version[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    if (nvapi::Api().GPU_GetVbiosVersionString(gpus_.Handle(gpuIndex_), version) != nvapi::NVAPI_OK) return false;
    version[sizeof version - 1] = '\0';  // a driver that fills all 64 bytes must not run us off the end
    return AnsiToWide(version) == rb::kReferenceVbios;
}

// ---- Transfers ----

bool Rtx2080TiZyl::ReadRegister(std::uint8_t device, std::uint8_t reg, std::uint8_t* data,
                                std::uint32_t length) const {
    return board_io::Read(gpus_, gpuIndex_, rb::kPort, device, reg, data, length);
}

bool Rtx2080TiZyl::WriteRegister(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data,
                                 std::uint32_t length) const {
    return board_io::Write(gpus_, gpuIndex_, rb::kPort, device, reg, data, length);
}

bool Rtx2080TiZyl::WriteByte(std::uint8_t device, std::uint8_t reg, std::uint8_t value) const {
    return WriteRegister(device, reg, &value, rb::kByteLength);
}

bool Rtx2080TiZyl::WritePair(std::uint8_t device, std::uint8_t reg, std::uint8_t first, std::uint8_t second) const {
    const std::array<std::uint8_t, 2> bytes = {first, second};
    return WriteRegister(device, reg, bytes.data(), rb::kWordLength);
}

bool Rtx2080TiZyl::WriteWord(std::uint8_t device, std::uint8_t reg, unsigned value) const {
    return WritePair(device, reg, board_io::LowByte(value), board_io::HighByte(value));
}

// ---- Reads ----

std::optional<bool> Rtx2080TiZyl::ReadFixedMode(std::uint8_t device) const {
    std::array<std::uint8_t, 2> control{};
    if (!ReadRegister(device, vr::kControl, control.data(), rb::kWordLength)) return std::nullopt;
    return (control[0] & vr::kFixedModeBit) != 0;
}

std::optional<int> Rtx2080TiZyl::ReadVoltage(std::uint8_t device) const {
    const std::optional<bool> fixed = ReadFixedMode(device);
    if (!fixed) return std::nullopt;
    std::array<std::uint8_t, 2> bytes{};
    if (*fixed) {
        if (!ReadRegister(device, vr::kFixedVoltage, bytes.data(), rb::kWordLength)) return std::nullopt;
        const unsigned bias = device == rb::kFbvddRegulator ? vr::kFbvddBias : 0u;
        return static_cast<int>(board_io::Word(bytes[0], bytes[1]) + bias);
    }
    if (!ReadRegister(device, vr::kMeasuredVoltage, bytes.data(), rb::kWordLength)) return std::nullopt;
    return board_io::MillivoltsToCode(board_io::Word(bytes[0], bytes[1]));
}

std::optional<int> Rtx2080TiZyl::ReadOffset(std::uint8_t reg) const {
    std::uint8_t byte = 0;
    if (!ReadRegister(rb::kOffsetDevice, reg, &byte, rb::kByteLength)) return std::nullopt;
    return DecodeOffset(byte);
}

std::optional<int> Rtx2080TiZyl::ReadFrequency() const {
    std::array<std::uint8_t, 2> bytes{};
    if (!ReadRegister(rb::kNvvddRegulator, vr::kFrequency, bytes.data(), rb::kWordLength)) return std::nullopt;
    return board_io::Word(bytes[0], bytes[1]) / rb::kFrequencyWireScale;
}

std::optional<int> Rtx2080TiZyl::ReadLoadline() const {
    std::uint8_t code = 0;
    if (!ReadRegister(rb::kNvvddRegulator, vr::kLoadline, &code, rb::kByteLength)) return std::nullopt;
    for (int level = 0; level < rb::kLoadlineLevels; ++level)
        if (rb::kLoadlineTable[static_cast<std::size_t>(level)].loadline == code) return level;
    // A code the table lacks reads as the first level (never 0) that reaches as far in its low bits.
    const int wanted = code & rb::kLoadlineCodeMask;
    for (int level = 1; level < rb::kLoadlineLevels; ++level)
        if ((rb::kLoadlineTable[static_cast<std::size_t>(level)].loadline & rb::kLoadlineCodeMask) >= wanted)
            return level;
    return rb::kLoadlineLevels - 1;  // not reached: the top level's low bits are all set
}

std::optional<int> Rtx2080TiZyl::ReadLn2Mode() const {
    std::array<std::uint8_t, 2> bytes{};
    if (!ReadRegister(rb::kNvvddRegulator, vr::kLn2Mode, bytes.data(), rb::kWordLength)) return std::nullopt;
    return bytes == vr::kLn2On ? 1 : 0;
}

std::optional<int> Rtx2080TiZyl::ReadOcp() const {
    std::array<std::uint8_t, 2> bytes{};
    if (!ReadRegister(rb::kNvvddRegulator, vr::kOcp, bytes.data(), rb::kWordLength)) return std::nullopt;
    return bytes == vr::kOcpEnabled ? 1 : 0;
}

// ---- Write sequences ----

bool Rtx2080TiZyl::RestoreAutoVoltage() {
    const std::uint8_t d = rb::kNvvddRegulator;
    const bool done = WriteWord(d, vr::kSequenceTrim, vr::kSequenceStart) &&
                      WriteWord(d, vr::kFixedVoltage, vr::kParkingCode) &&
                      WriteWord(d, vr::kVoltageLimit, vr::kLimitAutomatic) &&
                      WritePair(d, vr::kControl, vr::kControlAutomatic[0], vr::kControlAutomatic[1]);
    if (done) auto_ = true;
    return done;
}

bool Rtx2080TiZyl::WriteVoltage(int code) const {
    const std::uint8_t d = rb::kNvvddRegulator;
    return WriteWord(d, vr::kSequenceTrim, vr::kSequenceStart) && WriteWord(d, vr::kFixedVoltage, vr::kParkingCode) &&
           WritePair(d, vr::kControl, vr::kControlFixed[0], vr::kControlFixed[1]) &&
           WriteWord(d, vr::kVoltageLimit, vr::kLimitFixed) &&
           WriteWord(d, vr::kFixedVoltage, static_cast<unsigned>(code));
}

bool Rtx2080TiZyl::WriteMemoryVoltage(int code) const {
    const std::uint8_t d = rb::kFbvddRegulator;
    std::array<std::uint8_t, 2> control{};
    // An unreadable control word does not stop the voltage write; a refused mode change does.
    if (ReadRegister(d, vr::kControl, control.data(), rb::kWordLength) && (control[0] & vr::kFixedModeBit) == 0) {
        if (!WritePair(d, vr::kControl, static_cast<std::uint8_t>(control[0] | vr::kFixedModeBit), control[1]))
            return false;
    }
    return WriteWord(d, vr::kFixedVoltage, static_cast<unsigned>(code) - vr::kFbvddBias);
}

bool Rtx2080TiZyl::WriteSwitchingFrequency(int step) const {
    const std::uint8_t d = rb::kNvvddRegulator;
    return WriteWord(d, vr::kFrequency, static_cast<unsigned>(step * rb::kFrequencyWireScale)) &&
           WriteRegister(d, vr::kFrequencyCommit, nullptr, 0);
}

bool Rtx2080TiZyl::WriteOffset(std::uint8_t reg, int offset) const {
    const std::uint8_t target = EncodeOffset(offset);
    std::uint8_t current = 0;
    if (!ReadRegister(rb::kOffsetDevice, reg, &current, rb::kByteLength)) return false;
    // The device will not flip the sign of a stored offset in one write: pass through both zeros.
    const bool targetNegative = (target & ofs::kNegative) != 0;
    const bool currentNegative = (current & ofs::kNegative) != 0;
    if (targetNegative && !currentNegative) {
        if (!WriteByte(rb::kOffsetDevice, reg, ofs::kPositiveZero) ||
            !WriteByte(rb::kOffsetDevice, reg, ofs::kNegativeZero))
            return false;
    } else if (!targetNegative && currentNegative) {
        if (!WriteByte(rb::kOffsetDevice, reg, ofs::kNegativeZero) ||
            !WriteByte(rb::kOffsetDevice, reg, ofs::kPositiveZero))
            return false;
    }
    return WriteByte(rb::kOffsetDevice, reg, target);
}

bool Rtx2080TiZyl::WriteLoadline(int level) const {
    if (level < 0 || level >= rb::kLoadlineLevels) return false;
    const rb::LoadlineCodes& codes = rb::kLoadlineTable[static_cast<std::size_t>(level)];
    const std::uint8_t d = rb::kNvvddRegulator;
    return WriteByte(d, vr::kLoadlineEnable, codes.enable) && WriteByte(d, vr::kLoadline, codes.loadline) &&
           WritePair(d, vr::kSequenceTrim, rb::kLoadlineTrimLow, codes.trimHigh) &&
           WriteByte(d, vr::kLoadlineSecond, codes.second);
}

bool Rtx2080TiZyl::WriteOcp(bool enable) const {
    const std::uint8_t d = rb::kNvvddRegulator;
    const rb::Bytes2& ocp = enable ? vr::kOcpEnabled : vr::kOcpDisabled;
    const rb::Bytes2& mode = enable ? vr::kOcpModeEnable : vr::kOcpModeDisable;
    const rb::Bytes2& limit = enable ? vr::kOcpLimitEnable : vr::kOcpLimitDisable;
    return WriteRegister(d, vr::kOcp, ocp.data(), rb::kWordLength) &&
           WriteRegister(d, vr::kLn2Mode, mode.data(), rb::kWordLength) &&
           WriteRegister(d, vr::kOcpLimit, limit.data(), rb::kWordLength);
}

bool Rtx2080TiZyl::WriteLn2Mode(bool on) const {
    const rb::Bytes2& bytes = on ? vr::kLn2On : vr::kLn2Off;
    return WriteRegister(rb::kNvvddRegulator, vr::kLn2Mode, bytes.data(), rb::kWordLength);
}

// ---- Panel ----

void Rtx2080TiZyl::Activate() {
    ControlPanel* panel = panels_.ControllerPanel();
    if (!panel) return;
    panel_ = panel;
    ConfigurePanel();
    RefreshPanel();
}

void Rtx2080TiZyl::ConfigurePanel() {
    ControlPanel& p = *panel_;
    if (p.HasControl(ctl::kAuto)) {
        p.SetCheck(ctl::kAuto, auto_);
        p.Show(ctl::kAuto, true);
    }
    for (const LabelStep& label : kLabels) {
        if (!p.HasControl(label.id)) continue;
        p.SetText(label.id, label.text);
        p.Show(label.id, true);
    }
    for (int id : kHiddenLabels)
        if (p.HasControl(id)) p.Show(id, false);
    for (const SliderStep& slider : kSliders) {
        if (!p.HasControl(slider.id)) continue;
        p.SetRange(slider.id, 0, slider.top - slider.base);
        p.Show(slider.id, true);
    }
    for (int id : kValueFields)
        if (p.HasControl(id)) p.Show(id, true);

    const auto fillList = [&p](int id, int count, std::wstring (*text)(int)) {
        if (!p.HasControl(id)) return;
        p.ClearList(id);
        for (int i = 0; i < count; ++i) p.InsertItem(id, i, text(i));
        p.Show(id, true);
    };
    const auto switchText = [](int i) { return std::wstring(i == 0 ? panel_text::Disable() : panel_text::Enable()); };
    fillList(kLn2List, kSwitchItems, switchText);
    fillList(kLoadlineList, rb::kLoadlineLevels, &panel_text::Level);
    fillList(kOcpList, kSwitchItems, switchText);
    for (int id : kHiddenLists)
        if (p.HasControl(id)) p.Show(id, false);
}

void Rtx2080TiZyl::ShowSlider(int slider, int value, int base, int top) {
    panel_->SetPos(slider, std::clamp(value, base, top) - base);
}

bool Rtx2080TiZyl::ShowNvvdd() {
    const std::optional<int> code = ReadVoltage(rb::kNvvddRegulator);
    if (!code) return false;
    panel_->SetText(kNvvddValue, panel_text::VoltageCode(*code));
    ShowSlider(kNvvddSlider, *code, rb::kNvvddBase, rb::kNvvddTop);
    return true;
}

void Rtx2080TiZyl::RefreshPanel() {
    ControlPanel& p = *panel_;

    unread_.clear();
    const auto read = [this](bool succeeded, int control) {
        if (!succeeded) unread_.push_back(control);
        return succeeded;
    };

    const std::optional<bool> fixed = ReadFixedMode(rb::kNvvddRegulator);
    read(fixed.has_value(), ctl::kAuto);
    auto_ = fixed.has_value() && !*fixed;
    p.SetCheck(ctl::kAuto, auto_);
    p.Enable(kNvvddSlider, !auto_);

    read(ShowNvvdd(), kNvvddValue);

    if (const std::optional<int> code = ReadVoltage(rb::kFbvddRegulator); read(code.has_value(), kFbvddValue)) {
        p.SetText(kFbvddValue, panel_text::VoltageCode(*code));
        ShowSlider(kFbvddSlider, *code, rb::kFbvddBase, rb::kFbvddTop);
    }
    if (const std::optional<int> offset = ReadOffset(ofs::kRailPexvdd); read(offset.has_value(), kPexvddValue)) {
        p.SetText(kPexvddValue, PexvddText(*offset));
        ShowSlider(kPexvddSlider, *offset, rb::kPexvddBase, rb::kPexvddTop);
    }
    if (const std::optional<int> step = ReadFrequency(); read(step.has_value(), kFrequencyValue)) {
        p.SetText(kFrequencyValue, FrequencyText(*step));
        ShowSlider(kFrequencySlider, *step, rb::kFrequencyBase, rb::kFrequencyTop);
    }
    if (const std::optional<int> offset = ReadOffset(ofs::kRail1v8); read(offset.has_value(), kRail1v8Value)) {
        p.SetText(kRail1v8Value, Rail1v8Text(*offset));
        ShowSlider(kRail1v8Slider, *offset, rb::kRail1v8Base, rb::kRail1v8Top);
    }
    if (const std::optional<int> on = ReadLn2Mode(); read(on.has_value(), kLn2List)) p.SetSelection(kLn2List, *on);
    if (const std::optional<int> level = ReadLoadline(); read(level.has_value(), kLoadlineList))
        p.SetSelection(kLoadlineList, *level);
    if (const std::optional<int> enabled = ReadOcp(); read(enabled.has_value(), kOcpList))
        p.SetSelection(kOcpList, *enabled);
}

void Rtx2080TiZyl::OnSliderMoved(int controlId) {
    if (!panel_) return;
    switch (controlId) {
    case kNvvddSlider:
        panel_->SetText(kNvvddValue, panel_text::VoltageCode(SliderValue(kNvvddSlider, rb::kNvvddBase, rb::kNvvddTop)));
        break;
    case kFbvddSlider:
        panel_->SetText(kFbvddValue, panel_text::VoltageCode(SliderValue(kFbvddSlider, rb::kFbvddBase, rb::kFbvddTop)));
        break;
    case kPexvddSlider:
        panel_->SetText(kPexvddValue, PexvddText(SliderValue(kPexvddSlider, rb::kPexvddBase, rb::kPexvddTop)));
        break;
    case kFrequencySlider:
        panel_->SetText(kFrequencyValue,
                        FrequencyText(SliderValue(kFrequencySlider, rb::kFrequencyBase, rb::kFrequencyTop)));
        break;
    case kRail1v8Slider:
        panel_->SetText(kRail1v8Value, Rail1v8Text(SliderValue(kRail1v8Slider, rb::kRail1v8Base, rb::kRail1v8Top)));
        break;
    default:
        break;
    }
}

int Rtx2080TiZyl::SliderValue(int slider, int base, int top) const {
    return std::clamp(panel_->GetPos(slider), 0, top - base) + base;
}

std::optional<int> Rtx2080TiZyl::SliderChoice(int slider, int base, int top) const {
    if (!panel_->HasControl(slider)) return std::nullopt;
    return SliderValue(slider, base, top);
}

std::optional<int> Rtx2080TiZyl::ListChoice(int list, int items) const {
    if (!panel_->HasControl(list)) return std::nullopt;
    const int selection = panel_->GetSelection(list);
    if (selection < 0 || selection >= items) return std::nullopt;
    return selection;
}

// ---- Operations that write ----

// What the panel asks, in board terms; nullopt for a list without a choice or a missing control.
struct Rtx2080TiZyl::Choices final : IVgaControl::Request {
    std::optional<int> ocp, ln2, nvvdd, fbvdd, pexvdd, rail1v8, frequency, loadline;
};

std::unique_ptr<IVgaControl::Request> Rtx2080TiZyl::Requested() const {
    if (!panel_) return std::make_unique<Request>();
    auto choices = std::make_unique<Choices>();
    choices->ocp = ListChoice(kOcpList, kSwitchItems);
    choices->ln2 = ListChoice(kLn2List, kSwitchItems);
    choices->nvvdd = SliderChoice(kNvvddSlider, rb::kNvvddBase, rb::kNvvddTop);
    choices->fbvdd = SliderChoice(kFbvddSlider, rb::kFbvddBase, rb::kFbvddTop);
    choices->pexvdd = SliderChoice(kPexvddSlider, rb::kPexvddBase, rb::kPexvddTop);
    choices->rail1v8 = SliderChoice(kRail1v8Slider, rb::kRail1v8Base, rb::kRail1v8Top);
    choices->frequency = SliderChoice(kFrequencySlider, rb::kFrequencyBase, rb::kFrequencyTop);
    choices->loadline = ListChoice(kLoadlineList, rb::kLoadlineLevels);
    return choices;
}

void Rtx2080TiZyl::Apply() {
    if (!panel_) return;
    ApplyRequest(*Requested());
}

void Rtx2080TiZyl::ApplyRequest(const Request& request) {
    if (!panel_) return;
    if (const auto* choices = dynamic_cast<const Choices*>(&request)) ApplyChoices(*choices);
    else Apply();
}

void Rtx2080TiZyl::ApplyChoices(const Choices& wanted) {
    if (wanted.ocp) {
        const std::optional<int> ocp = ReadOcp();
        if (ocp && *wanted.ocp != *ocp) WriteOcp(*wanted.ocp != 0);
    }
    // Read after the OCP write, which touches the same register.
    if (wanted.ln2) {
        const std::optional<int> ln2 = ReadLn2Mode();
        if (ln2 && *wanted.ln2 != *ln2) WriteLn2Mode(*wanted.ln2 == 1);
    }
    if (!auto_ && wanted.nvvdd) {
        const std::optional<int> code = ReadVoltage(rb::kNvvddRegulator);
        if (code && *wanted.nvvdd != *code) WriteVoltage(*wanted.nvvdd);
    }
    if (wanted.fbvdd) {
        const std::optional<int> code = ReadVoltage(rb::kFbvddRegulator);
        if (code && *wanted.fbvdd != *code) WriteMemoryVoltage(*wanted.fbvdd);
    }
    if (wanted.pexvdd) {
        const std::optional<int> offset = ReadOffset(ofs::kRailPexvdd);
        if (offset && *wanted.pexvdd != *offset) WriteOffset(ofs::kRailPexvdd, *wanted.pexvdd);
    }
    if (wanted.rail1v8) {
        const std::optional<int> offset = ReadOffset(ofs::kRail1v8);
        if (offset && *wanted.rail1v8 != *offset) WriteOffset(ofs::kRail1v8, *wanted.rail1v8);
    }
    if (wanted.frequency) {
        const std::optional<int> step = ReadFrequency();
        if (step && *wanted.frequency != *step) WriteSwitchingFrequency(*wanted.frequency);
    }
    if (wanted.loadline) {
        const std::optional<int> level = ReadLoadline();
        if (level && *wanted.loadline != *level) WriteLoadline(*wanted.loadline);
    }
    RefreshPanel();
}

void Rtx2080TiZyl::LoadDefaults() {
    if (!panel_) return;

    const std::optional<int> ocp = ReadOcp();
    if (ocp && *ocp != static_cast<int>(rb::kDefaultOcp)) WriteOcp(rb::kDefaultOcp);

    const std::optional<int> ln2 = ReadLn2Mode();
    if (ln2 && *ln2 != static_cast<int>(rb::kDefaultLn2)) WriteLn2Mode(rb::kDefaultLn2);

    RestoreAutoVoltage();

    const std::optional<int> fbvdd = ReadVoltage(rb::kFbvddRegulator);
    if (fbvdd && *fbvdd != rb::kDefaultFbvdd) WriteMemoryVoltage(rb::kDefaultFbvdd);

    const std::optional<int> pexvdd = ReadOffset(ofs::kRailPexvdd);
    if (pexvdd && *pexvdd != rb::kDefaultPexvdd) WriteOffset(ofs::kRailPexvdd, rb::kDefaultPexvdd);

    const std::optional<int> rail1v8 = ReadOffset(ofs::kRail1v8);
    if (rail1v8 && *rail1v8 != rb::kDefaultRail1v8) WriteOffset(ofs::kRail1v8, rb::kDefaultRail1v8);

    const std::optional<int> step = ReadFrequency();
    if (step && *step != rb::kDefaultFrequency) WriteSwitchingFrequency(rb::kDefaultFrequency);

    const std::optional<int> level = ReadLoadline();
    if (level && *level != rb::kDefaultLoadline) WriteLoadline(rb::kDefaultLoadline);

    RefreshPanel();
}

void Rtx2080TiZyl::SetAuto(bool checked) {
    if (!panel_ || checked == auto_) return;
    auto_ = checked;
    panel_->Enable(kNvvddSlider, !checked);
    // Unchecking writes nothing: the GPU keeps control until Apply sets a fixed voltage.
    if (!checked) return;
    RestoreAutoVoltage();
    ShowNvvdd();
}
