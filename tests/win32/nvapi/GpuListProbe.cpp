// The program's own NvAPI loader and GPU list, as HalvornController.exe makes them, on whatever
// NvAPI library the system directory holds. One answer line each:
//
//   gpus READY COUNT
//   bus I ID       the GPU's bus id, or "bus I none" when it has none
#include <cstdint>
#include <cstdio>
#include <string>

#include "gpu/GpuList.h"
#include "platform/win32/Win32NvApi.h"

int wmain() {
    win32::Win32NvApi api;
    const GpuList gpus(api);
    std::printf("gpus %d %u\n", gpus.IsReady() ? 1 : 0, gpus.Count());
    for (std::uint32_t i = 0; i < gpus.Count(); ++i) {
        const std::wstring id = gpus.BusId(i);
        std::printf("bus %u %ls\n", i, id.empty() ? L"none" : id.c_str());
    }
    return 0;
}
