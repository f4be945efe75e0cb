#include "sim/SimMachine.h"

#include <algorithm>
#include <cstring>

namespace sim {

using nvapi::NvStatus;

I2cDevice* SimGpu::Find(std::uint8_t port, std::uint8_t address) const {
    auto it = devices.find({port, address});
    return it == devices.end() ? nullptr : it->second.get();
}

SimGpu& SimMachine::AddGpu(std::uintptr_t handle, std::string name) {
    SimGpu gpu;
    gpu.handle = handle;
    gpu.name = std::move(name);
    gpus_.push_back(std::move(gpu));
    return gpus_.back();
}

SimGpu* SimMachine::GpuByHandle(std::uintptr_t handle) {
    for (SimGpu& gpu : gpus_)
        if (gpu.handle == handle) return &gpu;
    return nullptr;
}

std::size_t SimMachine::IndexOf(nvapi::NvPhysicalGpuHandle gpu) const {
    const auto value = reinterpret_cast<std::uintptr_t>(gpu);
    for (std::size_t i = 0; i < gpus_.size(); ++i)
        if (gpus_[i].handle == value) return i;
    return gpus_.size();
}

void SimMachine::Pause(std::uint32_t ms) {
    LogEntry entry;
    entry.kind = LogEntry::Kind::Pause;
    entry.pauseMs = ms;
    entry.atMs = nowMs_;
    log_.Add(std::move(entry));
    nowMs_ += ms;
}

NvStatus SimMachine::Initialize() {
    ++nvapiCalls_;
    ++initializeCalls_;
    if (failInitialize_) return nvapi::NVAPI_LIBRARY_NOT_FOUND;
    initialized_ = true;
    return nvapi::NVAPI_OK;
}

NvStatus SimMachine::EnumPhysicalGPUs(nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS],
                                      std::uint32_t* count) {
    ++nvapiCalls_;
    ++enumerateCalls_;
    if (!initialized_) return nvapi::NVAPI_ERROR;
    if (!handles || !count) return nvapi::NVAPI_INVALID_ARGUMENT;
    if (failEnumeration_) return nvapi::NVAPI_ERROR;
    if (gpus_.empty()) return nvapi::NVAPI_NVIDIA_DEVICE_NOT_FOUND;
    const std::size_t n = std::min<std::size_t>(gpus_.size(), nvapi::NVAPI_MAX_PHYSICAL_GPUS);
    for (std::size_t i = 0; i < n; ++i) handles[i] = reinterpret_cast<nvapi::NvPhysicalGpuHandle>(gpus_[i].handle);
    *count = static_cast<std::uint32_t>(n);
    return nvapi::NVAPI_OK;
}

namespace {
void CopyText(const std::string& text, char out[nvapi::NVAPI_SHORT_STRING_MAX]) {
    const std::size_t n = std::min<std::size_t>(text.size(), nvapi::NVAPI_SHORT_STRING_MAX - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}
}  // namespace

NvStatus SimMachine::GPU_GetFullName(nvapi::NvPhysicalGpuHandle gpu, char name[nvapi::NVAPI_SHORT_STRING_MAX]) {
    ++nvapiCalls_;
    const std::size_t i = IndexOf(gpu);
    if (!initialized_ || i == gpus_.size() || !name) return nvapi::NVAPI_INVALID_ARGUMENT;
    if (!gpus_[i].name) return nvapi::NVAPI_ERROR;
    CopyText(*gpus_[i].name, name);
    return nvapi::NVAPI_OK;
}

NvStatus SimMachine::GPU_GetPCIIdentifiers(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* deviceId,
                                           std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                           std::uint32_t* extDeviceId) {
    ++nvapiCalls_;
    const std::size_t i = IndexOf(gpu);
    if (!initialized_ || i == gpus_.size() || !deviceId || !subSystemId || !revisionId || !extDeviceId)
        return nvapi::NVAPI_INVALID_ARGUMENT;
    if (!gpus_[i].subsystemId) return nvapi::NVAPI_ERROR;
    *deviceId = gpus_[i].deviceId;
    *subSystemId = *gpus_[i].subsystemId;
    *revisionId = 0xA1;
    *extDeviceId = gpus_[i].deviceId >> 16;
    return nvapi::NVAPI_OK;
}

NvStatus SimMachine::GPU_GetVbiosVersionString(nvapi::NvPhysicalGpuHandle gpu,
                                               char version[nvapi::NVAPI_SHORT_STRING_MAX]) {
    ++nvapiCalls_;
    const std::size_t i = IndexOf(gpu);
    if (!initialized_ || i == gpus_.size() || !version) return nvapi::NVAPI_INVALID_ARGUMENT;
    if (!gpus_[i].vbios) return nvapi::NVAPI_ERROR;
    CopyText(*gpus_[i].vbios, version);
    return nvapi::NVAPI_OK;
}

NvStatus SimMachine::BusIdOf(nvapi::NvPhysicalGpuHandle gpu, bool outGiven, bool nvapiFunction, PciBusId& busId) {
    ++nvapiCalls_;
    const std::size_t i = IndexOf(gpu);
    if (!initialized_ || i == gpus_.size() || !outGiven) return nvapi::NVAPI_INVALID_ARGUMENT;
    if (nvapiFunction && !busIdFunctions_) return nvapi::NVAPI_NO_IMPLEMENTATION;
    if (!gpus_[i].busId) return nvapi::NVAPI_ERROR;
    busId = *gpus_[i].busId;
    return nvapi::NVAPI_OK;
}

NvStatus SimMachine::GPU_GetBusId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* busId) {
    PciBusId where;
    const NvStatus status = BusIdOf(gpu, busId != nullptr, true, where);
    if (status == nvapi::NVAPI_OK) *busId = where.bus;
    return status;
}

