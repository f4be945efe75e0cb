#include "platform/linux/LinuxNvApi.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace linuxnv {

using nvapi::NvStatus;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kNvidiaVendor = 0x10DE;
constexpr std::uint32_t kVgaClass = 0x0300;  // class code without its programming interface
constexpr std::uint32_t k3dClass = 0x0302;
constexpr std::uintptr_t kHandleTag = std::uintptr_t{1} << 48;  // no GPU gets a null handle
static_assert(sizeof(std::uintptr_t) >= 8, "handles carry the whole PCI address");

// Every file the back end reads is a small text file of sysfs or the driver's procfs.
std::optional<std::string> ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// A one-value file's value, without the line end sysfs puts after it.
std::optional<std::string> ReadValue(const std::string& path) {
    std::optional<std::string> text = ReadSmallFile(path);
    if (text && !text->empty() && text->back() == '\n') text->pop_back();
    return text;
}

std::optional<std::uint32_t> ReadHex(const std::string& path) {
    const std::optional<std::string> text = ReadValue(path);
    if (!text || text->size() < 3 || text->size() > 10 || text->compare(0, 2, "0x") != 0) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text->size(); ++i) {
        const char c = (*text)[i];
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

// The value of a "Key:   value" line of the driver's information file, trimmed.
std::optional<std::string> FieldOf(const std::string& text, const char* key) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, std::strlen(key), key) == 0) {
            const std::size_t first = line.find_first_not_of(" \t", std::strlen(key));
            if (first == std::string::npos) return std::string();
            const std::size_t last = line.find_last_not_of(" \t\r");
            return line.substr(first, last - first + 1);
        }
        at = end + 1;
    }
    return std::nullopt;
}

