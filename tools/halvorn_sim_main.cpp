// A look at the simulated machine without a window: the GPUs NvAPI reports with their PCI bus
// ids, the board each one carries, and what the controller window would show for it.
//
//   halvorn-sim [--scenario=FILE] [--log]
#include <clocale>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "boards/BoardDetection.h"
#include "gpu/GpuList.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"

namespace {

void PrintBoard(const AnyBoard& board) {
    for (const ShownSetting& s : ReadShown(board))
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
    const GpuList list(machine);
    const GpuList* gpus = &list;
    if (!gpus->IsReady()) {
        std::printf("NV Control initialize failed!\n");
        return 1;
    }
    std::printf("%u GPU(s), in ascending handle order:\n", gpus->Count());
    for (std::uint32_t i = 0; i < gpus->Count(); ++i) {
        std::wstring name;
        const bool named = gpus->GetName(i, name);
        const std::wstring busId = gpus->BusId(i);
        std::printf("GPU %u  handle 0x%llx  bus %ls  %ls\n", i,
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(gpus->Handle(i))),
                    busId.empty() ? L"(none)" : busId.c_str(), named ? name.c_str() : L"(name cannot be read)");
        if (!named) continue;
        const std::optional<FoundBoard> found = DetectBoard(list, i);
        if (!found) {
            std::printf("  no supported board\n");
            continue;
        }
        PrintBoard(found->board);
    }
    if (showLog) std::printf("\nTransfers:\n%s", machine.Log().Dump().c_str());
    return 0;
}
