#pragma once
// Shared by the RTX 3080 Ti controller tests: the two kinds of simulated board behind one face,
// panel snapshots, one checked run of an operation, the fault sweep with its panel check, and a
// fixture that gives every test its own current directory (and so its own Profile.ini).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "boards/BoardDetection.h"
#include "boards/Rtx3080TiMcuProtocol.h"
#include "boards/Rtx3080TiRegulatorProtocol.h"
#include "profile/ProfileStore.h"
#include "res/ControlIds.h"
#include "sim/Mcu3080Ti.h"
#include "sim/Regulator3080Ti.h"
#include "support/BoardFixture.h"
#include "support/Traffic.h"

namespace rtx3080ti_test {

using PanelItem = rtx3080ti::Item;

constexpr std::uint8_t kMcu = 0x5A;
constexpr std::uint8_t kNv = 0x40;
constexpr std::uint8_t kFb = 0x44;
constexpr std::uint8_t kMs = 0x7C;
constexpr std::uint32_t kBoardSubsystem = 0x39981458;

// ---- Expected traffic: the shared toolkit ------------------------------------------------------

using traffic::Io;
using traffic::Ios;
using traffic::Join;
using traffic::P;
using traffic::R;
using traffic::Rn;
using traffic::Script;
using traffic::W;

// ---- The panel as a user sees it --------------------------------------------------------------

using Snapshot = std::map<std::string, std::string>;

inline std::string Key(int id, const char* what) { return std::to_string(id) + "." + what; }

// The panel's look of each item.
inline std::vector<std::string> KeysOf(PanelItem item) {
    switch (item) {
        case PanelItem::Auto: return {Key(ctl::kAuto, "checked"), Key(ctl::kRow1Slider, "enabled")};
        case PanelItem::Nvvdd: return {Key(ctl::kRow1Value, "text"), Key(ctl::kRow1Slider, "pos")};
        case PanelItem::Fbvdd: return {Key(ctl::kRow2Value, "text"), Key(ctl::kRow2Slider, "pos")};
        case PanelItem::Msvdd: return {Key(ctl::kRow3Value, "text"), Key(ctl::kRow3Slider, "pos")};
        case PanelItem::NvFrequency: return {Key(ctl::kRow4Value, "text"), Key(ctl::kRow4Slider, "pos")};
        case PanelItem::MsFrequency: return {Key(ctl::kRow5Value, "text"), Key(ctl::kRow5Slider, "pos")};
        // A list shows its selected item's text in its field.
        case PanelItem::NvLoadline: return {Key(ctl::kList2Left, "sel"), Key(ctl::kList2Left, "text")};
        case PanelItem::MsLoadline: return {Key(ctl::kList2Right, "sel"), Key(ctl::kList2Right, "text")};
        case PanelItem::NvOcp: return {Key(ctl::kList3Left, "sel"), Key(ctl::kList3Left, "text")};
        case PanelItem::MsOcp: return {Key(ctl::kList3Right, "sel"), Key(ctl::kList3Right, "text")};
        case PanelItem::kCount: break;
    }
    return {};
}

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline Snapshot Snap(const HeadlessPanel& panel) {
    Snapshot s;
    s[Key(ctl::kAuto, "checked")] = panel.IsChecked(ctl::kAuto) ? "1" : "0";
    s[Key(ctl::kSync, "checked")] = panel.IsChecked(ctl::kSync) ? "1" : "0";
    for (int slider : {ctl::kRow1Slider, ctl::kRow2Slider, ctl::kRow3Slider, ctl::kRow4Slider, ctl::kRow5Slider}) {
        s[Key(slider, "pos")] = std::to_string(panel.GetPos(slider));
        s[Key(slider, "enabled")] = panel.IsEnabled(slider) ? "1" : "0";
    }
    for (int field : {ctl::kRow1Value, ctl::kRow2Value, ctl::kRow3Value, ctl::kRow4Value, ctl::kRow5Value})
        s[Key(field, "text")] = Narrow(panel.Text(field));
    for (int list : {ctl::kList2Left, ctl::kList2Right, ctl::kList3Left, ctl::kList3Right}) {
        s[Key(list, "sel")] = std::to_string(panel.GetSelection(list));
        s[Key(list, "text")] = Narrow(panel.Text(list));
    }
    return s;
}

// ---- The board behind either controller --------------------------------------------------------

struct BoardState {
    std::optional<std::uint16_t> nvvdd;  // fixed code; none: automatic control
    std::uint16_t fbvdd = 220;
    std::optional<std::uint16_t> msvdd;
    std::uint8_t nvFrequency = 4, msFrequency = 4;
    std::uint8_t nvLoadline = 1, msLoadline = 1;
    std::uint8_t nvOcp = 1, msOcp = 1;

