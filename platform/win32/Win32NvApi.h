#pragma once
// NvAPI from NVIDIA's nvapi.dll. The library is loaded from the system directory on the first
// call and stays loaded until the process ends; each function is looked up once through the
// library's one export, nvapi_QueryInterface. A missing library or function fails the call, so a
// machine without the NVIDIA driver fails at Initialize, and a driver without GPU_GetBusId leaves
// the GPUs without a bus id and nothing else.
#include <cstdint>

#include "gpu/NvApi.h"
#include "platform/win32/NvApiInterfaceIds.h"

namespace win32 {

class Win32NvApi final : public nvapi::NvApi {
public:
    nvapi::NvStatus Initialize() override;
    nvapi::NvStatus EnumPhysicalGPUs(nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS],
                                     std::uint32_t* count) override;
    nvapi::NvStatus GPU_GetFullName(nvapi::NvPhysicalGpuHandle gpu, char name[nvapi::NVAPI_SHORT_STRING_MAX]) override;
    nvapi::NvStatus GPU_GetPCIIdentifiers(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* deviceId,
                                          std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                          std::uint32_t* extDeviceId) override;
    nvapi::NvStatus GPU_GetVbiosVersionString(nvapi::NvPhysicalGpuHandle gpu,
                                              char version[nvapi::NVAPI_SHORT_STRING_MAX]) override;
    nvapi::NvStatus I2CReadEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info,
                              std::uint32_t* unknown) override;
    nvapi::NvStatus I2CWriteEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info,
                               std::uint32_t* unknown) override;
    nvapi::NvStatus GPU_GetBusId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* busId) override;
    nvapi::NvStatus GPU_GetBusSlotId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* slotId) override;
    // NvAPI gives neither: NVAPI_NO_IMPLEMENTATION, domain 0 and function 0.
    nvapi::NvStatus PciDomainAndFunction(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* domain,
                                         std::uint32_t* function) override;

private:
    // The function's address, or null when the library or the function is missing.
    void* Lookup(NvApiFunction function);
    bool LoadLibraryOnce();

    bool loadTried_ = false;
    void* queryInterface_ = nullptr;
    void* functions_[kNvFunctionCount] = {};
    bool lookedUp_[kNvFunctionCount] = {};
};

}  // namespace win32
