// The controller window while one of its operations pauses. On the real platforms a pause lets
// the window paint and answer the system, so a command, a timer tick or the user's input can come
// in the middle of an operation; none of them may start a second one, and the operation's own
// traffic and pauses stay exactly what they are without the interruption.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "AppFixture.h"
#include "sim/Boards.h"

namespace app_test {
namespace {

using Calls = std::vector<std::string>;
using Act = std::function<bool(HeadlessDialog&)>;

// The window's own controls that start work.
const int kStartWork[] = {ctl::kDeviceList, ctl::kSync, ctl::kAuto,  ctl::kLoad,
                          ctl::kSave,       ctl::kTest, ctl::kApply, ctl::kDefault};

// Pauses go into the simulated machine's log. The first pause after Arm hands the window to the
// interruption, as a pumping pause hands it what came meanwhile, and notes what it saw.
class InterruptingSleeper final : public Sleeper {
public:
    explicit InterruptingSleeper(sim::SimMachine& machine) : machine_(&machine) {}
    void Use(sim::SimMachine& machine) { machine_ = &machine; }

    void Arm(HeadlessDialog& window, Act interrupt) {
        window_ = &window;
        interrupt_ = std::move(interrupt);
    }

    void Sleep(unsigned milliseconds) override {
        machine_->Pause(milliseconds);
        if (!interrupt_) return;
        Act interrupt = std::move(interrupt_);
        interrupt_ = nullptr;
        sawBusy = window_->IsBusy();
        for (int id : kStartWork) sawEnabled[id] = window_->Panel().Get(id).enabled;
        taken = interrupt(*window_);
        interrupted = true;
    }

