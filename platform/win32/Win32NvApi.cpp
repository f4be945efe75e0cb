#include "platform/win32/Win32NvApi.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace win32 {

using nvapi::NvPhysicalGpuHandle;
using nvapi::NvStatus;
using nvapi::NV_I2C_INFO_V3;

namespace {

// NvAPI's calling convention on 32-bit Windows, for the functions and for the query itself.
using QueryInterfaceFn = void*(__cdecl*)(std::uint32_t id);
using InitializeFn = NvStatus(__cdecl*)();
using EnumPhysicalGPUsFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle*, std::uint32_t*);
using GetTextFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle, char*);
using GetPCIIdentifiersFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle, std::uint32_t*, std::uint32_t*, std::uint32_t*,
                                               std::uint32_t*);
using I2CFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle, NV_I2C_INFO_V3*, std::uint32_t*);
using GetNumberFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle, std::uint32_t*);

// Code addresses arrive as data pointers; copying the bits is the one conversion every compiler
// accepts without a cast between object and function pointers.
template <typename Fn>
Fn AsFunction(void* address) {
    static_assert(sizeof(Fn) == sizeof(void*), "function and data pointers differ in size");
    Fn function = nullptr;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

void* AsAddress(FARPROC proc) {
    void* address = nullptr;
    static_assert(sizeof proc == sizeof address, "function and data pointers differ in size");
    std::memcpy(&address, &proc, sizeof address);
    return address;
}

#ifdef _WIN64
constexpr const wchar_t* kLibraryName = L"nvapi64.dll";
#else
constexpr const wchar_t* kLibraryName = L"nvapi.dll";
#endif

// Only the system directory: a planted nvapi.dll beside the program or in the current directory
// must never be loaded into a process that writes to voltage regulators.
HMODULE LoadFromSystemDirectory() {
    HMODULE module = LoadLibraryExW(kLibraryName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Windows 7 without KB2533623 does not know the flag; the full path keeps the same rule.
    const UINT length = GetSystemDirectoryW(nullptr, 0);
    if (length == 0) return nullptr;
    std::wstring path(length, L'\0');
    const UINT written = GetSystemDirectoryW(path.data(), length);
    if (written == 0 || written >= length) return nullptr;
    path.resize(written);
    path += L'\\';
    path += kLibraryName;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool Win32NvApi::LoadLibraryOnce() {
    if (!loadTried_) {
        loadTried_ = true;
        if (HMODULE module = LoadFromSystemDirectory())
            queryInterface_ = AsAddress(GetProcAddress(module, "nvapi_QueryInterface"));
    }
    return queryInterface_ != nullptr;
}

void* Win32NvApi::Lookup(NvApiFunction function) {
    if (!lookedUp_[function]) {
        if (!LoadLibraryOnce()) return nullptr;
        lookedUp_[function] = true;
        functions_[function] = AsFunction<QueryInterfaceFn>(queryInterface_)(kNvApiInterfaceIds[function]);
    }
    return functions_[function];
}

NvStatus Win32NvApi::Initialize() {
    void* f = Lookup(kNvInitialize);
    return f ? AsFunction<InitializeFn>(f)() : nvapi::NVAPI_LIBRARY_NOT_FOUND;
}

NvStatus Win32NvApi::EnumPhysicalGPUs(NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS],
                                      std::uint32_t* count) {
    void* f = Lookup(kNvEnumPhysicalGPUs);
    return f ? AsFunction<EnumPhysicalGPUsFn>(f)(handles, count) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::GPU_GetFullName(NvPhysicalGpuHandle gpu, char name[nvapi::NVAPI_SHORT_STRING_MAX]) {
    void* f = Lookup(kNvGetFullName);
    return f ? AsFunction<GetTextFn>(f)(gpu, name) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::GPU_GetPCIIdentifiers(NvPhysicalGpuHandle gpu, std::uint32_t* deviceId,
                                           std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                           std::uint32_t* extDeviceId) {
    void* f = Lookup(kNvGetPCIIdentifiers);
    return f ? AsFunction<GetPCIIdentifiersFn>(f)(gpu, deviceId, subSystemId, revisionId, extDeviceId)
             : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::GPU_GetVbiosVersionString(NvPhysicalGpuHandle gpu, char version[nvapi::NVAPI_SHORT_STRING_MAX]) {
    void* f = Lookup(kNvGetVbiosVersionString);
    return f ? AsFunction<GetTextFn>(f)(gpu, version) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::I2CReadEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    void* f = Lookup(kNvI2CReadEx);
    return f ? AsFunction<I2CFn>(f)(gpu, info, unknown) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::I2CWriteEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    void* f = Lookup(kNvI2CWriteEx);
    return f ? AsFunction<I2CFn>(f)(gpu, info, unknown) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::GPU_GetBusId(NvPhysicalGpuHandle gpu, std::uint32_t* busId) {
    void* f = Lookup(kNvGetBusId);
    return f ? AsFunction<GetNumberFn>(f)(gpu, busId) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, std::uint32_t* slotId) {
    void* f = Lookup(kNvGetBusSlotId);
    return f ? AsFunction<GetNumberFn>(f)(gpu, slotId) : nvapi::NVAPI_NO_IMPLEMENTATION;
}

NvStatus Win32NvApi::PciDomainAndFunction(NvPhysicalGpuHandle, std::uint32_t*, std::uint32_t*) {
    return nvapi::NVAPI_NO_IMPLEMENTATION;
}

}  // namespace win32
