// The board simulator as NvAPI's library (nvapi.dll; nvapi64.dll in the 64-bit build), so the real
// Windows program can be run against simulated boards (under Wine, or on a Windows test machine
// without an NVIDIA board).
//
//   HALVORN_SIM_SCENARIO  a scenario file (see sim/Scenario.h); the built-in machine when unset.
//                         A file that cannot be read or parsed fails NvAPI_Initialize. With
//                         `machine bus-functions=absent` nvapi_QueryInterface does not hand out
//                         NvAPI_GPU_GetBusId and NvAPI_GPU_GetBusSlotId, as an older driver.
//   HALVORN_SIM_LOG       a file to which every transfer is appended as one line, as
//                         sim::TransferLog::Format writes it, and every scenario error as
//                         "error: ...". Appended as they happen, so a test can read it at any time.
//
// Like NVIDIA's library it exports only nvapi_QueryInterface; every function it hands out is
// __cdecl and forwards to one sim::SimMachine, created at NvAPI_Initialize.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "gpu/NvApi.h"
#include "platform/win32/NvApiInterfaceIds.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"
#include "sim/TransferLog.h"

namespace {

using nvapi::NvPhysicalGpuHandle;
using nvapi::NvStatus;
using nvapi::NV_I2C_INFO_V3;

std::wstring Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                            nullptr);
    return out;
}

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return false;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

class SimulatedNvApi {
public:
    NvStatus Initialize() {
        sim::SimMachine* machine = Machine();
        return machine ? machine->Initialize() : nvapi::NVAPI_ERROR;
    }

    // The scenario's machine, made on first use; null when the scenario cannot be loaded.
    sim::SimMachine* Machine() {
        if (!machine_) {
            auto machine = std::make_unique<sim::SimMachine>();
            const std::wstring scenario = Environment(L"HALVORN_SIM_SCENARIO");
            if (scenario.empty()) {
                sim::LoadDefaultScenario(*machine);
            } else {
                std::string text;
                std::string error;
                if (!ReadWholeFile(scenario, text)) {
                    AppendLog("error: " + Utf8(scenario) + ": cannot open the scenario file\n");
                    return nullptr;
                }
                if (!sim::LoadScenario(text, Utf8(scenario), *machine, error)) {
                    AppendLog("error: " + error + "\n");
                    return nullptr;
                }
            }
            machine_ = std::move(machine);
        }
        return machine_.get();
    }

    // Every other call: forwarded when a machine exists, its transfers then logged.
    template <typename Call>
    NvStatus Forward(Call call) {
        if (!machine_) return nvapi::NVAPI_ERROR;
        const NvStatus status = call(*machine_);
        FlushLog();
        return status;
    }

private:
    // The file keeps the record; the machine's own log is emptied, so a long session does not grow.
    void FlushLog() {
        sim::TransferLog& log = machine_->Log();
        std::string lines;
        for (const sim::LogEntry& entry : log.Entries()) lines += sim::TransferLog::Format(entry) + "\n";
        log.Clear();
        if (!lines.empty()) AppendLog(lines);
    }

    static void AppendLog(const std::string& lines) {
        const std::wstring path = Environment(L"HALVORN_SIM_LOG");
        if (path.empty()) return;
        if (FILE* file = _wfopen(path.c_str(), L"ab")) {
            std::fwrite(lines.data(), 1, lines.size(), file);
            std::fclose(file);
        }
    }

    std::unique_ptr<sim::SimMachine> machine_;
};

SimulatedNvApi& Api() {
    static SimulatedNvApi api;
    return api;
}

NvStatus __cdecl Initialize() { return Api().Initialize(); }

NvStatus __cdecl EnumPhysicalGPUs(NvPhysicalGpuHandle* handles, std::uint32_t* count) {
    return Api().Forward([&](sim::SimMachine& m) { return m.EnumPhysicalGPUs(handles, count); });
}

NvStatus __cdecl GetFullName(NvPhysicalGpuHandle gpu, char* name) {
    return Api().Forward([&](sim::SimMachine& m) { return m.GPU_GetFullName(gpu, name); });
}

NvStatus __cdecl GetPCIIdentifiers(NvPhysicalGpuHandle gpu, std::uint32_t* deviceId, std::uint32_t* subSystemId,
                                   std::uint32_t* revisionId, std::uint32_t* extDeviceId) {
    return Api().Forward(
        [&](sim::SimMachine& m) { return m.GPU_GetPCIIdentifiers(gpu, deviceId, subSystemId, revisionId, extDeviceId); });
}

NvStatus __cdecl GetVbiosVersionString(NvPhysicalGpuHandle gpu, char* version) {
    return Api().Forward([&](sim::SimMachine& m) { return m.GPU_GetVbiosVersionString(gpu, version); });
}

NvStatus __cdecl I2CReadEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    return Api().Forward([&](sim::SimMachine& m) { return m.I2CReadEx(gpu, info, unknown); });
}

NvStatus __cdecl I2CWriteEx(NvPhysicalGpuHandle gpu, NV_I2C_INFO_V3* info, std::uint32_t* unknown) {
    return Api().Forward([&](sim::SimMachine& m) { return m.I2CWriteEx(gpu, info, unknown); });
}

NvStatus __cdecl GetBusId(NvPhysicalGpuHandle gpu, std::uint32_t* busId) {
    return Api().Forward([&](sim::SimMachine& m) { return m.GPU_GetBusId(gpu, busId); });
}

NvStatus __cdecl GetBusSlotId(NvPhysicalGpuHandle gpu, std::uint32_t* slotId) {
    return Api().Forward([&](sim::SimMachine& m) { return m.GPU_GetBusSlotId(gpu, slotId); });
}

// Function addresses travel as data pointers through nvapi_QueryInterface, as NVIDIA's do.
template <typename Fn>
void* Address(Fn function) {
    static_assert(sizeof(Fn) == sizeof(void*), "function and data pointers differ in size");
    void* address = nullptr;
    std::memcpy(&address, &function, sizeof address);
    return address;
}

}  // namespace

extern "C" void* __cdecl nvapi_QueryInterface(std::uint32_t id) {
    using win32::kNvApiInterfaceIds;
    if (id == kNvApiInterfaceIds[win32::kNvInitialize]) return Address(&Initialize);
    if (id == kNvApiInterfaceIds[win32::kNvEnumPhysicalGPUs]) return Address(&EnumPhysicalGPUs);
    if (id == kNvApiInterfaceIds[win32::kNvGetFullName]) return Address(&GetFullName);
    if (id == kNvApiInterfaceIds[win32::kNvGetPCIIdentifiers]) return Address(&GetPCIIdentifiers);
    if (id == kNvApiInterfaceIds[win32::kNvGetVbiosVersionString]) return Address(&GetVbiosVersionString);
    if (id == kNvApiInterfaceIds[win32::kNvI2CReadEx]) return Address(&I2CReadEx);
    if (id == kNvApiInterfaceIds[win32::kNvI2CWriteEx]) return Address(&I2CWriteEx);
    const bool busIdId = id == kNvApiInterfaceIds[win32::kNvGetBusId] || id == kNvApiInterfaceIds[win32::kNvGetBusSlotId];
    if (!busIdId) return nullptr;
    // The scenario decides whether this driver has them; a scenario that cannot be loaded fails
    // every call anyway.
    const sim::SimMachine* machine = Api().Machine();
    if (machine && !machine->HasBusIdFunctions()) return nullptr;
    return id == kNvApiInterfaceIds[win32::kNvGetBusId] ? Address(&GetBusId) : Address(&GetBusSlotId);
}