void CopyText(const std::string& text, char out[nvapi::NVAPI_SHORT_STRING_MAX]) {
    const std::size_t n = std::min<std::size_t>(text.size(), nvapi::NVAPI_SHORT_STRING_MAX - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// B:D.F as the driver writes it in adapter names, the bus in hexadecimal without leading zeros.
std::string BusDeviceFunction(const PciAddress& gpu) {
    char text[16];
    std::snprintf(text, sizeof text, "%x:%02x.%x", gpu.bus, gpu.device, gpu.function);
    return text;
}

std::string AdapterNameFor(unsigned port, const PciAddress& gpu) {
    return "NVIDIA i2c adapter " + std::to_string(port) + " at " + BusDeviceFunction(gpu);
}

// Numbers of the i2c-N entries in a folder (sysfs adapters or /dev nodes).
std::vector<std::string> I2cEntries(const std::string& folder) {
    std::vector<std::string> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name.compare(0, 4, "i2c-") == 0 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos)
            entries.push_back(name);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

constexpr const char* kUnknownVbios = "??.??.??.??.??";  // what the driver shows before it starts a GPU

constexpr const char* kPersistenceFix =
    "Turn on persistence mode, so that the driver keeps every GPU started: `sudo nvidia-smi -pm 1`, or "
    "enable the nvidia-persistenced service.";

// Which form a register transfer takes on a port, by what the driver offers there (I2C_FUNCS):
// - current drivers on SMBus-capable ports: SMBus I2C-block, one register transfer as NvAPI's;
// - drivers without I2C-block (the 515/520 series): SMBus byte data and word data, also true
//   register transfers, for one and two bytes;
// - everything else through I2C_RDWR. The driver sends each message as its own transaction with a
//   stop after it, so an I2C_RDWR read is a register write, a stop, then a read, and needs the
//   device to keep its register pointer across the stop. On the older drivers that is left to
//   reads of more than two bytes (the MCU's identification, status and setting reads), on ports
//   without SMBus to every read. Writes are one message and so one transaction in every form.
enum class Form { I2cBlock, ByteData, WordData, RegisterOnly, Rdwr, None };

Form FormFor(unsigned long functions, bool write, std::uint32_t length) {
    const auto offers = [functions](unsigned long needed) { return (functions & needed) == needed; };
    if (write && length == 0) {
        if (offers(I2C_FUNC_SMBUS_WRITE_BYTE)) return Form::RegisterOnly;
    } else {
        if (offers(write ? I2C_FUNC_SMBUS_WRITE_I2C_BLOCK : I2C_FUNC_SMBUS_READ_I2C_BLOCK)) return Form::I2cBlock;
        if (length == 1 && offers(write ? I2C_FUNC_SMBUS_WRITE_BYTE_DATA : I2C_FUNC_SMBUS_READ_BYTE_DATA))
            return Form::ByteData;
        if (length == 2 && offers(write ? I2C_FUNC_SMBUS_WRITE_WORD_DATA : I2C_FUNC_SMBUS_READ_WORD_DATA))
            return Form::WordData;
    }
    return offers(I2C_FUNC_I2C) ? Form::Rdwr : Form::None;
}

}  // namespace

LinuxNvApi::LinuxNvApi(Roots roots, I2cDev& kernel, Sleeper& sleeper, Report report)
    : roots_(std::move(roots)), kernel_(kernel), sleeper_(sleeper), report_(std::move(report)) {}

LinuxNvApi::~LinuxNvApi() {
    for (const auto& [device, adapter] : open_)
        if (adapter.fd >= 0) kernel_.Close(adapter.fd);
    // The GPUs' device files last, in the reverse order of opening: closing them may stop a GPU
    // we started.
    for (auto it = held_.rbegin(); it != held_.rend(); ++it)
        if (it->second >= 0) kernel_.Close(it->second);
}

void LinuxNvApi::Tell(const std::string& cause) {
    if (report_ && told_.insert(cause).second) report_(cause);
}

nvapi::NvPhysicalGpuHandle LinuxNvApi::HandleOf(const PciAddress& a) {
    const std::uintptr_t value = kHandleTag | std::uintptr_t{a.domain} << 16 | std::uintptr_t{a.bus} << 8 |
                                 std::uintptr_t{a.device} << 3 | std::uintptr_t{a.function};
    return reinterpret_cast<nvapi::NvPhysicalGpuHandle>(value);
}

NvStatus LinuxNvApi::Initialize() {
    std::error_code error;
    const std::string driver = roots_.procfs + "/driver/nvidia";
    if (!fs::is_directory(driver, error)) {
        Tell("no NVIDIA driver: " + driver +
             " is missing. Install NVIDIA's proprietary driver (nouveau offers no access to the boards), "
             "or start with --simulate to try the program on simulated boards.");
        return nvapi::NVAPI_LIBRARY_NOT_FOUND;
    }
    initialized_ = true;
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::EnumPhysicalGPUs(nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS],
                                      std::uint32_t* count) {
    if (!initialized_) return nvapi::NVAPI_ERROR;
    if (!handles || !count) return nvapi::NVAPI_INVALID_ARGUMENT;
    gpus_.clear();
    adapters_.clear();
    for (auto& [device, adapter] : open_)
        if (adapter.fd >= 0) kernel_.Close(adapter.fd);
    open_.clear();
    const std::string folder = roots_.sysfs + "/bus/pci/devices";
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        Gpu gpu;
        gpu.name = it->path().filename().string();
        const std::optional<PciAddress> address = ParsePciAddress(gpu.name);
        if (!address) continue;
        gpu.address = *address;
        const std::optional<std::uint32_t> vendor = ReadHex(SysfsFile(gpu, "vendor"));
        const std::optional<std::uint32_t> pciClass = ReadHex(SysfsFile(gpu, "class"));
        if (!vendor || !pciClass || *vendor != kNvidiaVendor) continue;
        if ((*pciClass >> 8) != kVgaClass && (*pciClass >> 8) != k3dClass) continue;
        gpus_.push_back(gpu);
    }
    std::sort(gpus_.begin(), gpus_.end(), [](const Gpu& a, const Gpu& b) {
        return reinterpret_cast<std::uintptr_t>(HandleOf(a.address)) < reinterpret_cast<std::uintptr_t>(HandleOf(b.address));
    });
    if (gpus_.size() > nvapi::NVAPI_MAX_PHYSICAL_GPUS) gpus_.resize(nvapi::NVAPI_MAX_PHYSICAL_GPUS);
    // The adapter names carry no PCI domain.
    for (Gpu& a : gpus_)
        for (const Gpu& b : gpus_)
            if (&a != &b && a.address.SameBusDeviceFunction(b.address)) a.ambiguous = true;
    if (gpus_.empty()) {
        Tell("the NVIDIA driver is loaded, but " + folder + " shows no NVIDIA display device.");
        return nvapi::NVAPI_NVIDIA_DEVICE_NOT_FOUND;
    }
    StartGpus();
    for (std::size_t i = 0; i < gpus_.size(); ++i) handles[i] = HandleOf(gpus_[i].address);
    *count = static_cast<std::uint32_t>(gpus_.size());
    return nvapi::NVAPI_OK;
}