    bool interrupted = false;
    bool sawBusy = false;
    bool taken = false;
    std::map<int, bool> sawEnabled;

private:
    sim::SimMachine* machine_;
    HeadlessDialog* window_ = nullptr;
    Act interrupt_;
};

struct Interruption {
    const char* name;
    friend void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }
    Act act;
    bool reachesTheWindow;  // false: the busy window drops it before the program sees it
};

const Interruption kInterruptions[] = {
    // Commands as the system or another program sends them, past the disabled controls.
    {"ApplyCommand", [](HeadlessDialog& w) { return w.Notify(ctl::kApply, Notification::Clicked); }, true},
    {"DefaultCommand", [](HeadlessDialog& w) { return w.Notify(ctl::kDefault, Notification::Clicked); }, true},
    {"LoadCommand", [](HeadlessDialog& w) { return w.Notify(ctl::kLoad, Notification::Clicked); }, true},
    {"SaveCommand", [](HeadlessDialog& w) { return w.Notify(ctl::kSave, Notification::Clicked); }, true},
    {"AutoCommand", [](HeadlessDialog& w) { return w.Notify(ctl::kAuto, Notification::Clicked); }, true},
    {"SelectionCommand",
     [](HeadlessDialog& w) { return w.Notify(ctl::kDeviceList, Notification::SelectionChanged); }, true},
    {"TimerTick", [](HeadlessDialog& w) { return w.Tick(CDlg3080TiZYL::kTimerId); }, true},
    // The user's own input.
    {"ApplyClick", [](HeadlessDialog& w) { return w.Click(ctl::kApply); }, false},
    {"SyncClick", [](HeadlessDialog& w) { return w.Click(ctl::kSync); }, false},
    {"EntryPicked", [](HeadlessDialog& w) { return w.SelectItem(ctl::kDeviceList, 1); }, false},
    {"SliderDragged", [](HeadlessDialog& w) { return w.MoveSlider(ctl::kRow2Slider, 5); }, false},
    {"Enter", [](HeadlessDialog& w) { return w.PressEnter(); }, false},
    {"Esc", [](HeadlessDialog& w) { return w.PressEsc(); }, false},
};

struct Operation {
    const char* name;
    friend void PrintTo(const Operation& o, std::ostream* os) { *os << o.name; }
    int button;
    Calls calls;  // on the boards, from the click on
};

// Boards on GPUs 0 and 2 are one family, GPU 1 another; entry 0 is selected and Sync is on.
const Operation kOperations[] = {
    {"Apply", ctl::kApply, {"0:Apply", "2:Apply"}},
    {"Default", ctl::kDefault, {"0:LoadDefaults", "2:LoadDefaults"}},
    {"Load", ctl::kLoad, {"0:LoadProfile", "0:Apply", "2:Apply"}},
};

class BusyWindowTest : public AppFixture,
                       public ::testing::WithParamInterface<std::tuple<Operation, Interruption>> {};

TEST_P(BusyWindowTest, AnInterruptionDuringAPauseStartsNothingAndTheWindowComesBackAfterwards) {
    const Operation& operation = std::get<0>(GetParam());
    const Interruption& interruption = std::get<1>(GetParam());
    for (std::uintptr_t handle : {0x1000u, 0x2000u, 0x3000u}) machine.AddGpu(handle, "RTX");
    boards[0] = {Rtx3080TiFamily::kId, true, true, false, 100};
    boards[1] = {Rtx2080TiFamily::kId, false, false, false, 100};
    boards[2] = {Rtx3080TiFamily::kId, false, false, false, 100};
    InterruptingSleeper pauses(machine);
    std::size_t mark = 0;
    int spellsBefore = 0;
    bool busyAfter = true, runningAfter = false;
    std::map<int, bool> enabledAfter;
    framework.AddSession([&](HeadlessDialog& window) {
        window.Click(ctl::kSync);
        mark = calls.size();
        spellsBefore = window.BusySpells();
        pauses.Arm(window, interruption.act);
        window.Click(operation.button);
        busyAfter = window.IsBusy();
        runningAfter = window.IsRunning();
        for (int id : kStartWork) enabledAfter[id] = window.Panel().Get(id).enabled;
        EXPECT_EQ(window.BusySpells(), spellsBefore + 1);
        window.PressEsc();
    });

    CHalvornApp(framework, services, RunContext{machine, pauses, profiles}, {}, Factory()).InitInstance();

    ASSERT_TRUE(pauses.interrupted);
    EXPECT_EQ(pauses.taken, interruption.reachesTheWindow);
    EXPECT_TRUE(pauses.sawBusy);
    Calls expected = operation.calls;
    for (const char* gone : {"0:deleted", "1:deleted", "2:deleted"}) expected.push_back(gone);
    EXPECT_EQ(CallsSince(mark), expected);
    EXPECT_FALSE(busyAfter);
    EXPECT_TRUE(runningAfter);
    for (int id : kStartWork) {
        EXPECT_FALSE(pauses.sawEnabled[id]) << "control " << id << " takes input during the operation";
        EXPECT_TRUE(enabledAfter[id]) << "control " << id << " stays disabled afterwards";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BusyWindowTest,
                         ::testing::Combine(::testing::ValuesIn(kOperations), ::testing::ValuesIn(kInterruptions)),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name;
                         });

// Real MCU-driven boards: the traffic of a Sync over two boards, interrupted by everything that
// reaches a pausing window, is the traffic of the same Sync left alone.
class BusyTrafficTest : public AppFixture, public ::testing::WithParamInterface<int> {
protected:
    // Two MCU-driven RTX 3080 Ti boards; FBVDD moved to 1.475 V (code 236), Sync on, then the
    // operation. Returns every transfer and pause from the operation's click on.
    std::vector<std::string> RunOn(sim::SimMachine& board, bool interrupt) {
        for (std::uintptr_t handle : {0x1000u, 0x2000u})
            sim::AttachBoard(board.AddGpu(handle, "RTX 3080 Ti"), sim::BoardKind::Rtx3080TiMcu);
        InterruptingSleeper pauses(board);
        std::size_t mark = 0;
        framework.AddSession([&](HeadlessDialog& window) {
            window.Click(ctl::kSync);
            window.MoveSlider(ctl::kRow2Slider, 236 - 192);
            if (GetParam() == ctl::kDefault) window.Click(ctl::kApply);
            mark = board.Log().Entries().size();
            if (interrupt)
                pauses.Arm(window, [](HeadlessDialog& w) {
                    w.Notify(ctl::kApply, Notification::Clicked);
                    w.Notify(ctl::kDefault, Notification::Clicked);
                    w.Notify(ctl::kDeviceList, Notification::SelectionChanged);
                    w.Tick(CDlg3080TiZYL::kTimerId);
                    w.Click(ctl::kApply);
                    return true;
                });
            window.Click(GetParam());
            window.PressEsc();
        });
        CHalvornApp(framework, services, RunContext{board, pauses, profiles}, {}).InitInstance();
        EXPECT_EQ(pauses.interrupted, interrupt);
        std::vector<std::string> lines;
        const std::vector<sim::LogEntry>& entries = board.Log().Entries();
        for (std::size_t i = mark; i < entries.size(); ++i) lines.push_back(sim::TransferLog::Format(entries[i]));
        return lines;
    }

    static std::vector<std::string> WritesAndPauses(const std::vector<std::string>& lines) {
        std::vector<std::string> kept;
        for (const std::string& line : lines)
            if (line.rfind("R ", 0) != 0) kept.push_back(line);
        return kept;
    }
};

TEST_P(BusyTrafficTest, IsTheSameWithAndWithoutInterruptions) {
    sim::SimMachine alone;
    const std::vector<std::string> reference = RunOn(alone, false);
    const std::vector<std::string> interrupted = RunOn(machine, true);
    EXPECT_EQ(interrupted, reference);
    const std::vector<std::string> expected =
        GetParam() == ctl::kApply
            ? std::vector<std::string>{"W gpu0 p1 5A:18 [03 01 EC 00] ok", "pause 100 ms",
                                       "W gpu1 p1 5A:18 [03 01 EC 00] ok", "pause 100 ms"}
            : std::vector<std::string>{"W gpu0 p1 5A:18 [03 01 DC 00] ok", "pause 100 ms", "pause 200 ms",
                                       "W gpu1 p1 5A:18 [03 01 DC 00] ok", "pause 100 ms", "pause 200 ms"};
    EXPECT_EQ(WritesAndPauses(interrupted), expected);
}

INSTANTIATE_TEST_SUITE_P(Operations, BusyTrafficTest, ::testing::Values(ctl::kApply, ctl::kDefault),
                         [](const auto& p) { return std::string(p.param == ctl::kApply ? "Apply" : "Default"); });

}  // namespace
}  // namespace app_test
