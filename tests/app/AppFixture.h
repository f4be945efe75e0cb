#pragma once
// The application on a simulated machine, its windows on the headless dialog framework, fake
// process services, and fake board controllers that record every call made on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"
#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx3080TiFamily.h"
#include "window/IVgaControl.h"
#include "headless/HeadlessDialogFramework.h"
#include "profile/PrivateProfile.h"
#include "profile/ProfileStore.h"
#include "res/ControlIds.h"
#include "support/BoardFixture.h"

namespace app_test {

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A command-line run's standard output and standard error, a line each.
class RecordedOutput final : public CommandOutput {
public:
    void Line(const std::wstring& text) override { lines.push_back(Narrow(text)); }
    void Error(const std::wstring& text) override { errors.push_back(Narrow(text)); }
    std::vector<std::string> lines;
    std::vector<std::string> errors;
};

// The machine lock on the boards as the machine keeps it: the process services of every process
// of the machine share one.
struct FakeMachineLock {
    const ProcessServices* holder = nullptr;
};

class FakeProcessServices final : public ProcessServices {
public:
    FakeProcessServices() = default;
    // Another process of the same machine.
    explicit FakeProcessServices(FakeMachineLock& machine) : machineLock_(&machine) {}
    FakeProcessServices(const FakeProcessServices&) = delete;
    FakeProcessServices& operator=(const FakeProcessServices&) = delete;

    void InitCommonControls() override { journal.push_back("common controls"); }
    bool AcquireInstanceLock(const std::wstring& name) override {
        journal.push_back("acquire " + Narrow(name));
        if (heldByAnotherProcess || held) return false;
        held = true;
        return true;
    }
    void ReleaseInstanceLock() override {
        journal.push_back("release");
        held = false;
    }
    void RaiseRunningInstance(const std::wstring& windowTitle) override {
        journal.push_back("raise " + Narrow(windowTitle));
    }
    std::wstring ApplicationName() const override { return L"HalvornController"; }
    // Kept out of the journal, which tells the single-instance lock's story.
    bool AcquireMachineLock() override {
        ++machineLockAttempts;
        if (machineLock_->holder && machineLock_->holder != this) return false;
        machineLock_->holder = this;
        return true;
    }
    void ReleaseMachineLock() override {
        if (machineLock_->holder == this) machineLock_->holder = nullptr;
    }
    bool HoldsMachineLock() const { return machineLock_->holder == this; }

    bool heldByAnotherProcess = false;
    bool held = false;
    std::vector<std::string> journal;
    int machineLockAttempts = 0;

private:
    FakeMachineLock ownMachine_;
    FakeMachineLock* machineLock_ = &ownMachine_;
};

// The current directory as the profile store sees it; counts how often the store asked, which
// it does once per creation.
class CountingProfilePlatform final : public profile::PrivateProfile {
public:
    std::wstring CurrentDirectory() override {
        ++directoryQueries;
        return L"/nowhere";
    }
    std::wstring ReadSection(const std::wstring&, const std::wstring&) override { return {}; }
    bool WriteSection(const std::wstring&, const std::wstring&, const std::wstring&) override { return false; }
    std::optional<std::string> FileBytes(const std::wstring&) override { return std::nullopt; }
    wchar_t PathSeparator() const override { return L'/'; }

    int directoryQueries = 0;
};

struct BoardSpec {
    int family = Rtx3080TiFamily::kId;
    bool hasProfile = false;
    bool profileSetsSync = false;  // the Sync box a stored profile holds
    // A misbehaving board that ticks the Sync box although it has no profile to load.
    bool ticksSyncWithoutProfile = false;
    // A pause of this length inside Apply and LoadDefaults, as the MCU-driven board takes after
    // its writes; none when 0.
    unsigned pauseMs = 0;
};

// Records "<gpu>:<operation>" for every call; Activate shows the Auto box and writes its GPU into
// the first value field, as a real controller puts its board on the panel.
class FakeBoard final : public IVgaControl {
public:
    FakeBoard(std::uint32_t gpu, BoardSpec spec, PanelSource& panels, Sleeper& sleeper, std::vector<std::string>& calls)
        : gpu_(gpu), spec_(spec), panels_(panels), sleeper_(sleeper), calls_(calls) {}
    ~FakeBoard() override { Note("deleted"); }

