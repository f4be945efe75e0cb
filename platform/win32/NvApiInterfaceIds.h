#pragma once
// The interface IDs by which nvapi_QueryInterface hands out NvAPI's functions. Shared by the
// program's loader and the simulator's test nvapi.dll, so the two cannot disagree.
#include <cstddef>
#include <cstdint>

namespace win32 {

enum NvApiFunction : std::size_t {
    kNvInitialize,
    kNvEnumPhysicalGPUs,
    kNvGetFullName,
    kNvGetPCIIdentifiers,
    kNvGetVbiosVersionString,
    kNvI2CReadEx,
    kNvI2CWriteEx,
    // Not every driver hands these out; a GPU then has no bus id, and nothing else is amiss.
    kNvGetBusId,
    kNvGetBusSlotId,
    kNvFunctionCount
};

constexpr std::uint32_t kNvApiInterfaceIds[kNvFunctionCount] = {
    0x0150E828,  // NvAPI_Initialize
    0xE5AC921F,  // NvAPI_EnumPhysicalGPUs
    0xCEEE8E9F,  // NvAPI_GPU_GetFullName
    0x2DDFB66E,  // NvAPI_GPU_GetPCIIdentifiers
    0xA561FD7D,  // NvAPI_GPU_GetVbiosVersionString
    0x4D7B0709,  // NvAPI_I2CReadEx
    0x283AC65A,  // NvAPI_I2CWriteEx
    0x1BE0B8E5,  // NvAPI_GPU_GetBusId
    0x2A0A350F,  // NvAPI_GPU_GetBusSlotId
};

}  // namespace win32
