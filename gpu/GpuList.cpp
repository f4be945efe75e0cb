#include "gpu/GpuList.h"

#include <algorithm>
#include <cstdint>

#include "gpu/AnsiText.h"
#include "gpu/PciBusIdText.h"

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

std::wstring GpuList::BusId(std::uint32_t index) const {
    if (!IsReady() || index >= Count()) return {};
    std::uint32_t bus = 0, device = 0, domain = 0, function = 0;
    if (api_.GPU_GetBusId(handles_[index], &bus) != nvapi::NVAPI_OK ||
        api_.GPU_GetBusSlotId(handles_[index], &device) != nvapi::NVAPI_OK)
        return {};
    // NvAPI has no domain or function: a platform that does not say has domain 0, and a GPU is
    // function 0 of its device.
    const nvapi::NvStatus located = api_.PciDomainAndFunction(handles_[index], &domain, &function);
    if (located == nvapi::NVAPI_NO_IMPLEMENTATION) domain = function = 0;
    else if (located != nvapi::NVAPI_OK) return {};
    return PciBusIdText(domain, bus, device, function);
}