    bool operator==(const BoardState& o) const {
        return nvvdd == o.nvvdd && fbvdd == o.fbvdd && msvdd == o.msvdd && nvFrequency == o.nvFrequency &&
               msFrequency == o.msFrequency && nvLoadline == o.nvLoadline && msLoadline == o.msLoadline &&
               nvOcp == o.nvOcp && msOcp == o.msOcp;
    }
};

inline std::ostream& operator<<(std::ostream& out, const BoardState& s) {
    auto rail = [](const std::optional<std::uint16_t>& r) { return r ? std::to_string(*r) : std::string("auto"); };
    return out << "{NV " << rail(s.nvvdd) << ", FB " << s.fbvdd << ", MS " << rail(s.msvdd) << ", f "
               << int(s.nvFrequency) << "/" << int(s.msFrequency) << ", LL " << int(s.nvLoadline) << "/"
               << int(s.msLoadline) << ", OCP " << int(s.nvOcp) << "/" << int(s.msOcp) << "}";
}

class TestBoard {
public:
    virtual ~TestBoard() = default;
    virtual const char* Name() const = 0;
    virtual void AttachTo(sim::SimGpu& gpu) = 0;
    virtual std::unique_ptr<Rtx3080TiControl> Make(std::uint32_t gpuIndex, PanelSource& panels, const BoardServices& services) = 0;
    virtual void Set(const BoardState& state) = 0;
    virtual BoardState Get() const = 0;
    // The code an automatic rail reports.
    virtual void SetAutomaticCode(std::uint16_t code) = 0;
    virtual void SetSilent(bool silent) = 0;
};

class McuBoard final : public TestBoard {
public:
    const char* Name() const override { return "Mcu"; }
    void AttachTo(sim::SimGpu& gpu) override {
        sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
        mcu = &DeviceOn<sim::Mcu3080Ti>(gpu, kMcu);
        mcu->SetLocked(false);  // the tests build the controller without its probe
    }
    std::unique_ptr<Rtx3080TiControl> Make(std::uint32_t gpuIndex, PanelSource& panels, const BoardServices& services) override {
        return MakeController<Rtx3080TiFamily, Rtx3080TiMcuProtocol>(gpuIndex, panels, services);
    }
    void Set(const BoardState& s) override {
        mcu->SetNvvdd(s.nvvdd ? 1 : 0, s.nvvdd.value_or(0));
        mcu->SetMsvdd(s.msvdd ? 1 : 0, s.msvdd.value_or(0));
        mcu->SetFbvdd(s.fbvdd);
        mcu->Poke(0x1C, {2, s.nvFrequency, s.msFrequency});
        mcu->Poke(0x1A, {2, s.nvLoadline, s.msLoadline});
        mcu->Poke(0x1B, {2, s.nvOcp, s.msOcp});
    }
    BoardState Get() const override {
        BoardState s;
        if (mcu->NvvddMode() == 1) s.nvvdd = mcu->NvvddCode();
        if (mcu->MsvddMode() == 1) s.msvdd = mcu->MsvddCode();
        s.fbvdd = mcu->FbvddCode();
        s.nvFrequency = mcu->NvFrequency();
        s.msFrequency = mcu->MsFrequency();
        s.nvLoadline = mcu->NvLoadline();
        s.msLoadline = mcu->MsLoadline();
        s.nvOcp = mcu->NvOcp();
        s.msOcp = mcu->MsOcp();
        return s;
    }
    void SetAutomaticCode(std::uint16_t code) override { mcu->SetAutomaticCode(code); }
    void SetSilent(bool silent) override { mcu->SetSilent(silent); }

