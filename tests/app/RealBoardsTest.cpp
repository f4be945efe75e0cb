// The application with the real board controllers and board detection on simulated boards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "diag/CDlgTest.h"
#include "profile/PrivateProfileFile.h"
#include "sim/Boards.h"
#include "sim/Mcu3080Ti.h"
#include "sim/Regulator3080Ti.h"
#include "support/ScratchDirectory.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDirectSubsystem = 0x39981B4C;
constexpr std::uint32_t kRtx2080TiSubsystem = 0x25891458;
constexpr int kFbvddBase = 192;  // code of the FBVDD slider's position 0 on the RTX 3080 Ti

// Profile.ini in a directory of the test's own; the process's current directory stays alone.
class TempDirProfile final : public profile::PrivateProfile {
public:
    explicit TempDirProfile(fs::path dir) : dir_(std::move(dir)) {}
    std::wstring CurrentDirectory() override { return dir_.wstring(); }
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override {
        return file_.ReadSection(section, path);
    }
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override {
        return file_.WriteSection(section, data, path);
    }
    std::optional<std::string> FileBytes(const std::wstring& path) override { return file_.FileBytes(path); }
    wchar_t PathSeparator() const override { return file_.PathSeparator(); }

private:
    fs::path dir_;
    profile::PrivateProfileFile file_;
};

class RealBoardsTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_FALSE(scratch_.Path().empty());
        dir = scratch_.Path();
        platform = std::make_unique<TempDirProfile>(dir);
        profiles = std::make_unique<LazyProfileStore>(*platform);
    }
    void TearDown() override {
        profiles.reset();
        SimFixture::TearDown();
    }

    void AddBoard(std::uintptr_t handle, const char* name, sim::BoardKind kind, std::uint32_t subsystem = 0) {
        AddBoardGpu(kind, handle, name, subsystem);
    }

    // The real board detection, as the program runs it.
    bool Run(std::vector<std::wstring> arguments = {}) {
        return CHalvornApp(framework, services, RunContext{machine, sleeper, *profiles}, ParseCommandLine(arguments))
            .InitInstance();
    }

    std::vector<std::uint32_t> GpusWrittenSince(std::size_t mark) const {
        std::vector<std::uint32_t> gpus;
        const std::vector<sim::LogEntry>& entries = machine.Log().Entries();
        for (std::size_t i = mark; i < entries.size(); ++i)
            if (entries[i].kind == sim::LogEntry::Kind::Write &&
                (gpus.empty() || gpus.back() != entries[i].gpu))
                gpus.push_back(entries[i].gpu);
        return gpus;
    }

    sim::Mcu3080Ti& Mcu(std::size_t gpu) { return *dynamic_cast<sim::Mcu3080Ti*>(machine.Gpus()[gpu].Find(1, 0x5A)); }
    sim::Regulator3080Ti& FbvddRegulator(std::size_t gpu) {
        return *dynamic_cast<sim::Regulator3080Ti*>(machine.Gpus()[gpu].Find(1, 0x44));
    }

    ScratchDirectory scratch_{"halvorn-app"};
    fs::path dir;
    std::unique_ptr<TempDirProfile> platform;
    std::unique_ptr<LazyProfileStore> profiles;
    HeadlessDialogFramework framework;
    FakeProcessServices services;
    SimSleeper sleeper{machine};
};