NvStatus SimMachine::GPU_GetBusSlotId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* slotId) {
    PciBusId where;
    const NvStatus status = BusIdOf(gpu, slotId != nullptr, true, where);
    if (status == nvapi::NVAPI_OK) *slotId = where.device;
    return status;
}

NvStatus SimMachine::PciDomainAndFunction(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* domain,
                                          std::uint32_t* function) {
    PciBusId where;
    const NvStatus status = BusIdOf(gpu, domain && function, false, where);
    if (status != nvapi::NVAPI_OK) return status;
    *domain = where.domain;
    *function = where.function;
    return status;
}

NvStatus SimMachine::I2CReadEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    (void)unknown;
    return Transfer(gpu, info, false);
}

NvStatus SimMachine::I2CWriteEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    (void)unknown;
    return Transfer(gpu, info, true);
}

NvStatus SimMachine::Transfer(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, bool write) {
    ++nvapiCalls_;
    ++transfers_;
    const std::size_t i = IndexOf(gpu);

    LogEntry entry;
    entry.kind = write ? LogEntry::Kind::Write : LogEntry::Kind::Read;
    entry.gpu = static_cast<std::uint32_t>(i);
    entry.handle = reinterpret_cast<std::uintptr_t>(gpu);
    entry.atMs = nowMs_;

    NvStatus status = nvapi::NVAPI_OK;
    if (!initialized_ || i == gpus_.size() || !info) {
        status = nvapi::NVAPI_INVALID_ARGUMENT;
    } else {
        lastInfo_ = *info;
        entry.port = info->bIsPortIdSet ? info->portId : 0;
        entry.portSet = info->bIsPortIdSet != 0;
        entry.device = info->i2cDevAddress;
        entry.reg = info->pbI2cRegAddress ? *info->pbI2cRegAddress : 0;
        entry.length = info->cbSize;
        // A structure the driver would refuse is refused here too.
        if (info->version != nvapi::NV_I2C_INFO_VER3 || info->regAddrSize != 1 || !info->pbI2cRegAddress ||
            (info->cbSize != 0 && !info->pbData) || info->bIsDDCPort != 0) {
            status = nvapi::NVAPI_INVALID_ARGUMENT;
        } else if (failAt_.erase(transfers_) != 0) {
            status = nvapi::NVAPI_I2C_FAILED;
        } else {
            const SimGpu& g = gpus_[i];
            const std::uint8_t port = info->bIsPortIdSet ? info->portId : g.defaultPort;
            I2cDevice* device = g.Find(port, info->i2cDevAddress);
            if (!device) {
                status = nvapi::NVAPI_I2C_FAILED;
            } else if (write) {
                if (!device->Write(entry.reg, info->pbData, info->cbSize)) status = nvapi::NVAPI_I2C_FAILED;
            } else {
                // A failed read may leave anything in the caller's buffer; make that visible.
                std::vector<std::uint8_t> scratch(info->cbSize, 0xEE);
                if (device->Read(entry.reg, scratch.data(), info->cbSize)) {
                    if (info->cbSize) std::memcpy(info->pbData, scratch.data(), info->cbSize);
                    entry.bytes = scratch;
                } else {
                    status = nvapi::NVAPI_I2C_FAILED;
                    if (info->cbSize) std::memset(info->pbData, 0xEE, info->cbSize);
                }
            }
        }
        if (write && info->pbData) entry.bytes.assign(info->pbData, info->pbData + info->cbSize);
    }
    entry.status = status;
    if (logging_) log_.Add(std::move(entry));
    return status;
}

}  // namespace sim
