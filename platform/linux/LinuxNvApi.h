#pragma once
// NvAPI on Linux: the GPUs the proprietary NVIDIA driver serves, their identities from sysfs and
// the driver's procfs, and register transfers on the driver's I2C adapters through i2c-dev.
//
// A transfer reaches only the adapter named "NVIDIA i2c adapter P at B:D.F" for the GPU's own
// PCI address and the requested port; no other I2C device file is ever opened. Port 0 ("the
// driver's choice" on Windows) is refused: Linux exposes no default port, and guessing one could
// put the bytes on a display's DDC bus instead of the board's.
//
// Each adapter is opened once, on first use, and every descriptor is held until the object goes,
// at the end of the run. A GPU the driver has not started (no display, persistence mode off) has
// no adapters yet: its /dev/nvidiaN is held open for the run, as the driver's own tools do, which
// starts it.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gpu/NvApi.h"
#include "model/Sleeper.h"
#include "platform/linux/I2cDev.h"
#include "platform/linux/NvidiaAdapterName.h"

namespace linuxnv {

// Where the kernel's trees are; tests point these at a tree of their own.
struct Roots {
    std::string sysfs = "/sys";
    std::string procfs = "/proc";
    std::string dev = "/dev";
    std::string installed = "";  // put before /usr/lib and /etc, where the access files may be
};

// The group the udev rule gives the NVIDIA adapters to, the script that installs the rule from a
// source tree, and the files the package or the script install.
constexpr const char* kAccessGroup = "halvorn-i2c";
constexpr const char* kAccessScript = "scripts/install-linux-access.sh";
constexpr const char* kPackagedRule = "/usr/lib/udev/rules.d/70-halvorn-nvidia-i2c.rules";
constexpr const char* kScriptRule = "/etc/udev/rules.d/70-halvorn-nvidia-i2c.rules";
constexpr const char* kPackagedModules = "/usr/lib/modules-load.d/halvorn-i2c-dev.conf";
constexpr const char* kScriptModules = "/etc/modules-load.d/halvorn-i2c-dev.conf";

// How long a GPU may take to register its adapters once it is started or back from sleep; the
// driver needs about two seconds after a resume.
constexpr unsigned kGpuStartWaitMs = 5000;
constexpr unsigned kGpuStartPollMs = 100;

class LinuxNvApi final : public nvapi::NvApi {
public:
    // report receives, once each, the causes of failures a user can mend, with the fix.
    using Report = std::function<void(const std::string&)>;
    // sleeper: the pauses of the wait for a GPU that is being started.
    LinuxNvApi(Roots roots, I2cDev& kernel, Sleeper& sleeper, Report report);
    ~LinuxNvApi() override;
    LinuxNvApi(const LinuxNvApi&) = delete;
    LinuxNvApi& operator=(const LinuxNvApi&) = delete;

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
    // From the PCI address the GPU was listed by, the name of its sysfs and procfs entries.
    nvapi::NvStatus GPU_GetBusId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* busId) override;
    nvapi::NvStatus GPU_GetBusSlotId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* slotId) override;
    nvapi::NvStatus PciDomainAndFunction(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* domain,
                                         std::uint32_t* function) override;

    // How many listed GPUs could not be started in the last enumeration: their boards cannot be
    // looked for, so a run that reaches none of them has not done all it was asked.
    std::size_t GpusNotStarted() const { return notStarted_; }
    // How many started GPUs' adapters had no device files after the wait: their boards are left
    // out too, but persistence mode is no cure.
    std::size_t GpusWithoutDeviceFiles() const { return withoutDeviceFiles_; }

    // The handle a GPU at this address gets: ascending handles are ascending PCI addresses, and
    // the same GPU gets the same handle in every run.
    static nvapi::NvPhysicalGpuHandle HandleOf(const PciAddress& address);

private:
    struct Gpu {
        PciAddress address;
        std::string name;       // DDDD:BB:DD.F, as sysfs and procfs name it
        bool ambiguous = false;  // another NVIDIA GPU has the same bus:device.function in another domain
    };
    // An adapter's device file, held for the run; fd < 0 (-errno) when it could not be used.
    struct OpenAdapter {
        int fd = -1;
        unsigned long functions = 0;
        int slave = -1;  // the address I2C_SLAVE last set
    };

    const Gpu* Find(nvapi::NvPhysicalGpuHandle handle) const;
    std::string SysfsFile(const Gpu& gpu, const char* file) const;
    nvapi::NvStatus InformationLine(nvapi::NvPhysicalGpuHandle handle, const char* key,
                                    char out[nvapi::NVAPI_SHORT_STRING_MAX]) const;
    std::optional<std::string> InformationField(const Gpu& gpu, const char* key) const;
    nvapi::NvStatus Transfer(nvapi::NvPhysicalGpuHandle handle, nvapi::NV_I2C_INFO_V3* info, bool write);
    // The sysfs entries (i2c-N) of the adapters named for this GPU and port; port 0 stands for any.
    std::vector<std::string> AdaptersOf(const Gpu& gpu, unsigned port) const;
    // The /dev/i2c-N of the GPU's port, found by name once per run; empty when there is none to
    // use, and then looked for again next time.
    std::string AdapterDevice(const Gpu& gpu, unsigned port);
    OpenAdapter* Open(const std::string& device, const Gpu& gpu, unsigned port);
    nvapi::NvStatus TransferOn(OpenAdapter& adapter, const nvapi::NV_I2C_INFO_V3& info, bool write);

    // A GPU the driver has not started reads its VBIOS as unknown and has no adapters until it is
    // opened; once started it has its adapters, with their device files when i2c-dev is loaded.
    // A started GPU without any adapter (a compute card) has no I2C at all: nothing to start.
    enum class GpuState { Started, NotStarted, WithoutDeviceFiles, WithoutI2c };
    GpuState StateOf(const Gpu& gpu) const;
    void StartGpus();
    // The held device file of the GPU, opened now if need be; empty when it cannot be opened,
    // with the cause told.
    bool HoldDeviceFile(const Gpu& gpu, std::string& cause);
    bool HoldFile(const std::string& path, std::string& cause);

    std::string AccessAdvice() const;
    std::string ModuleAdvice() const;
    std::string Installed(const char* first, const char* second) const;
    void Tell(const std::string& cause);

    Roots roots_;
    I2cDev& kernel_;
    Sleeper& sleeper_;
    Report report_;
    std::set<std::string> told_;
    bool initialized_ = false;
    std::size_t notStarted_ = 0;
    std::size_t withoutDeviceFiles_ = 0;
    std::vector<Gpu> gpus_;
    std::map<std::pair<std::string, unsigned>, std::string> adapters_;  // (GPU, port) -> device file
    std::map<std::string, OpenAdapter> open_;                           // device file -> held descriptor
    // /dev/nvidiactl and /dev/nvidiaN in the order they were opened, with the descriptor or -errno.
    std::vector<std::pair<std::string, int>> held_;
};

}  // namespace linuxnv
