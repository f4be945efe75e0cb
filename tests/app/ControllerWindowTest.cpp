#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AppFixture.h"

namespace app_test {
namespace {

using ControllerWindowTest = AppFixture;
using Calls = std::vector<std::string>;

struct GpuSetup {
    std::optional<std::string> name;  // nullopt: the name cannot be read
    bool board;
};

struct EnumerationCase {
    const char* name;
    friend void PrintTo(const EnumerationCase& c, std::ostream* os) { *os << c.name; }
    std::vector<GpuSetup> gpus;
    std::vector<std::wstring> entries;
    Calls calls;
    std::wstring panelShows;
};

class EnumerationTest : public AppFixture, public ::testing::WithParamInterface<EnumerationCase> {};

TEST_P(EnumerationTest, ListsTheReadableGpusWithABoardAndActivatesTheFirstLast) {
    const EnumerationCase& c = GetParam();
    for (std::size_t i = 0; i < c.gpus.size(); ++i) {
        sim::SimGpu& gpu = machine.AddGpu(0x1000 * (i + 1), c.gpus[i].name.value_or(""));
        if (!c.gpus[i].name) gpu.name.reset();
        if (c.gpus[i].board) boards[static_cast<std::uint32_t>(i)] = {};
    }
    framework.AddSession([](HeadlessDialog& window) { window.PressEsc(); });

    Run();

    EXPECT_EQ(Entries(), c.entries);
    EXPECT_EQ(Window().Panel().GetSelection(ctl::kDeviceList), 0);
    EXPECT_EQ(Window().Panel().Text(ctl::kDeviceList), c.entries.front());
    EXPECT_EQ(Window().Panel().Text(ctl::kRow1Value), c.panelShows);
    Calls expected = c.calls;
    for (std::size_t i = 0; i < c.gpus.size(); ++i)
        if (c.gpus[i].board && c.gpus[i].name) expected.push_back(std::to_string(i) + ":deleted");
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(framework.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnumerationTest,
    ::testing::Values(
        EnumerationCase{"OneBoard", {{"RTX A", true}}, {L"RTX A"}, {"probe 0", "0:Activate", "0:Activate"}, L"gpu 0"},
        EnumerationCase{"TwoBoards",
                        {{"RTX A", true}, {"RTX B", true}},
                        {L"RTX A", L"RTX B"},
                        {"probe 0", "probe 1", "0:Activate", "1:Activate", "0:Activate"},
                        L"gpu 0"},
        // A GPU whose name cannot be read is not even probed; one without a board leaves no gap.
        EnumerationCase{"UnreadableNameAndNoBoardAreLeftOut",
                        {{std::nullopt, true}, {"GTX plain", false}, {"RTX C", true}, {"RTX D", true}},
                        {L"RTX C", L"RTX D"},
                        {"probe 1", "probe 2", "probe 3", "2:Activate", "3:Activate", "2:Activate"},
                        L"gpu 2"},
        EnumerationCase{"SameNamesKeepDetectionOrder",
                        {{"RTX", true}, {"RTX", true}, {"Another", true}},
                        {L"RTX", L"RTX", L"Another"},
                        {"probe 0", "probe 1", "probe 2", "0:Activate", "1:Activate", "2:Activate", "0:Activate"},
                        L"gpu 0"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ControllerWindowTest, PickingAnEntryActivatesAndTargetsThatEntrysBoard) {
    machine.AddGpu(0x1000, "RTX A");
    machine.AddGpu(0x2000, "GTX plain");
    machine.AddGpu(0x3000, "RTX C");
    boards[0] = {};
    boards[2] = {};
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        mark = calls.size();
        window.SelectItem(ctl::kDeviceList, 1);
        window.Click(ctl::kApply);
        window.SelectItem(ctl::kDeviceList, 0);
        window.Click(ctl::kApply);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(CallsSince(mark), (Calls{"2:Activate", "2:Apply", "0:Activate", "0:Apply", "0:deleted", "2:deleted"}));
}

TEST_F(ControllerWindowTest, TypingIntoTheDeviceListAndASelectionChangeWithoutSelectionChangeNothing) {
    machine.AddGpu(0x1000, "RTX A");
    machine.AddGpu(0x2000, "RTX B");
    boards[0] = {};
    boards[1] = {};
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        window.SelectItem(ctl::kDeviceList, 1);
        mark = calls.size();
        window.TypeText(ctl::kDeviceList, L"RTX A");
        EXPECT_EQ(window.Panel().GetSelection(ctl::kDeviceList), -1);
        window.Notify(ctl::kDeviceList, Notification::SelectionChanged);
        window.Click(ctl::kApply);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(CallsSince(mark), (Calls{"1:Apply", "0:deleted", "1:deleted"}));
}

struct SyncCase {
    const char* name;
    friend void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }
    int button;
    int syncClicks;  // 0: off, 1: on, 2: on and off again
    Calls calls;
};

class SyncRuleTest : public AppFixture, public ::testing::WithParamInterface<SyncCase> {};

// Boards 0 and 2 of the RTX 3080 Ti family, board 1 an RTX 2080 Ti; board 2 selected.
TEST_P(SyncRuleTest, ReachesTheSelectedBoardFirstThenItsFamilyInListOrder) {
    machine.AddGpu(0x1000, "RTX 3080 Ti A");
    machine.AddGpu(0x2000, "RTX 2080 Ti");
    machine.AddGpu(0x3000, "RTX 3080 Ti B");
    boards[0] = {Rtx3080TiFamily::kId};
    boards[1] = {Rtx2080TiFamily::kId};
    boards[2] = {Rtx3080TiFamily::kId};
    Calls seen;
    framework.AddSession([&](HeadlessDialog& window) {
        window.SelectItem(ctl::kDeviceList, 2);
        for (int i = 0; i < GetParam().syncClicks; ++i) window.Click(ctl::kSync);
        const std::size_t mark = calls.size();
        window.Click(GetParam().button);
        seen = CallsSince(mark);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(seen, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SyncRuleTest,
    ::testing::Values(SyncCase{"ApplySyncOff", ctl::kApply, 0, {"2:Apply"}},
                      SyncCase{"ApplySyncOn", ctl::kApply, 1, {"2:Apply", "0:Apply"}},
                      SyncCase{"ApplySyncOnThenOff", ctl::kApply, 2, {"2:Apply"}},
                      SyncCase{"DefaultSyncOff", ctl::kDefault, 0, {"2:LoadDefaults"}},
                      SyncCase{"DefaultSyncOn", ctl::kDefault, 1, {"2:LoadDefaults", "0:LoadDefaults"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ControllerWindowTest, SlidersAutoTimerAndSaveReachOnlyTheSelectedBoardEvenWithSync) {
    machine.AddGpu(0x1000, "RTX A");
    machine.AddGpu(0x2000, "RTX B");
    boards[0] = {};
    boards[1] = {};
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        window.SelectItem(ctl::kDeviceList, 1);
        window.Click(ctl::kSync);
        mark = calls.size();
        for (int slider : {ctl::kRow1Slider, ctl::kRow2Slider, ctl::kRow3Slider, ctl::kRow4Slider})
            window.MoveSlider(slider, 3);
        window.Click(ctl::kAuto);
        window.Click(ctl::kAuto);
        window.Tick(6281);
        window.Click(ctl::kSave);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(CallsSince(mark), (Calls{"1:OnSliderMoved 1000", "1:OnSliderMoved 1002", "1:OnSliderMoved 1004",
                                       "1:OnSliderMoved 1010", "1:SetAuto true", "1:SetAuto false", "1:OnTimerTick",
                                       "1:SaveProfile", "0:deleted", "1:deleted"}));
}

struct LoadCase {
    const char* name;
    friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
    BoardSpec selected;
    bool userTicksSync;
    Calls onLoad;
    Calls onApplyAfterwards;
};

class LoadTest : public AppFixture, public ::testing::WithParamInterface<LoadCase> {};

// Boards 0 and 1 of one family, board 2 of another; board 1 selected.
TEST_P(LoadTest, AppliesOnlyAfterAProfileWasFoundAndTakesSyncFromIt) {
    machine.AddGpu(0x1000, "RTX A");
    machine.AddGpu(0x2000, "RTX B");
    machine.AddGpu(0x3000, "RTX C");
    boards[0] = {Rtx3080TiFamily::kId};
    boards[1] = GetParam().selected;
    boards[2] = {Rtx2080TiFamily::kId};
    Calls onLoad, onApply;
    bool boxAfterLoad = false;
    framework.AddSession([&](HeadlessDialog& window) {
        window.SelectItem(ctl::kDeviceList, 1);
        if (GetParam().userTicksSync) window.Click(ctl::kSync);
        std::size_t mark = calls.size();
        window.Click(ctl::kLoad);
        onLoad = CallsSince(mark);
        boxAfterLoad = window.Panel().IsChecked(ctl::kSync);
        mark = calls.size();
        window.Click(ctl::kApply);
        onApply = CallsSince(mark);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(onLoad, GetParam().onLoad);
    EXPECT_EQ(onApply, GetParam().onApplyAfterwards);
    // A profile shows its Sync flag in the box; without one the box stays as it was.
    const BoardSpec& selected = GetParam().selected;
    EXPECT_EQ(boxAfterLoad, selected.hasProfile ? selected.profileSetsSync
                                                : GetParam().userTicksSync || selected.ticksSyncWithoutProfile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadTest,
    ::testing::Values(
        LoadCase{"NoProfile", {Rtx3080TiFamily::kId, false}, false, {"1:LoadProfile"}, {"1:Apply"}},
        LoadCase{"NoProfileKeepsSyncOn", {Rtx3080TiFamily::kId, false}, true, {"1:LoadProfile"}, {"1:Apply", "0:Apply"}},
        // Sync is read from the box only after a profile was found.
        LoadCase{"NoProfileButTheBoxGotTicked", {Rtx3080TiFamily::kId, false, false, true}, false, {"1:LoadProfile"},
                 {"1:Apply"}},
        LoadCase{"ProfileWithSync", {Rtx3080TiFamily::kId, true, true}, false, {"1:LoadProfile", "1:Apply", "0:Apply"},
                 {"1:Apply", "0:Apply"}},
        LoadCase{"ProfileWithoutSyncOverridesTheUser", {Rtx3080TiFamily::kId, true, false}, true,
                 {"1:LoadProfile", "1:Apply"}, {"1:Apply"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ControllerWindowTest, ClosingDeletesControllersInListOrderKillsTheTimerAndReleasesTheStore) {
    machine.AddGpu(0x1000, "RTX A");
    machine.AddGpu(0x2000, "RTX B");
    machine.AddGpu(0x3000, "RTX C");
    boards[0] = {};
    boards[1] = {};
    boards[2] = {};
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        EXPECT_TRUE(window.IsTimerRunning(6281));
        window.SelectItem(ctl::kDeviceList, 2);
        mark = calls.size();
        window.CloseBox();
    });

    Run();

    EXPECT_EQ(CallsSince(mark), (Calls{"0:deleted", "1:deleted", "2:deleted"}));
    const std::vector<std::string>& journal = framework.Journal();
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(journal.end() - 3, journal.end()),
              (std::vector<std::string>{"end 104 2", "destroy 104", "timer 104 kill 6281"}));
    EXPECT_TRUE(ProfileStoreWasReleased());
}

struct CloseCase {
    const char* name;
    friend void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }
    bool (HeadlessDialog::*action)();
    int endCode;
};

class CloseTest : public AppFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, EndsTheWindowAtOnce) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    bool applyTaken = true;
    framework.AddSession([&](HeadlessDialog& window) {
        (window.*GetParam().action)();
        applyTaken = window.Click(ctl::kApply);
    });

    Run();

    EXPECT_EQ(Window().EndCode(), GetParam().endCode);
    EXPECT_FALSE(applyTaken);
    EXPECT_EQ(calls, (Calls{"probe 0", "0:Activate", "0:Activate", "0:deleted"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, CloseTest,
                         ::testing::Values(CloseCase{"Enter", &HeadlessDialog::PressEnter, kIdOk},
                                           CloseCase{"Esc", &HeadlessDialog::PressEsc, kIdCancel},
                                           CloseCase{"CloseBox", &HeadlessDialog::CloseBox, kIdCancel}),
                         [](const auto& p) { return std::string(p.param.name); });

struct NoBoardCase {
    const char* name;
    friend void PrintTo(const NoBoardCase& c, std::ostream* os) { *os << c.name; }
    std::vector<GpuSetup> gpus;
};

class NoSupportedBoardTest : public AppFixture, public ::testing::WithParamInterface<NoBoardCase> {};

TEST_P(NoSupportedBoardTest, SaysDeviceNotSupportAndEndsWithTheTimerStartedAndKilled) {
    for (std::size_t i = 0; i < GetParam().gpus.size(); ++i) {
        const GpuSetup& setup = GetParam().gpus[i];
        sim::SimGpu& gpu = machine.AddGpu(0x1000 * (i + 1), setup.name.value_or(""));
        if (!setup.name) gpu.name.reset();
        if (setup.board) boards[static_cast<std::uint32_t>(i)] = {};
    }

    Run({L"internalTest"});

    ASSERT_EQ(framework.Messages().size(), 1u);
    const HeadlessMessage& message = framework.Messages()[0];
    EXPECT_EQ(message.text, L"Device not support.");
    EXPECT_EQ(message.caption, L"RTX Halvorn Controller");
    EXPECT_EQ(message.icon, MessageIcon::None);
    EXPECT_EQ(message.ownerDialogId, res::kControllerDialogId);
    EXPECT_EQ(framework.Journal(),
              (std::vector<std::string>{"open 104", "message 104 Device not support. | RTX Halvorn Controller | none",
                                        "end 104 2", "timer 104 set 6281 1000", "destroy 104",
                                        "timer 104 kill 6281"}));
    EXPECT_EQ(Window().EndCode(), kIdCancel);
    EXPECT_TRUE(Entries().empty());
    for (const std::string& call : calls) EXPECT_EQ(call.rfind("probe ", 0), 0u) << call;
    // Probes create the profile store; the window releases it even though no board was found.
    if (profilePlatform.directoryQueries > 0) {
        EXPECT_TRUE(ProfileStoreWasReleased());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoSupportedBoardTest,
    ::testing::Values(NoBoardCase{"NoGpu", {}}, NoBoardCase{"GpuWithoutBoard", {{"GTX plain", false}}},
                      NoBoardCase{"BoardWhoseNameCannotBeRead", {{std::nullopt, true}, {"GTX plain", false}}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace app_test
