#include "boards/BoardIo.h"

#include "gpu/NvApi.h"

namespace board_io {

std::optional<std::uint32_t> SubsystemId(const GpuList& gpus, std::uint32_t gpuIndex) {
    if (!gpus.IsReady() || gpuIndex >= gpus.Count()) return std::nullopt;
    std::uint32_t deviceId = 0, subsystemId = 0, revisionId = 0, extDeviceId = 0;
    if (gpus.Api().GPU_GetPCIIdentifiers(gpus.Handle(gpuIndex), &deviceId, &subsystemId, &revisionId,
                                         &extDeviceId) != nvapi::NVAPI_OK)
        return std::nullopt;
    return subsystemId;
}

}  // namespace board_io
