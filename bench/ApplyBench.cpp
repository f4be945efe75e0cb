// How long --apply-profile takes for 1 and for 8 MCU-driven RTX 3080 Ti boards with every setting
// changed, on the simulator's clock: the MCU's pauses are what the time is made of, and the boards'
// applies run side by side. Figures, not a test.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"
#include "gpu/GpuList.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "sim/Boards.h"
#include "sim/MachineSleeper.h"
#include "sim/SimMachine.h"

namespace {

namespace fs = std::filesystem;

// Every key away from the boards' power-on values.
constexpr const char* kProfile =
    "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\nMSLL=4\r\n"
    "NVOCP=0\r\nMSOCP=0\r\nSYNC=0\r\n";

class BenchServices final : public ProcessServices {
public:
    void InitCommonControls() override {}
    bool AcquireInstanceLock(const std::wstring&) override { return true; }
    void ReleaseInstanceLock() override {}
    bool AcquireMachineLock() override { return true; }
    void ReleaseMachineLock() override {}
    void RaiseRunningInstance(const std::wstring&) override {}
    std::wstring ApplicationName() const override { return L"apply_bench"; }
};

class Quiet final : public CommandOutput {
public:
    void Line(const std::wstring&) override {}
    void Error(const std::wstring& text) override { std::fprintf(stderr, "%ls\n", text.c_str()); }
};

// The simulated milliseconds one --apply-profile takes on this many boards.
std::uint64_t ApplyMs(int boards) {
    sim::SimMachine machine;
    for (int i = 0; i < boards; ++i) {
        sim::SimGpu& gpu = machine.AddGpu(static_cast<std::uintptr_t>(0x1000 + 0x100 * i), "NVIDIA GeForce RTX 3080 Ti");
        gpu.subsystemId = 0x39961B4C;
        sim::AttachBoard(gpu, sim::BoardKind::Rtx3080TiMcu);
    }
    machine.SetLogging(false);
    sim::MachineSleeper sleeper(machine);
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    BenchServices services;
    Quiet output;
    CommandLine apply;
    apply.command = Command::ApplyProfile;
    const int status = RunCommand(apply, services, RunContext{machine, sleeper, profiles}, output);
    if (status != exit_status::kDone) std::fprintf(stderr, "apply_bench: the run ended with %d\n", status);
    return machine.NowMs();
}

}  // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "halvorn-apply-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path previous = fs::current_path();
    fs::current_path(pattern);
    std::ofstream("Profile.ini", std::ios::binary) << kProfile;

    const std::uint64_t one = ApplyMs(1);
    const std::uint64_t eight = ApplyMs(8);
    std::printf("--apply-profile, every setting changed, simulated MCU-driven RTX 3080 Ti boards\n");
    std::printf("  1 board:  %6llu ms\n", static_cast<unsigned long long>(one));
    std::printf("  8 boards: %6llu ms\n", static_cast<unsigned long long>(eight));
    std::printf("  ratio:    %6.2f\n", one ? static_cast<double>(eight) / static_cast<double>(one) : 0.0);

    fs::current_path(previous);
    std::error_code error;
    fs::remove_all(pattern, error);
    return 0;
}