    sim::Mcu3080Ti* mcu = nullptr;
};

class DirectBoard final : public TestBoard {
public:
    const char* Name() const override { return "Direct"; }
    void AttachTo(sim::SimGpu& gpu) override {
        sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiDirect);
        nv = &DeviceOn<sim::Regulator3080Ti>(gpu, kNv);
        fb = &DeviceOn<sim::Regulator3080Ti>(gpu, kFb);
        ms = &DeviceOn<sim::Regulator3080Ti>(gpu, kMs);
    }
    std::unique_ptr<Rtx3080TiControl> Make(std::uint32_t gpuIndex, PanelSource& panels, const BoardServices& services) override {
        return MakeController<Rtx3080TiFamily, Rtx3080TiRegulatorProtocol>(gpuIndex, panels, services);
    }
    void Set(const BoardState& s) override {
        SetRail(*nv, s.nvvdd);
        SetRail(*ms, s.msvdd);
        fb->SetFixed(s.fbvdd);
        SetRest(*nv, s.nvFrequency, s.nvLoadline, s.nvOcp);
        SetRest(*ms, s.msFrequency, s.msLoadline, s.msOcp);
    }
    BoardState Get() const override {
        BoardState s;
        if (nv->IsFixed()) s.nvvdd = nv->FixedCode();
        if (ms->IsFixed()) s.msvdd = ms->FixedCode();
        s.fbvdd = fb->FixedCode();
        s.nvFrequency = static_cast<std::uint8_t>(nv->Word(0xBD) / 10);
        s.msFrequency = static_cast<std::uint8_t>(ms->Word(0xBD) / 10);
        s.nvLoadline = static_cast<std::uint8_t>(nv->Word(0x1E) & 0x0F);
        s.msLoadline = static_cast<std::uint8_t>(ms->Word(0x1E) & 0x0F);
        s.nvOcp = (nv->Value(0xEC).at(1) & 0x60) ? 1 : 0;
        s.msOcp = (ms->Value(0xEC).at(1) & 0x60) ? 1 : 0;
        return s;
    }
    void SetAutomaticCode(std::uint16_t code) override {
        // The least whole millivolts that read back as this code.
        const auto millivolts = static_cast<std::uint16_t>((code * 625 + 99) / 100);
        nv->SetAutomaticMillivolts(millivolts);
        ms->SetAutomaticMillivolts(millivolts);
    }
    void SetSilent(bool silent) override {
        nv->SetSilent(silent);
        fb->SetSilent(silent);
        ms->SetSilent(silent);
    }

    sim::Regulator3080Ti* nv = nullptr;
    sim::Regulator3080Ti* fb = nullptr;
    sim::Regulator3080Ti* ms = nullptr;

private:
    static void SetRail(sim::Regulator3080Ti& r, const std::optional<std::uint16_t>& code) {
        if (code) r.SetFixed(*code);
        else r.SetAutomatic();
    }
    // Keeps the power-on pattern of the bits the controller does not own.
    static void SetRest(sim::Regulator3080Ti& r, std::uint8_t frequency, std::uint8_t loadline, std::uint8_t ocp) {
        r.Poke(0xBD, {static_cast<std::uint8_t>(frequency * 10), 0x00});
        r.Poke(0x1E, {static_cast<std::uint8_t>(0x40 | (loadline & 0x0F))});
        r.Poke(0xEC, {0x00, static_cast<std::uint8_t>(ocp ? 0x21 : 0x01)});
        r.Poke(0x44, {0x00, static_cast<std::uint8_t>(ocp ? 0x08 : 0x00)});
        r.Poke(0xEE, {static_cast<std::uint8_t>(ocp ? 0x4A : 0x0A), 0x00});
        r.Poke(0x6A, ocp ? std::vector<std::uint8_t>{0x63, 0x01} : std::vector<std::uint8_t>{0xA3, 0x02});
    }
};

struct BoardKind {
    const char* name;
    std::function<std::unique_ptr<TestBoard>()> make;
};

inline std::vector<BoardKind> BothBoards() {
    return {{"Mcu", [] { return std::unique_ptr<TestBoard>(new McuBoard()); }},
            {"Direct", [] { return std::unique_ptr<TestBoard>(new DirectBoard()); }}};
}

inline void PrintTo(const BoardKind& kind, std::ostream* out) { *out << kind.name; }

inline std::string KindName(const ::testing::TestParamInfo<BoardKind>& info) { return info.param.name; }

// ---- What a user does on the panel -------------------------------------------------------------

// A slider position or a list selection; kTyped for a list whose text the user typed.
constexpr int kTyped = -1;
struct Choice {
    int control;
    int value;
};

// Both rails fixed at these codes, or automatic; everything else at its power-on value.
inline BoardState Fixed(std::optional<std::uint16_t> nv, std::optional<std::uint16_t> ms = std::nullopt) {
    BoardState s;
    s.nvvdd = nv;
    s.msvdd = ms;
    return s;
}