LinuxNvApi::GpuState LinuxNvApi::StateOf(const Gpu& gpu) const {
    if (InformationField(gpu, "Video BIOS:") == std::optional<std::string>(kUnknownVbios)) return GpuState::NotStarted;
    const std::vector<std::string> adapters = AdaptersOf(gpu, 0);
    // A started GPU registers its adapters as it starts; one without any has no I2C to offer.
    if (adapters.empty()) return GpuState::WithoutI2c;
    if (I2cEntries(roots_.dev).empty()) return GpuState::Started;  // no i2c-dev: another cause, told when it matters
    std::error_code error;
    for (const std::string& entry : adapters)
        if (fs::exists(roots_.dev + "/" + entry, error)) return GpuState::Started;
    return GpuState::WithoutDeviceFiles;
}

void LinuxNvApi::StartGpus() {
    std::vector<const Gpu*> starting;
    std::map<const Gpu*, std::string> failed;
    notStarted_ = withoutDeviceFiles_ = 0;
    const auto seen = [](GpuState state) {
        return state == GpuState::NotStarted ? std::string("is not started: its Video BIOS reads ") + kUnknownVbios
                                             : std::string("is not ready: its I2C adapters have no device files in /dev");
    };
    for (const Gpu& gpu : gpus_) {
        const GpuState state = StateOf(gpu);
        if (state == GpuState::Started || state == GpuState::WithoutI2c) continue;
        // A started GPU waits only for the kernel's device files; one not started for its opening.
        std::string cause;
        if (state == GpuState::WithoutDeviceFiles || HoldDeviceFile(gpu, cause)) starting.push_back(&gpu);
        else {
            failed[&gpu] = seen(state) + ", and it " + cause + ". " + kPersistenceFix;
            ++notStarted_;
        }
    }
    // One wait for all of them: the driver starts them side by side.
    const auto ready = [this](const Gpu* g) {
        const GpuState state = StateOf(*g);
        return state == GpuState::Started || state == GpuState::WithoutI2c;
    };
    for (unsigned waited = 0; !starting.empty() && waited < kGpuStartWaitMs; waited += kGpuStartPollMs) {
        starting.erase(std::remove_if(starting.begin(), starting.end(), ready), starting.end());
        if (!starting.empty()) sleeper_.Sleep(kGpuStartPollMs);
    }
    const std::string within = " within " + std::to_string(kGpuStartWaitMs / 1000) + " s";
    for (const Gpu* gpu : starting) {
        const GpuState state = StateOf(*gpu);
        if (state == GpuState::NotStarted) {
            failed[gpu] = seen(state) + ", and it did not register its I2C adapters" + within + " of being opened. " +
                          kPersistenceFix;
            ++notStarted_;
        } else if (state == GpuState::WithoutDeviceFiles) {
            failed[gpu] = seen(state) + ", and none appeared" + within +
                          ". The kernel makes them as i2c-dev sees the adapters: check `ls -l /dev/i2c-*` and "
                          "start the program again.";
            ++withoutDeviceFiles_;
        }
    }
    for (const auto& [gpu, cause] : failed) Tell("the GPU at " + gpu->name + " " + cause);
}

