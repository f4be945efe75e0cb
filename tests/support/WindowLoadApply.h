#pragma once
// The reference for --apply-profile: the controller window's own traffic when the user picks an
// entry of the device list and presses Load, entry after entry. The real board detection and
// controllers on a simulated machine, the window on the headless dialog framework.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/BoardDetection.h"
#include "app/CHalvornApp.h"
#include "app/ProcessServices.h"
#include "gpu/GpuList.h"
#include "gpu/NvApi.h"
#include "headless/HeadlessDialogFramework.h"
#include "profile/PrivateProfile.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "res/ControlIds.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"
#include "sim/TransferLog.h"
#include "support/OnlyInstance.h"

namespace window_reference {

// The window's transfers as sim::TransferLog::Format writes them: the board detection it starts
// with, then each pick and Load with the Apply it runs. The start-up activations in between are
// left out, as a run without the window has no start-up panel to fill. Pauses are kept only with
// withPauses (a program that sleeps for real logs none). Profile.ini holds profileIni; the
// process's current directory is a temporary one meanwhile, no GPU list may exist, and no NvAPI
// is chosen afterwards.
inline std::vector<std::string> LoadThenApply(const std::string& scenario, const std::string& profileIni,
                                              const std::vector<int>& entries, bool withPauses) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    std::string pattern = (fs::temp_directory_path() / "halvorn-window-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        ADD_FAILURE() << "no temporary directory";
        return lines;
    }
    const fs::path dir = pattern;
    std::ofstream(dir / "Profile.ini", std::ios::binary) << profileIni;
    const fs::path previous = fs::current_path();
    fs::current_path(dir);

    sim::SimMachine machine;
    std::string error;
    if (sim::LoadScenario(scenario, "reference", machine, error)) {
        sim::MachineSleeper sleeper(machine);
        profile::PrivateProfileFile files;
        LazyProfileStore profiles(files);
        std::size_t detectionEnd = 0;
        std::size_t sessionStart = 0;
        BoardFactory detectAndMark = [&](std::uint32_t gpu, PanelSource& panels, const BoardServices& run) {
            std::unique_ptr<IVgaControl> controller = CreateBoardController(gpu, panels, run);
            detectionEnd = machine.Log().Entries().size();
            return controller;
        };
        HeadlessDialogFramework framework;
        framework.AddSession([&](HeadlessDialog& window) {
            sessionStart = machine.Log().Entries().size();
            for (int entry : entries) {
                EXPECT_TRUE(window.SelectItem(ctl::kDeviceList, entry)) << "entry " << entry;
                EXPECT_TRUE(window.Click(ctl::kLoad));
            }
            window.PressEsc();
        });
        OnlyInstance services;
        CHalvornApp(framework, services, RunContext{machine, sleeper, profiles}, {}, detectAndMark).InitInstance();

        const std::vector<sim::LogEntry>& log = machine.Log().Entries();
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (i >= detectionEnd && i < sessionStart) continue;
            if (log[i].kind == sim::LogEntry::Kind::Pause && !withPauses) continue;
            lines.push_back(sim::TransferLog::Format(log[i]));
        }
    } else {
        ADD_FAILURE() << error;
    }

    std::error_code ignored;
    fs::current_path(previous, ignored);
    fs::remove_all(dir, ignored);
    return lines;
}

// The transfers of each GPU on its own, in their order, as "gpuN: ..." lists: a run without the
// window applies the boards side by side, so only the order across boards may differ from the
// window's. Pauses belong to no one board and are left out.
inline std::vector<std::vector<std::string>> ByGpu(const std::vector<std::string>& traffic) {
    std::vector<std::vector<std::string>> gpus;
    for (const std::string& line : traffic) {
        const std::size_t at = line.find(" gpu");
        if (at == std::string::npos) continue;
        const std::size_t gpu = static_cast<std::size_t>(std::stoul(line.substr(at + 4)));
        if (gpus.size() <= gpu) gpus.resize(gpu + 1);
        gpus[gpu].push_back(line);
    }
    return gpus;
}

}  // namespace window_reference