// Every setting away from both the board's and the panel's values: this board, these choices.
inline const BoardState kAllChangedBoard = Fixed(200, 200);
inline const std::vector<Choice> kAllChangedChoices = {
    {ctl::kList3Left, 0},   {ctl::kList3Right, 0},  {ctl::kRow1Slider, 64}, {ctl::kRow2Slider, 56},
    {ctl::kRow3Slider, 0},  {ctl::kRow4Slider, 7},  {ctl::kRow5Slider, 0},  {ctl::kList2Left, 5},
    {ctl::kList2Right, 15},
};

// Detection's board types, found by their names.
inline const BoardType& TypeNamed(const std::wstring& name) {
    for (const BoardType& type : BoardTypes())
        if (name == type.name) return type;
    throw std::logic_error("no such board type");
}
inline const BoardType& McuType() { return TypeNamed(L"RTX 3080 Ti through its MCU"); }
inline const BoardType& RegulatorsType() { return TypeNamed(L"RTX 3080 Ti at its regulators"); }

// ---- The fixture -------------------------------------------------------------------------------

class Rtx3080TiTest : public BoardFixture {
protected:
    void SetUp() override {
        BoardFixture::SetUp();
        char pattern[] = "/tmp/rtx3080ti-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        controllers_.clear();
        profiles.Close();
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        BoardFixture::TearDown();
    }

    // A GPU carrying the board, added in the order of the calls (GPU index = that order).
    TestBoard& AddBoard(const BoardKind& kind, std::uint32_t subsystem = kBoardSubsystem) {
        boards_.push_back(kind.make());
        sim::SimGpu& gpu = AddBoardGpu(sim::BoardKind::None, 0x1000 + 0x100 * boards_.size(),
                                       "NVIDIA GeForce RTX 3080 Ti", subsystem);
        boards_.back()->AttachTo(gpu);
        return *boards_.back();
    }

    // The controller of GPU index g, built after the GPU list exists.
    Rtx3080TiControl& Controller(std::uint32_t g = 0) {
        Gpus();
        while (controllers_.size() <= g) controllers_.emplace_back();
        if (!controllers_[g]) controllers_[g] = boards_.at(g)->Make(g, panels, Services());
        return *controllers_[g];
    }
    TestBoard& Board(std::uint32_t g = 0) { return *boards_.at(g); }

    // Puts a fresh board of the same kind on GPU g (the same simulated GPU) and a fresh controller.
    void Rebuild(const BoardKind& kind, std::uint32_t g = 0) {
        boards_.at(g) = kind.make();
        boards_[g]->AttachTo(machine.Gpus().at(g));
        if (g < controllers_.size()) controllers_[g].reset();
    }

    // Load as the window does it: the profile on the panel, its Sync flag in the Sync box. True
    // when there was a profile.
    bool Load(IVgaControl& controller) {
        const std::optional<LoadedProfile> loaded = controller.LoadProfile();
        if (loaded) panel.SetCheck(ctl::kSync, loaded->sync);
        return loaded.has_value();
    }

    void Choose(const std::vector<Choice>& choices) {
        for (const Choice& c : choices) {
            if (panel.Get(c.control).kind == res::ControlKind::Slider) {
                panel.SetPos(c.control, c.value);
            } else if (c.value == kTyped) {
                panel.UserTypeText(c.control, L"Level 99");
            } else {
                ASSERT_TRUE(panel.UserSelectItem(c.control, c.value)) << c.control;
            }
        }
    }

    void ExpectTraffic(const Ios& expected) const { traffic::ExpectTraffic(machine.Log(), expected); }
    void ExpectTraffic(const Script& expected) const { traffic::ExpectTraffic(machine.Log(), expected); }

    // Every transfer named the GPU and port 1.
    void ExpectTransportOf(std::uint32_t g) const {
        for (const sim::LogEntry& e : machine.Log().Entries()) {
            if (e.kind == sim::LogEntry::Kind::Pause) continue;
            EXPECT_EQ(e.gpu, g) << sim::TransferLog::Format(e);
            EXPECT_TRUE(e.portSet && e.port == 1) << sim::TransferLog::Format(e);
        }
    }

