#pragma once
// The NvAPI functions the program relies on, as a port each entry point realizes and hands down:
// nvapi.dll on Windows, the NVIDIA driver's I2C adapters on Linux, the board simulator in tests
// and demos. Only GpuList and GpuBus call it.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define NVAPI_CDECL __cdecl
#else
#define NVAPI_CDECL
#endif

namespace nvapi {

using NvStatus = std::int32_t;
constexpr NvStatus NVAPI_OK = 0;
constexpr NvStatus NVAPI_ERROR = -1;
constexpr NvStatus NVAPI_LIBRARY_NOT_FOUND = -2;
constexpr NvStatus NVAPI_NO_IMPLEMENTATION = -3;
constexpr NvStatus NVAPI_INVALID_ARGUMENT = -5;
constexpr NvStatus NVAPI_NVIDIA_DEVICE_NOT_FOUND = -6;
constexpr NvStatus NVAPI_I2C_FAILED = -11;  // our own choice of "the bus said no"

struct NvPhysicalGpuHandle__;
using NvPhysicalGpuHandle = NvPhysicalGpuHandle__*;

constexpr unsigned NVAPI_MAX_PHYSICAL_GPUS = 64;
constexpr unsigned NVAPI_SHORT_STRING_MAX = 64;
constexpr std::uint32_t NVAPI_I2C_SPEED_DEPRECATED = 0xFFFF;
constexpr std::uint32_t NVAPI_I2C_SPEED_DEFAULT = 0;

// NV_I2C_INFO in its published version 3 layout, natural alignment.
struct NV_I2C_INFO_V3 {
    std::uint32_t version;
    std::uint32_t displayMask;
    std::uint8_t bIsDDCPort;
    std::uint8_t i2cDevAddress;
    std::uint8_t* pbI2cRegAddress;
    std::uint32_t regAddrSize;
    std::uint8_t* pbData;
    std::uint32_t cbSize;
    std::uint32_t i2cSpeed;
    std::uint32_t i2cSpeedKhz;
    std::uint8_t portId;
    std::uint32_t bIsPortIdSet;
};

constexpr std::uint32_t NV_I2C_INFO_VER3 =
    (3u << 16) | static_cast<std::uint32_t>(sizeof(NV_I2C_INFO_V3));

#if defined(_WIN64)
static_assert(sizeof(NV_I2C_INFO_V3) == 64, "64-bit NvAPI expects a 64-byte NV_I2C_INFO_V3");
static_assert(NV_I2C_INFO_VER3 == 0x30040, "version word of the 64-bit structure");
#elif defined(_WIN32)
static_assert(sizeof(NV_I2C_INFO_V3) == 44, "32-bit NvAPI expects a 44-byte NV_I2C_INFO_V3");
static_assert(NV_I2C_INFO_VER3 == 0x3002C, "version word of the 32-bit structure");
#endif

// The functions, in words as NVIDIA publishes them, and one of our own.
class NvApi {
public:
    virtual ~NvApi() = default;
    virtual NvStatus Initialize() = 0;
    virtual NvStatus EnumPhysicalGPUs(NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS],
                                      std::uint32_t* count) = 0;
    virtual NvStatus GPU_GetFullName(NvPhysicalGpuHandle gpu, char name[NVAPI_SHORT_STRING_MAX]) = 0;
    virtual NvStatus GPU_GetPCIIdentifiers(NvPhysicalGpuHandle gpu, std::uint32_t* deviceId,
                                           std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                           std::uint32_t* extDeviceId) = 0;
    virtual NvStatus GPU_GetVbiosVersionString(NvPhysicalGpuHandle gpu,
                                               char version[NVAPI_SHORT_STRING_MAX]) = 0;
    virtual NvStatus I2CReadEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) = 0;
    virtual NvStatus I2CWriteEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) = 0;
    // The GPU's PCI bus, and its PCI device number (NVIDIA calls it the slot). Older drivers may
    // lack both: nothing depends on them but the GPU's bus id.
    virtual NvStatus GPU_GetBusId(NvPhysicalGpuHandle gpu, std::uint32_t* busId) = 0;
    virtual NvStatus GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, std::uint32_t* slotId) = 0;
    // Not NvAPI, which gives neither: the PCI domain and function, where the platform knows them.
    // NVAPI_NO_IMPLEMENTATION means domain 0 and function 0.
    virtual NvStatus PciDomainAndFunction(NvPhysicalGpuHandle gpu, std::uint32_t* domain,
                                          std::uint32_t* function) = 0;
};

}  // namespace nvapi
