#include "gpu/GpuList.h"

#include <algorithm>
#include <cstdint>

#include "gpu/AnsiText.h"

GpuList::GpuList(nvapi::NvApi& api) : api_(api) {
    if (api_.Initialize() != nvapi::NVAPI_OK) return;
    nvapi::NvPhysicalGpuHandle found[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    if (api_.EnumPhysicalGPUs(found, &count) == nvapi::NVAPI_OK) {
        // Never trust a count beyond the array NvAPI was given.
        count = std::min<std::uint32_t>(count, nvapi::NVAPI_MAX_PHYSICAL_GPUS);
        handles_.assign(found, found + count);
    }
    std::sort(handles_.begin(), handles_.end(), [](nvapi::NvPhysicalGpuHandle a, nvapi::NvPhysicalGpuHandle b) {
        return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
    });
    ready_ = 1;
}

bool GpuList::GetName(std::uint32_t index, std::wstring& name) const {
    if (!IsReady() || index >= Count()) return false;
    char buffer[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    if (api_.GPU_GetFullName(handles_[index], buffer) != nvapi::NVAPI_OK) return false;
    buffer[sizeof buffer - 1] = '\0';  // a driver that fills all 64 bytes must not run us off the end
    name = AnsiToWide(buffer);
    return true;
}