bool LinuxNvApi::HoldDeviceFile(const Gpu& gpu, std::string& cause) {
    const std::optional<std::string> minor = InformationField(gpu, "Device Minor:");
    if (!minor || minor->empty() || minor->find_first_not_of("0123456789") != std::string::npos) {
        cause = "cannot be started here: its information file names no device minor";
        return false;
    }
    return HoldFile(roots_.dev + "/nvidiactl", cause) && HoldFile(roots_.dev + "/nvidia" + *minor, cause);
}

bool LinuxNvApi::HoldFile(const std::string& path, std::string& cause) {
    auto it = std::find_if(held_.begin(), held_.end(), [&path](const auto& file) { return file.first == path; });
    if (it == held_.end()) it = held_.insert(held_.end(), {path, kernel_.Open(path)});
    if (it->second >= 0) return true;
    cause = "cannot be started: " + path + " cannot be opened (" + std::strerror(-it->second) + ")";
    return false;
}

const LinuxNvApi::Gpu* LinuxNvApi::Find(nvapi::NvPhysicalGpuHandle handle) const {
    if (!initialized_) return nullptr;
    for (const Gpu& gpu : gpus_)
        if (HandleOf(gpu.address) == handle) return &gpu;
    return nullptr;
}

std::string LinuxNvApi::SysfsFile(const Gpu& gpu, const char* file) const {
    return roots_.sysfs + "/bus/pci/devices/" + gpu.name + "/" + file;
}

std::optional<std::string> LinuxNvApi::InformationField(const Gpu& gpu, const char* key) const {
    const std::optional<std::string> text =
        ReadSmallFile(roots_.procfs + "/driver/nvidia/gpus/" + gpu.name + "/information");
    if (!text) return std::nullopt;
    return FieldOf(*text, key);
}

