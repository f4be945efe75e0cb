#include "gpu/NvApi.h"

namespace nvapi {
namespace {

// A machine without the NVIDIA driver: every call fails, Initialize first.
class MissingNvApi final : public NvApi {
public:
    NvStatus Initialize() override { return NVAPI_LIBRARY_NOT_FOUND; }
    NvStatus EnumPhysicalGPUs(NvPhysicalGpuHandle*, std::uint32_t*) override { return NVAPI_LIBRARY_NOT_FOUND; }
    NvStatus GPU_GetFullName(NvPhysicalGpuHandle, char*) override { return NVAPI_LIBRARY_NOT_FOUND; }
    NvStatus GPU_GetPCIIdentifiers(NvPhysicalGpuHandle, std::uint32_t*, std::uint32_t*, std::uint32_t*,
                                   std::uint32_t*) override {
        return NVAPI_LIBRARY_NOT_FOUND;
    }
    NvStatus GPU_GetVbiosVersionString(NvPhysicalGpuHandle, char*) override { return NVAPI_LIBRARY_NOT_FOUND; }
    NvStatus I2CReadEx(NvPhysicalGpuHandle, NV_I2C_INFO_V3*, std::uint32_t*) override { return NVAPI_LIBRARY_NOT_FOUND; }
    NvStatus I2CWriteEx(NvPhysicalGpuHandle, NV_I2C_INFO_V3*, std::uint32_t*) override { return NVAPI_LIBRARY_NOT_FOUND; }
};

MissingNvApi missing;
NvApi* chosen = nullptr;

}  // namespace

void SetNvApi(NvApi* api) { chosen = api; }

NvApi& Api() { return chosen ? *chosen : missing; }

}  // namespace nvapi