    bool IsDetected() const override { return true; }
    void Activate() override {
        ControlPanel* panel = panels_.ControllerPanel();
        Note(panel ? "Activate" : "Activate without panel");
        if (!panel) return;
        panel->Show(ctl::kAuto, true);
        panel->SetText(ctl::kRow1Value, L"gpu " + std::to_wstring(gpu_));
    }
    void OnSliderMoved(int controlId) override { Note("OnSliderMoved " + std::to_string(controlId)); }
    void Apply() override {
        Note("Apply");
        Pause();
    }
    void LoadDefaults() override {
        Note("LoadDefaults");
        Pause();
    }
    void OnTimerTick() override { Note("OnTimerTick"); }
    void SetAuto(bool checked) override { Note(checked ? "SetAuto true" : "SetAuto false"); }
    int GetFamily() const override { return spec_.family; }
    std::optional<LoadedProfile> LoadProfile() override {
        Note("LoadProfile");
        ControlPanel* panel = panels_.ControllerPanel();
        if (!spec_.hasProfile) {
            if (spec_.ticksSyncWithoutProfile && panel) panel->SetCheck(ctl::kSync, true);
            return std::nullopt;
        }
        return LoadedProfile{rtx3080ti::BoardSettings{}, spec_.profileSetsSync};
    }
    void SaveProfile(bool sync) override { (void)sync;
        Note("SaveProfile"); }
    std::optional<WantedSettings> Wanted() const override { return std::nullopt; }
    void Apply(const WantedSettings&) override { Apply(); }

private:
    void Note(const std::string& what) const { calls_.push_back(std::to_string(gpu_) + ":" + what); }
    void Pause() {
        if (spec_.pauseMs != 0) sleeper_.Sleep(spec_.pauseMs);
    }

    std::uint32_t gpu_;
    BoardSpec spec_;
    PanelSource& panels_;
    Sleeper& sleeper_;
    std::vector<std::string>& calls_;
};

class AppFixture : public SimFixture {
protected:
    void TearDown() override {
        profiles.Close();
        SimFixture::TearDown();
    }
    // What the program's entry point hands the application: the machine as NvAPI.
    RunContext Context() { return RunContext{machine, sleeper, profiles}; }

    // Board detection as the window sees it: like the real one, the first probe creates the
    // profile store, whatever the GPU carries.
    BoardFactory Factory() {
        return [this](std::uint32_t gpu, PanelSource& panels,
                      const BoardServices& run) -> std::unique_ptr<IVgaControl> {
            calls.push_back("probe " + std::to_string(gpu));
            run.profiles.Get();
            Sleeper& pauses = run.sleeper;
            auto it = boards.find(gpu);
            if (it == boards.end()) return nullptr;
            return std::make_unique<FakeBoard>(gpu, it->second, panels, pauses, calls);
        };
    }

    CHalvornApp MakeApp(std::vector<std::wstring> arguments = {}) {
        return CHalvornApp(framework, services, Context(), ParseCommandLine(arguments, FrontEndSwitches{true, true}), Factory());
    }
    bool Run(std::vector<std::wstring> arguments = {}) { return MakeApp(std::move(arguments)).InitInstance(); }

    // The controller window of the last run.
    const HeadlessDialog& Window() const { return framework.Dialog(0); }
    std::vector<std::wstring> Entries() const { return Window().Panel().Items(ctl::kDeviceList); }

    // The calls made on the boards from now on, without those before.
    std::vector<std::string> CallsSince(std::size_t mark) const {
        return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end());
    }

    // Whether the window released the profile store: a store created after the run asks for the
    // current directory again.
    bool ProfileStoreWasReleased() {
        const int before = profilePlatform.directoryQueries;
        profiles.Get();
        return profilePlatform.directoryQueries == before + 1;
    }

    HeadlessDialogFramework framework;
    FakeProcessServices services;
    SimSleeper sleeper{machine};
    CountingProfilePlatform profilePlatform;
    LazyProfileStore profiles{profilePlatform};
    std::map<std::uint32_t, BoardSpec> boards;
    std::vector<std::string> calls;
};

}  // namespace app_test
