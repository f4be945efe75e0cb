#pragma once
// A simulated machine as NvAPI sees it: GPUs with their identities and I2C devices, faults on
// demand, a clock the tests control and a log of every transfer. It realizes the NvAPI port.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gpu/NvApi.h"
#include "sim/I2cDevice.h"
#include "sim/TransferLog.h"

namespace sim {

// Where a GPU sits on PCI, as lspci shows it: domain:bus:device.function.
struct PciBusId {
    std::uint32_t domain = 0;
    std::uint32_t bus = 0;
    std::uint32_t device = 0;
    std::uint32_t function = 0;
    bool operator==(const PciBusId& o) const {
        return domain == o.domain && bus == o.bus && device == o.device && function == o.function;
    }
};

struct SimGpu {
    std::uintptr_t handle = 0;
    std::optional<std::string> name;   // nullopt: GPU_GetFullName fails
    std::optional<std::uint32_t> subsystemId = 0;
    std::optional<std::string> vbios;  // nullopt: GPU_GetVbiosVersionString fails
    std::uint32_t deviceId = 0x220A10DE;
    std::optional<PciBusId> busId;     // nullopt: GPU_GetBusId and GPU_GetBusSlotId fail
    // The port a transfer reaches when it names none. Our boards' devices sit on port 1.
    std::uint8_t defaultPort = 1;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::shared_ptr<I2cDevice>> devices;  // (port, address)

    void Attach(std::uint8_t port, std::uint8_t address, std::shared_ptr<I2cDevice> device) {
        devices[{port, address}] = std::move(device);
    }
    I2cDevice* Find(std::uint8_t port, std::uint8_t address) const;
};

class SimMachine final : public nvapi::NvApi {
public:
    SimMachine() = default;

    // Machine set-up. GPUs are enumerated in the order they were added.
    SimGpu& AddGpu(std::uintptr_t handle, std::string name);
    std::vector<SimGpu>& Gpus() { return gpus_; }
    const std::vector<SimGpu>& Gpus() const { return gpus_; }
    SimGpu* GpuByHandle(std::uintptr_t handle);

    // Faults on demand.
    void FailInitialize(bool fail = true) { failInitialize_ = fail; }
    void FailEnumeration(bool fail = true) { failEnumeration_ = fail; }
    // A driver older than GPU_GetBusId and GPU_GetBusSlotId: they answer NVAPI_NO_IMPLEMENTATION,
    // as the Windows loader does for a function nvapi.dll does not hand out.
    void SetBusIdFunctions(bool present) { busIdFunctions_ = present; }
    bool HasBusIdFunctions() const { return busIdFunctions_; }
    // The n-th I2C transfer from now (1 = the next one) fails with an I2C error.
    void FailTransferAt(std::uint64_t n) { failAt_.insert(transfers_ + n); }
    void ClearTransferFaults() { failAt_.clear(); }
    std::uint64_t TransferCount() const { return transfers_; }

    // The clock; pauses of the program advance it, nothing here sleeps for real.
    std::uint64_t NowMs() const { return nowMs_; }
    void Pause(std::uint32_t ms);

    // Benchmarks turn the log off so it does not grow without bound.
    void SetLogging(bool on) { logging_ = on; }
    TransferLog& Log() { return log_; }
    const TransferLog& Log() const { return log_; }
    std::uint32_t InitializeCalls() const { return initializeCalls_; }
    std::uint32_t EnumerateCalls() const { return enumerateCalls_; }
    // Every NvAPI call the machine received, I2C or not.
    std::uint32_t NvApiCalls() const { return nvapiCalls_; }
    // The fields of the last I2C structure received, as the program filled them in.
    const nvapi::NV_I2C_INFO_V3& LastInfo() const { return lastInfo_; }

    // NvAPI.
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
    nvapi::NvStatus PciDomainAndFunction(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* domain,
                                         std::uint32_t* function) override;

private:
    // The GPU's bus id for the three queries, or the status they answer.
    nvapi::NvStatus BusIdOf(nvapi::NvPhysicalGpuHandle gpu, bool outGiven, bool nvapiFunction, PciBusId& busId);

    nvapi::NvStatus Transfer(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, bool write);
    std::size_t IndexOf(nvapi::NvPhysicalGpuHandle gpu) const;  // gpus_.size() when unknown

    std::vector<SimGpu> gpus_;
    bool initialized_ = false;
    bool failInitialize_ = false;
    bool failEnumeration_ = false;
    bool busIdFunctions_ = true;
    std::set<std::uint64_t> failAt_;
    std::uint64_t transfers_ = 0;
    std::uint64_t nowMs_ = 0;
    std::uint32_t initializeCalls_ = 0;
    std::uint32_t enumerateCalls_ = 0;
    std::uint32_t nvapiCalls_ = 0;
    nvapi::NV_I2C_INFO_V3 lastInfo_{};
    TransferLog log_;
    bool logging_ = true;
};

}  // namespace sim
