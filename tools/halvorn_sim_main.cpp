// A look at the simulated machine without a window: the GPUs NvAPI reports, the board each one
// carries, and what the controller window would show for it.
//
//   halvorn-sim [--scenario=FILE] [--log]
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/BoardDetection.h"
#include "gpu/GpuList.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"

namespace {

// The controllers read without a panel.
class NoPanel final : public PanelSource {
public:
    ControlPanel* ControllerPanel() override { return nullptr; }
};

void PrintBoard(IVgaControl& controller) {
    for (const ShownSetting& s : controller.ReadShown())
        std::printf("  %ls: %ls%ls\n", s.label.c_str(), s.text.c_str(),
                    s.detail.empty() ? L"" : (L"  (" + s.detail + L")").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::string scenario;
    bool showLog = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--scenario=", 11) == 0) scenario = argv[i] + 11;
        else if (std::strcmp(argv[i], "--log") == 0) showLog = true;
        else {
            std::fprintf(stderr, "usage: %s [--scenario=FILE] [--log]\n", argv[0]);
            return 2;
        }
    }

    sim::SimMachine machine;
    if (scenario.empty()) {
        sim::LoadDefaultScenario(machine);
    } else {
        std::string error;
        if (!sim::LoadScenarioFile(scenario, machine, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    // Profile.ini is looked for in the current directory, as the program does.
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    const GpuList list(machine);
    const GpuList* gpus = &list;
    if (!gpus->IsReady()) {
        std::printf("NV Control initialize failed!\n");
        return 1;
    }
    NoPanel panels;
    sim::MachineSleeper sleeper(machine);
    const BoardServices services{list, sleeper, profiles};
    std::printf("%u GPU(s), in ascending handle order:\n", gpus->Count());
    for (std::uint32_t i = 0; i < gpus->Count(); ++i) {
        std::wstring name;
        const bool named = gpus->GetName(i, name);
        std::printf("GPU %u  handle 0x%llx  %ls\n", i,
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(gpus->Handle(i))),
                    named ? name.c_str() : L"(name cannot be read)");
        if (!named) continue;
        std::unique_ptr<IVgaControl> controller = CreateBoardController(i, panels, services);
        if (!controller) {
            std::printf("  no supported board\n");
            continue;
        }
        PrintBoard(*controller);
    }
    if (showLog) std::printf("\nTransfers:\n%s", machine.Log().Dump().c_str());
    return 0;
}
