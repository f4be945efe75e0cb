// Whatever the user does and whatever the boards answer, the program writes only to the devices
// and registers its board controllers are meant to write, and only voltages from the sliders'
// ranges or the few fixed values the boards need. Randomised, bounded and seeded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "app/CHalvornApp.h"
#include "app/HeadlessDialogFramework.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "support/BoardFixture.h"
#include "support/WritePolicy.h"

namespace {

namespace fs = std::filesystem;

class NoOtherInstance final : public ProcessServices {
public:
    void InitCommonControls() override {}
    bool AcquireInstanceLock(const std::wstring&) override { return true; }
    void ReleaseInstanceLock() override {}
    void RaiseRunningInstance(const std::wstring&) override {}
    std::wstring ApplicationName() const override { return L"HalvornController"; }
};

class SafetyTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "halvorn-safety-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        std::error_code error;
        fs::current_path(previous_, error);
        fs::remove_all(dir_, error);
        SimFixture::TearDown();
    }

    void RunSession(std::uint32_t seed) {
        std::mt19937 random(seed);
        machine = sim::SimMachine();
        sim::LoadDefaultScenario(machine);
        // Some runs start with a board that answers nonsense or a transfer that fails at start-up.
        if (random() % 3 == 0) machine.FailTransferAt(1 + random() % 12);

        HeadlessDialogFramework framework;
        NoOtherInstance services;
        sim::MachineSleeper sleeper(machine);
        const int steps = 40;
        framework.AddSession([&](HeadlessDialog& window) {
            write_policy::PlayRandomSession(window, random, machine, dir_, steps);
        });
        CHalvornApp app(framework, services, sleeper, {});
        app.InitInstance();
        write_policy::CheckWrites(machine, "seed " + std::to_string(seed));
    }

private:
    fs::path previous_;
    fs::path dir_;
};

TEST_F(SafetyTest, RandomSessionsWriteOnlyWhatTheBoardsAllow) {
    constexpr std::uint32_t kSeeds = 300;
    std::size_t writes = 0;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        RunSession(seed);
        writes += machine.Log().Writes().size();
        if (HasFailure()) {
            ADD_FAILURE() << "first failing seed: " << seed << "\n" << machine.Log().Dump();
            return;
        }
    }
    // The sessions must have reached the boards, or the check above proves nothing.
    EXPECT_GT(writes, kSeeds);
}

}  // namespace
