#include "boards/BoardIo.h"

#include <algorithm>
#include <array>

#include "gpu/NvApi.h"

namespace board_io {

bool Read(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port, std::uint8_t device, std::uint8_t reg,
          std::uint8_t* data, std::uint32_t length) {
    std::fill_n(data, length, std::uint8_t{0});
    I2cTransfer transfer;
    transfer.gpuIndex = gpuIndex;
    transfer.deviceAddress = device;
    transfer.registerAddress = reg;
    transfer.data = data;
    transfer.length = length;
    transfer.port = port;
    return gpus.Read(transfer);
}

bool Write(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port, std::uint8_t device, std::uint8_t reg,
           const std::uint8_t* data, std::uint32_t length) {
    std::array<std::uint8_t, kMaxWriteLength> buffer{};
    if (length > buffer.size()) return false;
    std::copy_n(data, length, buffer.begin());
    I2cTransfer transfer;
    transfer.gpuIndex = gpuIndex;
    transfer.deviceAddress = device;
    transfer.registerAddress = reg;
    transfer.data = length != 0 ? buffer.data() : nullptr;
    transfer.length = length;
    transfer.port = port;
    return gpus.Write(transfer);
}

std::optional<std::uint32_t> SubsystemId(const GpuList& gpus, std::uint32_t gpuIndex) {
    if (!gpus.IsReady() || gpuIndex >= gpus.Count()) return std::nullopt;
    std::uint32_t deviceId = 0, subsystemId = 0, revisionId = 0, extDeviceId = 0;
    if (nvapi::Api().GPU_GetPCIIdentifiers(gpus.Handle(gpuIndex), &deviceId, &subsystemId, &revisionId,
                                           &extDeviceId) != nvapi::NVAPI_OK)
        return std::nullopt;
    return subsystemId;
}

}  // namespace board_io