NvStatus LinuxNvApi::InformationLine(nvapi::NvPhysicalGpuHandle handle, const char* key,
                                     char out[nvapi::NVAPI_SHORT_STRING_MAX]) const {
    const Gpu* gpu = Find(handle);
    if (!gpu || !out) return nvapi::NVAPI_INVALID_ARGUMENT;
    const std::optional<std::string> value = InformationField(*gpu, key);
    if (!value) return nvapi::NVAPI_ERROR;
    CopyText(*value, out);
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::GPU_GetFullName(nvapi::NvPhysicalGpuHandle gpu, char name[nvapi::NVAPI_SHORT_STRING_MAX]) {
    return InformationLine(gpu, "Model:", name);
}

NvStatus LinuxNvApi::GPU_GetVbiosVersionString(nvapi::NvPhysicalGpuHandle gpu,
                                               char version[nvapi::NVAPI_SHORT_STRING_MAX]) {
    return InformationLine(gpu, "Video BIOS:", version);
}

NvStatus LinuxNvApi::GPU_GetPCIIdentifiers(nvapi::NvPhysicalGpuHandle handle, std::uint32_t* deviceId,
                                           std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                           std::uint32_t* extDeviceId) {
    const Gpu* gpu = Find(handle);
    if (!gpu || !deviceId || !subSystemId || !revisionId || !extDeviceId) return nvapi::NVAPI_INVALID_ARGUMENT;
    const std::optional<std::uint32_t> vendor = ReadHex(SysfsFile(*gpu, "vendor"));
    const std::optional<std::uint32_t> device = ReadHex(SysfsFile(*gpu, "device"));
    const std::optional<std::uint32_t> subVendor = ReadHex(SysfsFile(*gpu, "subsystem_vendor"));
    const std::optional<std::uint32_t> subDevice = ReadHex(SysfsFile(*gpu, "subsystem_device"));
    const std::optional<std::uint32_t> revision = ReadHex(SysfsFile(*gpu, "revision"));
    if (!vendor || !device || !subVendor || !subDevice || !revision) return nvapi::NVAPI_ERROR;
    // NvAPI puts the device above the vendor, and the subsystem device above the subsystem vendor.
    *deviceId = (*device & 0xFFFF) << 16 | (*vendor & 0xFFFF);
    *subSystemId = (*subDevice & 0xFFFF) << 16 | (*subVendor & 0xFFFF);
    *revisionId = *revision;
    *extDeviceId = *device & 0xFFFF;
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::GPU_GetBusId(nvapi::NvPhysicalGpuHandle handle, std::uint32_t* busId) {
    const Gpu* gpu = Find(handle);
    if (!gpu || !busId) return nvapi::NVAPI_INVALID_ARGUMENT;
    *busId = gpu->address.bus;
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::GPU_GetBusSlotId(nvapi::NvPhysicalGpuHandle handle, std::uint32_t* slotId) {
    const Gpu* gpu = Find(handle);
    if (!gpu || !slotId) return nvapi::NVAPI_INVALID_ARGUMENT;
    *slotId = gpu->address.device;
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::PciDomainAndFunction(nvapi::NvPhysicalGpuHandle handle, std::uint32_t* domain,
                                          std::uint32_t* function) {
    const Gpu* gpu = Find(handle);
    if (!gpu || !domain || !function) return nvapi::NVAPI_INVALID_ARGUMENT;
    *domain = gpu->address.domain;
    *function = gpu->address.function;
    return nvapi::NVAPI_OK;
}

NvStatus LinuxNvApi::I2CReadEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t*) {
    return Transfer(gpu, info, false);
}

NvStatus LinuxNvApi::I2CWriteEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t*) {
    return Transfer(gpu, info, true);
}

NvStatus LinuxNvApi::Transfer(nvapi::NvPhysicalGpuHandle handle, nvapi::NV_I2C_INFO_V3* info, bool write) {
    const Gpu* gpu = Find(handle);
    if (!gpu || !info) return nvapi::NVAPI_INVALID_ARGUMENT;
    // What the driver would refuse is refused here, and so is what i2c-dev cannot carry as one
    // register transfer: DDC ports, more than a block of data, a read of nothing, port 0.
    if (info->version != nvapi::NV_I2C_INFO_VER3 || info->regAddrSize != 1 || !info->pbI2cRegAddress ||
        (info->cbSize != 0 && !info->pbData) || info->bIsDDCPort != 0 || info->cbSize > I2C_SMBUS_BLOCK_MAX ||
        (!write && info->cbSize == 0) || !info->bIsPortIdSet || info->portId == 0)
        return nvapi::NVAPI_INVALID_ARGUMENT;
    if (gpu->ambiguous) {
        Tell("two NVIDIA GPUs sit at " + BusDeviceFunction(gpu->address) +
             " in different PCI domains; their I2C adapters cannot be told apart, so neither is used.");
        return nvapi::NVAPI_ERROR;
    }
    const std::string device = AdapterDevice(*gpu, info->portId);
    if (device.empty()) return nvapi::NVAPI_ERROR;
    OpenAdapter* adapter = Open(device, *gpu, info->portId);
    if (!adapter) return nvapi::NVAPI_ERROR;
    return TransferOn(*adapter, *info, write);
}

LinuxNvApi::OpenAdapter* LinuxNvApi::Open(const std::string& device, const Gpu& gpu, unsigned port) {
    // A device file that failed once is not tried again in this run: the cause stays until the
    // user mends it, and a run of many transfers would otherwise open it for each.
    auto it = open_.find(device);
    if (it != open_.end()) return it->second.fd >= 0 ? &it->second : nullptr;
    OpenAdapter& adapter = open_[device];
    adapter.fd = kernel_.Open(device);
    if (adapter.fd < 0) {
        if (adapter.fd == -EACCES || adapter.fd == -EPERM)
            Tell("permission denied on " + device + " (" + AdapterNameFor(port, gpu.address) + "). " + AccessAdvice());
        else
            Tell("cannot open " + device + ": " + std::strerror(-adapter.fd));
        return nullptr;
    }
    if (const int error = kernel_.Ioctl(adapter.fd, I2C_FUNCS, &adapter.functions); error != 0) {
        Tell(device + " is not an I2C adapter: " + std::strerror(-error) + ".");
        kernel_.Close(adapter.fd);
        adapter.fd = error;
        return nullptr;
    }
    return &adapter;
}

std::vector<std::string> LinuxNvApi::AdaptersOf(const Gpu& gpu, unsigned port) const {
    const std::string adapters = roots_.sysfs + "/bus/i2c/devices";
    std::vector<std::string> matches;
    for (const std::string& entry : I2cEntries(adapters)) {
        const std::optional<std::string> name = ReadValue(adapters + "/" + entry + "/name");
        if (!name) continue;
        const std::optional<NvidiaAdapterName> parsed = ParseNvidiaAdapterName(*name);
        if (parsed && (port == 0 || parsed->port == port) && parsed->gpu.SameBusDeviceFunction(gpu.address))
            matches.push_back(entry);
    }
    return matches;
}

std::string LinuxNvApi::AdapterDevice(const Gpu& gpu, unsigned port) {
    const auto cached = adapters_.find({gpu.name, port});
    if (cached != adapters_.end()) return cached->second;
    const std::vector<std::string> matches = AdaptersOf(gpu, port);
    const std::string wanted = AdapterNameFor(port, gpu.address);
    // A GPU without any I2C (a compute card) carries no board: nothing to tell.
    if (matches.empty() && StateOf(gpu) == GpuState::WithoutI2c) return {};
    if (matches.size() != 1) {
        Tell(matches.empty() ? "no I2C adapter named \"" + wanted + "\" for the GPU at " + gpu.name + "."
                             : "more than one I2C adapter is named \"" + wanted + "\"; none of them is used.");
        return {};
    }
    const std::string device = roots_.dev + "/" + matches.front();
    std::error_code error;
    if (!fs::exists(device, error)) {
        Tell(I2cEntries(roots_.dev).empty()
                 ? "no I2C device files in " + roots_.dev + ": the i2c-dev module is not loaded. " + ModuleAdvice()
                 : device + " is missing although the adapter \"" + wanted +
                       "\" exists. Reload i2c-dev with `sudo modprobe -r i2c-dev && sudo modprobe i2c-dev`.");
        return {};
    }
    adapters_[{gpu.name, port}] = device;
    return device;
}

NvStatus LinuxNvApi::TransferOn(OpenAdapter& adapter, const nvapi::NV_I2C_INFO_V3& info, bool write) {
    const std::uint8_t address = static_cast<std::uint8_t>(info.i2cDevAddress >> 1);  // Linux takes 7 bits
    const std::uint8_t reg = *info.pbI2cRegAddress;
    const std::uint32_t length = info.cbSize;
    const Form form = FormFor(adapter.functions, write, length);
    if (form == Form::None) return nvapi::NVAPI_I2C_FAILED;

    if (form != Form::Rdwr) {
        if (adapter.slave != address) {
            if (kernel_.Ioctl(adapter.fd, I2C_SLAVE, reinterpret_cast<void*>(std::uintptr_t{address})) != 0)
                return nvapi::NVAPI_I2C_FAILED;  // a kernel driver holds this address
            adapter.slave = address;
        }
        i2c_smbus_data data{};
        i2c_smbus_ioctl_data request{};
        request.read_write = write ? I2C_SMBUS_WRITE : I2C_SMBUS_READ;
        request.command = reg;
        request.data = &data;
        switch (form) {
            case Form::RegisterOnly:
                request.size = I2C_SMBUS_BYTE;  // the register byte alone
                request.data = nullptr;
                break;
            case Form::ByteData:
                request.size = I2C_SMBUS_BYTE_DATA;
                if (write) data.byte = info.pbData[0];
                break;
            case Form::WordData:
                request.size = I2C_SMBUS_WORD_DATA;  // low byte first on the wire
                if (write) data.word = static_cast<std::uint16_t>(info.pbData[0] | info.pbData[1] << 8);
                break;
            default:
                request.size = I2C_SMBUS_I2C_BLOCK_DATA;
                data.block[0] = static_cast<std::uint8_t>(length);
                if (write) std::memcpy(data.block + 1, info.pbData, length);
                break;
        }
        if (kernel_.Ioctl(adapter.fd, I2C_SMBUS, &request) != 0) return nvapi::NVAPI_I2C_FAILED;
        if (write) return nvapi::NVAPI_OK;
        if (form == Form::ByteData) {
            info.pbData[0] = data.byte;
        } else if (form == Form::WordData) {
            info.pbData[0] = static_cast<std::uint8_t>(data.word & 0xFF);
            info.pbData[1] = static_cast<std::uint8_t>(data.word >> 8);
        } else {
            if (data.block[0] != length) return nvapi::NVAPI_I2C_FAILED;
            std::memcpy(info.pbData, data.block + 1, length);
        }
        return nvapi::NVAPI_OK;
    }

    std::uint8_t out[1 + I2C_SMBUS_BLOCK_MAX] = {reg};
    i2c_msg messages[2]{};
    messages[0].addr = address;
    messages[0].buf = out;
    messages[0].len = static_cast<std::uint16_t>(1 + (write ? length : 0));
    if (write && length) std::memcpy(out + 1, info.pbData, length);
    i2c_rdwr_ioctl_data request{};
    request.msgs = messages;
    request.nmsgs = 1;
    if (!write) {
        messages[1].addr = address;
        messages[1].flags = I2C_M_RD;
        messages[1].len = static_cast<std::uint16_t>(length);
        messages[1].buf = info.pbData;
        request.nmsgs = 2;
    }
    return kernel_.Ioctl(adapter.fd, I2C_RDWR, &request) == 0 ? nvapi::NVAPI_OK : nvapi::NVAPI_I2C_FAILED;
}

std::string LinuxNvApi::Installed(const char* first, const char* second) const {
    std::error_code error;
    for (const char* file : {first, second})
        if (fs::exists(roots_.installed + file, error)) return file;
    return {};
}

// The package installs the access files itself; a source build has the script for it.
std::string LinuxNvApi::AccessAdvice() const {
    const std::string join = "join the group with `sudo usermod -aG " + std::string(kAccessGroup) +
                             " $USER` and log in again, so that it counts.";
    const std::string rule = Installed(kPackagedRule, kScriptRule);
    if (!rule.empty())
        return "The rule " + rule + " gives the group " + kAccessGroup +
               " the NVIDIA I2C adapters and no others: " + join;
    return "Run `sudo " + std::string(kAccessScript) + "` once in the program's source folder: it lets the group " +
           kAccessGroup + " use the NVIDIA I2C adapters and no others. Then " + join;
}

std::string LinuxNvApi::ModuleAdvice() const {
    const std::string fix = "Load it with `sudo modprobe i2c-dev`";
    const std::string file = Installed(kPackagedModules, kScriptModules);
    if (!file.empty()) return fix + "; " + file + " has it loaded at every start.";
    return fix + "; `sudo " + std::string(kAccessScript) + "` has it loaded at every start.";
}

}  // namespace linuxnv