TEST_F(RealBoardsTest, EveryBoardKindIsListedAndShownWhenPicked) {
    AddBoard(0x1000, "RTX 3080 Ti MCU", sim::BoardKind::Rtx3080TiMcu);
    AddBoard(0x2000, "GTX plain", sim::BoardKind::None);
    AddBoard(0x3000, "RTX 2080 Ti", sim::BoardKind::Rtx2080Ti, kRtx2080TiSubsystem);
    AddBoard(0x4000, "RTX 3080 Ti direct", sim::BoardKind::Rtx3080TiDirect, kDirectSubsystem);
    std::wstring labelAtStart, labelOf2080Ti;
    framework.AddSession([&](HeadlessDialog& window) {
        labelAtStart = window.Text(ctl::kRow3Label);
        window.SelectItem(ctl::kDeviceList, 1);
        labelOf2080Ti = window.Text(ctl::kRow3Label);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(framework.Dialog(0).Panel().Items(ctl::kDeviceList),
              (std::vector<std::wstring>{L"RTX 3080 Ti MCU", L"RTX 2080 Ti", L"RTX 3080 Ti direct"}));
    EXPECT_EQ(labelAtStart, L"MSVDD");
    EXPECT_EQ(labelOf2080Ti, L"PEXVDD");
    EXPECT_TRUE(framework.Messages().empty());
    EXPECT_TRUE(GpusWrittenSince(0) == (std::vector<std::uint32_t>{0}))  // the MCU handshake only
        << machine.Log().Dump();
}

TEST_F(RealBoardsTest, SyncCarriesTheSelectedBoardsSettingToItsFamilyOnly) {
    AddBoard(0x1000, "RTX 3080 Ti MCU", sim::BoardKind::Rtx3080TiMcu);
    AddBoard(0x2000, "RTX 2080 Ti", sim::BoardKind::Rtx2080Ti, kRtx2080TiSubsystem);
    AddBoard(0x3000, "RTX 3080 Ti direct", sim::BoardKind::Rtx3080TiDirect, kDirectSubsystem);
    std::size_t mark = 0;
    int shownAfterwards = -1;
    framework.AddSession([&](HeadlessDialog& window) {
        mark = machine.Log().Entries().size();
        window.Click(ctl::kApply);  // nothing differs yet: nothing is written
        EXPECT_TRUE(GpusWrittenSince(mark).empty()) << machine.Log().Dump();
        window.MoveSlider(ctl::kRow2Slider, 236 - kFbvddBase);
        window.Click(ctl::kSync);
        mark = machine.Log().Entries().size();
        window.Click(ctl::kApply);
        shownAfterwards = window.Panel().GetPos(ctl::kRow2Slider);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(GpusWrittenSince(mark), (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(Mcu(0).FbvddCode(), 236);
    EXPECT_EQ(FbvddRegulator(2).FixedCode(), 236);
    EXPECT_EQ(shownAfterwards, 236 - kFbvddBase);
}

// The selected board refuses the write; the others still get what the user asked for, not what
// the selected board reads back afterwards.
TEST_F(RealBoardsTest, SyncHandsTheUsersSettingOnWhenTheSelectedBoardRefusesIt) {
    AddBoard(0x1000, "RTX 3080 Ti MCU", sim::BoardKind::Rtx3080TiMcu);
    AddBoard(0x3000, "RTX 3080 Ti direct", sim::BoardKind::Rtx3080TiDirect, kDirectSubsystem);
    int shownAfterwards = -1;
    std::uint16_t before = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        before = Mcu(0).FbvddCode();
        Mcu(0).SetLocked(true);  // it takes no more writes and still answers reads
        window.MoveSlider(ctl::kRow2Slider, 236 - kFbvddBase);
        window.Click(ctl::kSync);
        window.Click(ctl::kApply);
        shownAfterwards = window.Panel().GetPos(ctl::kRow2Slider);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(Mcu(0).FbvddCode(), before);
    EXPECT_NE(before, 236);
    EXPECT_EQ(FbvddRegulator(1).FixedCode(), 236);
    // The panel shows the last board Sync reached, as before.
    EXPECT_EQ(shownAfterwards, 236 - kFbvddBase);
}

TEST_F(RealBoardsTest, LoadPutsTheSavedProfileBackOnTheBoard) {
    AddBoard(0x1000, "RTX 3080 Ti MCU", sim::BoardKind::Rtx3080TiMcu);
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        // Without a profile, Load changes nothing.
        mark = machine.Log().Entries().size();
        window.MoveSlider(ctl::kRow2Slider, 200 - kFbvddBase);
        window.Click(ctl::kLoad);
        EXPECT_TRUE(GpusWrittenSince(mark).empty());
        EXPECT_EQ(window.Panel().GetPos(ctl::kRow2Slider), 200 - kFbvddBase);

        window.Click(ctl::kApply);
        window.Click(ctl::kSave);
        window.MoveSlider(ctl::kRow2Slider, 240 - kFbvddBase);
        window.Click(ctl::kApply);
        ASSERT_EQ(Mcu(0).FbvddCode(), 240);

        window.Click(ctl::kLoad);
        EXPECT_EQ(window.Panel().GetPos(ctl::kRow2Slider), 200 - kFbvddBase);
        window.PressEsc();
    });

    Run();

    EXPECT_TRUE(fs::exists(dir / "Profile.ini"));
    EXPECT_EQ(Mcu(0).FbvddCode(), 200);
}

TEST_F(RealBoardsTest, TestDialogReachesTheBoardBehindTheSelectedEntry) {
    AddBoard(0x1000, "GTX plain", sim::BoardKind::None);
    AddBoard(0x2000, "RTX 3080 Ti MCU", sim::BoardKind::Rtx3080TiMcu);
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        mark = machine.Log().Entries().size();
        window.Click(ctl::kTest);
        window.PressEsc();
    });
    framework.AddSession([](HeadlessDialog& dialog) {
        dialog.Click(testdlg::kWordAccess);
        dialog.TypeText(testdlg::kAddress, L"5A");
        dialog.TypeText(testdlg::kRegister, L"B1");
        dialog.Click(testdlg::kRead);
        // The identification's count and revision bytes, least significant first.
        EXPECT_EQ(dialog.Text(testdlg::kData), L"1005");
        EXPECT_EQ(dialog.Text(testdlg::kResult), L"OK");
        dialog.PressEsc();
    });

    Run({L"internalTest"});

    const std::vector<sim::LogEntry>& entries = machine.Log().Entries();
    ASSERT_EQ(entries.size(), mark + 1);
    EXPECT_EQ(entries[mark].gpu, 1u);
    EXPECT_EQ(entries[mark].reg, 0xB1);
}

}  // namespace
}  // namespace app_test
