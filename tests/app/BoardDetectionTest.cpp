#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/BoardDetection.h"
#include "boards/McuHandshake.h"
#include "profile/ProfileStore.h"
#include "sim/Boards.h"
#include "sim/Mcu3080Ti.h"
#include "support/BoardFixture.h"
#include "support/ScratchDirectory.h"
#include "support/Traffic.h"

namespace {

namespace fs = std::filesystem;

enum class Found { None, Mcu, Direct, Rtx2080Ti };

Found KindOf(const std::optional<FoundBoard>& found) {
    if (!found) return Found::None;
    const std::wstring name = found->type->name;
    if (name == L"RTX 3080 Ti through its MCU") return Found::Mcu;
    if (name == L"RTX 3080 Ti at its regulators") return Found::Direct;
    if (name == L"RTX 2080 Ti") return Found::Rtx2080Ti;
    return Found::None;
}

// Every test starts in a directory of its own and can move to a second one, so that which
// directory the profile store took shows when it was created.
class BoardDetectionTest : public BoardFixture {
protected:
    void SetUp() override {
        BoardFixture::SetUp();
        ASSERT_FALSE(atDetection_.Path().empty());
        ASSERT_FALSE(later_.Path().empty());
        atDetection_.Enter();
    }
    void TearDown() override {
        BoardFixture::TearDown();
    }

    void MoveToAnotherDirectory() { fs::current_path(later_.Path()); }
    // The store's file, asked for after the move: it lies where detection ran only when the
    // store was already there by then.
    fs::path StorePath() { return fs::path(profiles.Get().Path()); }

    ScratchDirectory atDetection_{"halvorn-detection"};
    ScratchDirectory later_{"halvorn-detection"};

    std::optional<FoundBoard> Detect(std::uint32_t gpuIndex = 0) { return DetectForWindow(Services(), gpuIndex); }

