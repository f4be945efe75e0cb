#pragma once
// The application on the simulated default machine with the Qt front end: a temporary current
// directory for Profile.ini, a lock directory of its own, and pauses recorded in the transfer log.
#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

#include "UserScript.h"
#include "app/CHalvornApp.h"
#include "gpu/GpuList.h"
#include "platform/qt/CommandLineProgram.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtDialogFramework.h"
#include "platform/qt/QtProcessServices.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "sim/Mcu3080Ti.h"
#include "sim/Regulator2080Ti.h"
#include "sim/Regulator3080Ti.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"
#include "support/BoardFixture.h"

namespace qt_test {

// The default machine's GPUs by handle; the device list shows them in this order.
constexpr std::uintptr_t kDirect3080Ti = 0x1100;  // entry 0
constexpr std::uintptr_t kMcu3080Ti = 0x2100;     // entry 1
constexpr std::uintptr_t k2080Ti = 0x3100;        // entry 2

class ControllerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(currentDir.isValid());
        ASSERT_TRUE(lockDir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(currentDir.path()));
        sim::LoadDefaultScenario(machine);
    }
    void TearDown() override {
        profiles.Close();
        QDir::setCurrent(previousDir);
    }

    // The whole application run, with the script acting while it runs.
    void Run(std::vector<std::wstring> arguments = {}) {
        CHalvornApp application(framework, services, RunContext{*nvApi, sleeper, profiles},
                                ParseCommandLine(arguments, qtfront::kFrontEndSwitches));
        script.Start();
        EXPECT_FALSE(application.InitInstance());
        EXPECT_TRUE(script.Done()) << "the script did not finish";
    }

    template <class Device>
    Device& DeviceOf(std::uintptr_t handle, std::uint8_t address) {
        sim::SimGpu* gpu = machine.GpuByHandle(handle);
        EXPECT_NE(gpu, nullptr);
        auto* device = gpu ? dynamic_cast<Device*>(gpu->Find(1, address)) : nullptr;
        EXPECT_NE(device, nullptr);
        return *device;
    }
    sim::Regulator3080Ti& DirectRegulator(std::uint8_t address) {
        return DeviceOf<sim::Regulator3080Ti>(kDirect3080Ti, address);
    }
    sim::Mcu3080Ti& Mcu() { return DeviceOf<sim::Mcu3080Ti>(kMcu3080Ti, 0x5A); }

    // Every write from the log position on, in the transfer log's text.
    std::vector<std::string> WritesSince(std::size_t mark) const {
        std::vector<std::string> lines;
        const auto& entries = machine.Log().Entries();
        for (std::size_t i = mark; i < entries.size(); ++i)
            if (entries[i].kind == sim::LogEntry::Kind::Write) lines.push_back(sim::TransferLog::Format(entries[i]));
        return lines;
    }
    std::size_t LogMark() const { return machine.Log().Entries().size(); }
    std::vector<std::uintptr_t> WrittenHandlesSince(std::size_t mark) const {
        std::vector<std::uintptr_t> handles;
        const auto& entries = machine.Log().Entries();
        for (std::size_t i = mark; i < entries.size(); ++i)
            if (entries[i].kind == sim::LogEntry::Kind::Write &&
                (handles.empty() || handles.back() != entries[i].handle))
                handles.push_back(entries[i].handle);
        return handles;
    }

    QTemporaryDir currentDir;
    QTemporaryDir lockDir;
    QString previousDir;
    sim::SimMachine machine;
    nvapi::NvApi* nvApi = &machine;  // what the run is handed as NvAPI
    SimSleeper sleeper{machine};
    profile::PrivateProfileFile profileFiles;
    LazyProfileStore profiles{profileFiles};
    qtfront::BusyState busy;
    qtfront::QtDialogFramework framework{busy};
    qtfront::QtProcessServices services{busy, lockDir.path()};
    UserScript script;
};

}  // namespace qt_test
