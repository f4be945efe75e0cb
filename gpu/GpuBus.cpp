#include "gpu/GpuBus.h"

#include <algorithm>

bool GpuBus::Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) {
    std::fill_n(data, length, std::uint8_t{0});
    return Transfer(device, reg, data, length, false);
}

bool GpuBus::Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (length > kMaxWriteLength) return false;
    // NvAPI's structure has one mutable data pointer for both directions; a write only reads it.
    return Transfer(device, reg, length != 0 ? const_cast<std::uint8_t*>(data) : nullptr, length, true);
}

bool GpuBus::Transfer(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length, bool write) {
    if (!gpus_.IsReady() || gpuIndex_ >= gpus_.Count()) return false;

    std::uint8_t registerByte = reg;
    nvapi::NV_I2C_INFO_V3 info{};
    info.version = nvapi::NV_I2C_INFO_VER3;
    info.displayMask = 0;
    info.bIsDDCPort = 0;
    info.i2cDevAddress = device;
    info.pbI2cRegAddress = &registerByte;
    info.regAddrSize = 1;
    info.pbData = data;
    info.cbSize = length;
    info.i2cSpeed = nvapi::NVAPI_I2C_SPEED_DEPRECATED;
    info.i2cSpeedKhz = nvapi::NVAPI_I2C_SPEED_DEFAULT;
    info.portId = port_;
    info.bIsPortIdSet = port_ != 0 ? 1u : 0u;

    std::uint32_t unknown = 0;
    nvapi::NvApi& api = gpus_.Api();
    const nvapi::NvPhysicalGpuHandle gpu = gpus_.Handle(gpuIndex_);
    const nvapi::NvStatus status = write ? api.I2CWriteEx(gpu, &info, &unknown) : api.I2CReadEx(gpu, &info, &unknown);
    return status == nvapi::NVAPI_OK;
}
