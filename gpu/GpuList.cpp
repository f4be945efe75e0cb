#include "gpu/GpuList.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "gpu/AnsiText.h"

namespace {
std::atomic<GpuList*> instance{nullptr};
std::mutex instanceLock;
}  // namespace

GpuList* GpuList::Instance() {
    if (GpuList* list = instance.load(std::memory_order_acquire)) return list;
    std::lock_guard<std::mutex> guard(instanceLock);
    if (GpuList* list = instance.load(std::memory_order_relaxed)) return list;

    auto* list = new GpuList();
    nvapi::NvApi& api = nvapi::Api();
    if (api.Initialize() == nvapi::NVAPI_OK) {
        nvapi::NvPhysicalGpuHandle found[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
        std::uint32_t count = 0;
        if (api.EnumPhysicalGPUs(found, &count) == nvapi::NVAPI_OK) {
            // Never trust a count beyond the array NvAPI was given.
            count = std::min<std::uint32_t>(count, nvapi::NVAPI_MAX_PHYSICAL_GPUS);
            list->handles_.assign(found, found + count);
        }
        std::sort(list->handles_.begin(), list->handles_.end(),
                  [](nvapi::NvPhysicalGpuHandle a, nvapi::NvPhysicalGpuHandle b) {
                      return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
                  });
        list->ready_ = 1;
    }
    instance.store(list, std::memory_order_release);
    return list;
}

void GpuList::Release() {
    if (!instance.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(instanceLock);
    if (GpuList* list = instance.load(std::memory_order_relaxed)) {
        delete list;
        instance.store(nullptr, std::memory_order_release);
    }
}

bool GpuList::GetName(std::uint32_t index, std::wstring& name) const {
    if (!IsReady() || index >= Count()) return false;
    char buffer[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    if (nvapi::Api().GPU_GetFullName(handles_[index], buffer) != nvapi::NVAPI_OK) return false;
    buffer[sizeof buffer - 1] = '\0';  // a driver that fills all 64 bytes must not run us off the end
    name = AnsiToWide(buffer);
    return true;
}

bool GpuList::Read(const I2cTransfer& transfer) const { return Transfer(transfer, false); }

bool GpuList::Write(const I2cTransfer& transfer) const { return Transfer(transfer, true); }

bool GpuList::Transfer(const I2cTransfer& transfer, bool write) const {
    if (!IsReady() || transfer.gpuIndex >= Count()) return false;

    std::uint8_t registerByte = transfer.registerAddress;
    nvapi::NV_I2C_INFO_V3 info{};
    info.version = nvapi::NV_I2C_INFO_VER3;
    info.displayMask = 0;
    info.bIsDDCPort = 0;
    info.i2cDevAddress = transfer.deviceAddress;
    info.pbI2cRegAddress = &registerByte;
    info.regAddrSize = 1;
    info.pbData = transfer.data;
    info.cbSize = transfer.length;
    info.i2cSpeed = nvapi::NVAPI_I2C_SPEED_DEPRECATED;
    info.i2cSpeedKhz = nvapi::NVAPI_I2C_SPEED_DEFAULT;
    info.portId = transfer.port;
    info.bIsPortIdSet = transfer.port != 0 ? 1u : 0u;

    std::uint32_t unknown = 0;
    nvapi::NvApi& api = nvapi::Api();
    const nvapi::NvStatus status = write ? api.I2CWriteEx(handles_[transfer.gpuIndex], &info, &unknown)
                                         : api.I2CReadEx(handles_[transfer.gpuIndex], &info, &unknown);
    return status == nvapi::NVAPI_OK;
}