    sim::Mcu3080Ti& Mcu(sim::SimGpu& gpu) { return *dynamic_cast<sim::Mcu3080Ti*>(gpu.Find(1, 0x5A)); }
};

struct Case {
    const char* name;
    sim::BoardKind board;
    std::uint32_t subsystem;
    const char* vbios;
    Found expected;
};

class DetectionOrderTest : public BoardDetectionTest, public ::testing::WithParamInterface<Case> {};

TEST_P(DetectionOrderTest, FirstCandidateThatDetectsItsBoardWins) {
    const Case& c = GetParam();
    sim::SimGpu& gpu = machine.AddGpu(0x100, "GPU");
    gpu.subsystemId = c.subsystem;
    gpu.vbios = c.vbios;
    sim::AttachBoard(gpu, c.board);
    EXPECT_EQ(KindOf(Detect()), c.expected);
    // Detection creates the store whatever it finds.
    MoveToAnotherDirectory();
    EXPECT_EQ(StorePath(), atDetection_.Path() / "Profile.ini");
}

INSTANTIATE_TEST_SUITE_P(
    Boards, DetectionOrderTest,
    ::testing::Values(
        Case{"McuBoard", sim::BoardKind::Rtx3080TiMcu, 0x39961B4C, "", Found::Mcu},
        // A board whose MCU answers is driven through it even when its PCI test would pass too.
        Case{"McuBoardWith3998", sim::BoardKind::Rtx3080TiMcu, 0x39981B4C, "", Found::Mcu},
        Case{"SilentMcu3998", sim::BoardKind::Rtx3080TiDirect, 0x39980000, "", Found::Direct},
        Case{"SilentMcu3998AnyVendor", sim::BoardKind::Rtx3080TiDirect, 0x3998FFFF, "", Found::Direct},
        Case{"SilentMcuOtherSubsystem", sim::BoardKind::Rtx3080TiDirect, 0x39971B4C, "", Found::None},
        Case{"Rtx2080TiBySubsystem", sim::BoardKind::Rtx2080Ti, 0x25891458, "", Found::Rtx2080Ti},
        Case{"Rtx2080TiByVbios", sim::BoardKind::Rtx2080Ti, 0x12FA10DE, "90.02.17.40.88", Found::Rtx2080Ti},
        Case{"Rtx2080TiWrongVbios", sim::BoardKind::Rtx2080Ti, 0x12FA10DE, "90.02.17.40.89", Found::None},
        Case{"NoBoard", sim::BoardKind::None, 0x38971462, "", Found::None}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(BoardDetectionTest, McuProbeIsOneIdentificationReadAndOneHandshakeWrite) {
    sim::SimGpu& gpu = machine.AddGpu(0x100, "GPU");
    sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
    ASSERT_EQ(KindOf(Detect()), Found::Mcu);
    // The handshake's value is the program's own choice; its place and length are what count.
    const auto hs = mcu::HandshakeBytes();
    traffic::ExpectTraffic(machine.Log(), {traffic::Rn(0x5A, 0xB1, 6), traffic::W(0x5A, 0xB2, {hs.begin(), hs.end()})});
    EXPECT_FALSE(Mcu(gpu).IsLocked());
}

TEST_F(BoardDetectionTest, FailedHandshakeLeavesTheDecisionToThePciTest) {
    for (std::uint32_t subsystem : {0x39981B4Cu, 0x39961B4Cu}) {
        sim::SimMachine fresh;
        machine = std::move(fresh);
        ReleaseGpus();
        sim::SimGpu& gpu = machine.AddGpu(0x100, "GPU");
        gpu.subsystemId = subsystem;
        sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
        machine.FailTransferAt(2);
        const Found expected = subsystem >> 16 == 0x3998 ? Found::Direct : Found::None;
        EXPECT_EQ(KindOf(Detect()), expected) << std::hex << subsystem;
    }
}

TEST_F(BoardDetectionTest, IdentificationNeedsBothMarkerBytes) {
    struct Id {
        std::uint8_t byte2, byte3;
    };
    for (const Id id : {Id{0x2D, 0x04}, Id{0x2C, 0x03}, Id{0x00, 0x00}}) {
        sim::SimMachine fresh;
        machine = std::move(fresh);
        ReleaseGpus();
        sim::SimGpu& gpu = machine.AddGpu(0x100, "GPU");
        sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
        Mcu(gpu).Poke(0xB1, {0x05, 0x10, id.byte2, id.byte3, 0x01, 0x07});
        EXPECT_EQ(KindOf(Detect()), Found::None);
        for (const sim::LogEntry& e : machine.Log().Entries()) EXPECT_NE(e.kind, sim::LogEntry::Kind::Write);
        EXPECT_TRUE(Mcu(gpu).IsLocked());
    }
}

TEST_F(BoardDetectionTest, NotReadyListOrIndexBeyondItDetectsNothing) {
    sim::SimGpu& gpu = machine.AddGpu(0x100, "GPU");
    sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
    EXPECT_FALSE(Detect(1));
    ReleaseGpus();
    machine.FailInitialize();
    EXPECT_FALSE(Detect(0));
    EXPECT_TRUE(machine.Log().Entries().empty());
}

TEST_F(BoardDetectionTest, TwoBoardsGetTheirOwnControllersAndShareTheStore) {
    sim::AttachBoard(machine.AddGpu(0x100, "A"), sim::BoardKind::Rtx3080TiMcu);
    sim::SimGpu& second = machine.AddGpu(0x200, "B");
    second.subsystemId = 0x39981B4C;
    sim::AttachBoard(second, sim::BoardKind::Rtx3080TiDirect);
    auto first = CreateBoardController(0, panels, Services());
    MoveToAnotherDirectory();
    auto other = CreateBoardController(1, panels, Services());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(other, nullptr);
    // Each on its own GPU: the first one's reads name GPU 0, the second one's GPU 1.
    for (std::uint32_t g : {0u, 1u}) {
        machine.Log().Clear();
        (g == 0 ? first : other)->Activate();
        ASSERT_FALSE(machine.Log().Entries().empty());
        for (const sim::LogEntry& e : machine.Log().Entries()) EXPECT_EQ(e.gpu, g);
    }

    // The second detection found the store the first one made: both save into one file.
    for (IVgaControl* controller : {first.get(), other.get()}) {
        fs::remove(atDetection_.Path() / "Profile.ini");
        controller->Activate();
        controller->SaveProfile(false);
        EXPECT_TRUE(fs::exists(atDetection_.Path() / "Profile.ini"));
        EXPECT_FALSE(fs::exists(later_.Path() / "Profile.ini"));
    }
}

}  // namespace