    // The operation's traffic from a board in `board` (then changed by `behindTheBoard`) with the
    // panel changed by `choices`, the board afterwards, and a panel that shows that board.
    void ExpectRun(const BoardState& board, const std::vector<Choice>& choices,
                   const std::function<void(IVgaControl&)>& operation, const Script& script, const BoardState& after,
                   const std::function<void()>& behindTheBoard = nullptr) {
        Board().Set(board);
        if (behindTheBoard) behindTheBoard();
        Rtx3080TiControl& controller = Controller();
        controller.Activate();
        Choose(choices);
        ClearLog();
        operation(controller);
        ExpectTraffic(script);
        ExpectTransportOf(0);
        EXPECT_EQ(Board().Get(), after);
        const Snapshot shown = Snap(panel);
        controller.Activate();
        EXPECT_EQ(shown, Snap(panel)) << "the panel shows what the board reports";
    }

    void ClearLog() { machine.Log().Clear(); }

    // Profile.ini as written, bytes as text.
    std::string ProfileText() const {
        std::FILE* f = std::fopen("Profile.ini", "rb");
        if (!f) return {};
        std::string text;
        char buffer[512];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
        return text;
    }
    void WriteProfileText(const std::string& text) const {
        std::FILE* f = std::fopen("Profile.ini", "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

    // A failure at every transfer of an operation in turn. Each round starts from a fresh board
    // in `state` and a fresh panel that the controller has filled and the user then changed by
    // `choices`; `prepare` runs before the choices. The traffic must be the script's cut by the
    // toolkit's rule. The panel must show what the board
    // reports for the items in `shown` (all of them when empty), except the item whose read
    // failed, which looks as before (Auto: as off); everything else as before, with `overrides`.
    struct Sweep {
        BoardState state;
        std::vector<Choice> choices;
        std::function<void(IVgaControl&)> prepare;
        std::function<void(IVgaControl&)> operation;
        Script script;
        std::vector<PanelItem> shown;
        Snapshot overrides;
    };

    void RunSweep(const BoardKind& kind, const Sweep& sweep) {
        traffic::SweepFaults(traffic::TransferCount(traffic::Flat(sweep.script)), [&](std::size_t n) {
            Rebuild(kind);
            Board().Set(sweep.state);
            panel = HeadlessPanel();
            Rtx3080TiControl& controller = Controller();
            controller.Activate();
            if (sweep.prepare) sweep.prepare(controller);
            Choose(sweep.choices);
            const Snapshot before = Snap(panel);
            ClearLog();
            if (n > 0) machine.FailTransferAt(n);
            sweep.operation(controller);
            const Snapshot after = Snap(panel);
            std::optional<Io> failed;
            const Ios expected = traffic::WithFault(sweep.script, n, &failed);
            ASSERT_EQ(traffic::Logged(machine.Log(), expected), traffic::Lines(expected));

            // What the board reports now, as the controller itself shows it.
            machine.ClearTransferFaults();
            controller.Activate();
            const Snapshot reported = Snap(panel);

            Snapshot wanted = before;
            const std::vector<PanelItem> all = {PanelItem::Auto,        PanelItem::Nvvdd,       PanelItem::Fbvdd,
                                                PanelItem::Msvdd,       PanelItem::NvFrequency, PanelItem::MsFrequency,
                                                PanelItem::NvLoadline,  PanelItem::MsLoadline,  PanelItem::NvOcp,
                                                PanelItem::MsOcp};
            for (PanelItem item : sweep.shown.empty() ? all : sweep.shown)
                for (const std::string& key : KeysOf(item)) wanted[key] = reported.at(key);
            for (const auto& [key, value] : sweep.overrides) wanted[key] = value;
            std::optional<PanelItem> failedFill;
            if (failed && failed->fills) failedFill = static_cast<PanelItem>(*failed->fills);
            if (failedFill == PanelItem::Auto) {
                wanted[Key(ctl::kAuto, "checked")] = "0";
                wanted[Key(ctl::kRow1Slider, "enabled")] = "1";
            } else if (failedFill) {
                for (const std::string& key : KeysOf(*failedFill)) wanted[key] = before.at(key);
            }
            EXPECT_EQ(after, wanted);
        });
    }

    std::filesystem::path dir_;
    std::filesystem::path previous_;
    std::vector<std::unique_ptr<TestBoard>> boards_;
    std::vector<std::unique_ptr<Rtx3080TiControl>> controllers_;
};

}  // namespace rtx3080ti_test
