#pragma once
// NvAPI on Linux: the GPUs the proprietary NVIDIA driver serves, their identities from sysfs and
// the driver's procfs, and register transfers on the driver's I2C adapters through i2c-dev.
//
// A transfer reaches only the adapter named "NVIDIA i2c adapter P at B:D.F" for the GPU's own
// PCI address and the requested port; no other device file is ever opened. Port 0 ("the driver's
// choice" on Windows) is refused: Linux exposes no default port, and guessing one could put the
// bytes on a display's DDC bus instead of the board's.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gpu/NvApi.h"
#include "platform/linux/I2cDev.h"
#include "platform/linux/NvidiaAdapterName.h"

namespace linuxnv {

// Where the kernel's trees are; tests point these at a tree of their own.
struct Roots {
    std::string sysfs = "/sys";
    std::string procfs = "/proc";
    std::string dev = "/dev";
};

// The group the udev rule gives the NVIDIA adapters to, and the script that installs the rule.
constexpr const char* kAccessGroup = "halvorn-i2c";
constexpr const char* kAccessScript = "scripts/install-linux-access.sh";

class LinuxNvApi final : public nvapi::NvApi {
public:
    // report receives, once each, the causes of failures a user can mend, with the fix.
    using Report = std::function<void(const std::string&)>;
    LinuxNvApi(Roots roots, I2cDev& kernel, Report report);

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

    // The handle a GPU at this address gets: ascending handles are ascending PCI addresses, and
    // the same GPU gets the same handle in every run.
    static nvapi::NvPhysicalGpuHandle HandleOf(const PciAddress& address);

private:
    struct Gpu {
        PciAddress address;
        std::string name;       // DDDD:BB:DD.F, as sysfs and procfs name it
        bool ambiguous = false;  // another NVIDIA GPU has the same bus:device.function in another domain
    };

    const Gpu* Find(nvapi::NvPhysicalGpuHandle handle) const;
    std::string SysfsFile(const Gpu& gpu, const char* file) const;
    nvapi::NvStatus InformationLine(nvapi::NvPhysicalGpuHandle handle, const char* key,
                                    char out[nvapi::NVAPI_SHORT_STRING_MAX]) const;
    nvapi::NvStatus Transfer(nvapi::NvPhysicalGpuHandle handle, nvapi::NV_I2C_INFO_V3* info, bool write);
    // The /dev/i2c-N of the GPU's port, found by name once per run; empty when there is none to
    // use, and then looked for again next time.
    std::string AdapterDevice(const Gpu& gpu, unsigned port);
    nvapi::NvStatus TransferOn(int fd, const std::string& device, const nvapi::NV_I2C_INFO_V3& info, bool write);
    void Tell(const std::string& cause);

    Roots roots_;
    I2cDev& kernel_;
    Report report_;
    std::set<std::string> told_;
    bool initialized_ = false;
    std::vector<Gpu> gpus_;
    std::map<std::pair<std::string, unsigned>, std::string> adapters_;  // (GPU, port) -> device file
};

}  // namespace linuxnv
