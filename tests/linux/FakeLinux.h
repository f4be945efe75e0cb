#pragma once
// "Linux hardware" for the NVIDIA back end: a sysfs, procfs and /dev tree in a temporary folder,
// and a fake kernel behind the i2c-dev seam that carries each transfer to the simulator's device
// models the way the NVIDIA driver carries it, recording every open and every bus operation.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/linux/I2cDev.h"
#include "platform/linux/LinuxNvApi.h"
#include "app/ScratchDevice.h"
#include "gpu/GpuList.h"
#include "model/Sleeper.h"
#include "sim/Boards.h"
#include "sim/SimMachine.h"

namespace linux_test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct PciFunction {
    const char* address;  // as sysfs names it
    std::uint32_t vendor, device, pciClass, subsystemVendor, subsystemDevice, revision;
};

class FakeTree {
public:
    FakeTree() {
        std::string pattern = (fs::temp_directory_path() / "halvorn-linux-XXXXXX").string();
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "no temporary folder";
        root = pattern;
        fs::create_directories(root / "sys/bus/pci/devices");
        fs::create_directories(root / "sys/bus/i2c/devices");
        fs::create_directories(root / "proc");
        fs::create_directories(root / "dev");
    }
    ~FakeTree() {
        std::error_code error;
        fs::remove_all(root, error);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    linuxnv::Roots Roots() const {
        return {(root / "sys").string(), (root / "proc").string(), (root / "dev").string(), (root / "installed").string()};
    }
    void LoadDriver() { fs::create_directories(root / "proc/driver/nvidia/gpus"); }

    void AddPci(const PciFunction& f) {
        const fs::path dir = root / "sys/bus/pci/devices" / f.address;
        fs::create_directories(dir);
        Write(dir / "vendor", Hex(f.vendor, 4));
        Write(dir / "device", Hex(f.device, 4));
        Write(dir / "class", Hex(f.pciClass, 6));
        Write(dir / "subsystem_vendor", Hex(f.subsystemVendor, 4));
        Write(dir / "subsystem_device", Hex(f.subsystemDevice, 4));
        Write(dir / "revision", Hex(f.revision, 2));
    }
    void AddInformation(const std::string& address, const std::string& text) {
        fs::create_directories(root / "proc/driver/nvidia/gpus" / address);
        Write(root / "proc/driver/nvidia/gpus" / address / "information", text);
    }
    // An adapter as i2c-core shows it, and its /dev node as i2c-dev makes it (a plain file here).
    std::string AddAdapter(int number, const std::string& name) {
        const std::string entry = "i2c-" + std::to_string(number);
        fs::create_directories(root / "sys/bus/i2c/devices" / entry);
        Write(root / "sys/bus/i2c/devices" / entry / "name", name + "\n");
        Write(root / "dev" / entry, "");
        return (root / "dev" / entry).string();
    }
    void RemoveAdapter(int number) {
        const std::string entry = "i2c-" + std::to_string(number);
        fs::remove_all(root / "sys/bus/i2c/devices" / entry);
        fs::remove(root / "dev" / entry);
    }
    // A file the package or the install script puts on the system, below the tree's "installed".
    void Install(const std::string& path) {
        fs::create_directories((root / "installed" / path.substr(1)).parent_path());
        Write(root / "installed" / path.substr(1), "");
    }
    void RemoveDeviceNodes() {
        for (const auto& e : fs::directory_iterator(root / "dev")) fs::remove(e.path());
    }

    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Hex(std::uint32_t value, int digits) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%0*x\n", digits, value);
        return text;
    }

    fs::path root;
};

// What reached a bus, as the kernel saw it.
struct BusOp {
    std::string device;  // /dev/i2c-N
    std::string kind;    // "smbus block read", "smbus block write", "smbus byte write", "rdwr write", "rdwr read"
    std::uint8_t address = 0;  // 7-bit
    std::uint8_t reg = 0;
    Bytes bytes;          // data written, or read back
    int transactions = 1;  // how many the NVIDIA driver makes of it

    bool operator==(const BusOp& o) const {
        return device == o.device && kind == o.kind && address == o.address && reg == o.reg && bytes == o.bytes &&
               transactions == o.transactions;
    }
};
inline std::ostream& operator<<(std::ostream& out, const BusOp& op) {
    out << op.device << " " << op.kind << " @" << std::hex << unsigned(op.address) << " reg " << unsigned(op.reg) << " [";
    for (std::uint8_t b : op.bytes) out << " " << unsigned(b);
    return out << " ] x" << std::dec << op.transactions;
}

class FakeKernel final : public linuxnv::I2cDev {
public:
    explicit FakeKernel(sim::SimMachine& machine) : machine_(machine) {}

    // One adapter of a simulated GPU. smbus: the driver reports the port SMBus-capable.
    struct Adapter {
        std::uintptr_t simGpu = 0;
        std::uint8_t port = 0;
        bool smbus = true;
        int openError = 0;      // errno open fails with
        bool i2cBlock = true;   // false: a driver of the 515/520 series, SMBus without I2C-block
    };
    void Serve(const std::string& device, Adapter adapter) { adapters_[device] = adapter; }
    void FailOpen(const std::string& device, int error) { adapters_[device].openError = error; }
    // The /dev/i2c-N beside a served one, in the same tree.
    std::string DeviceOf(int number) const {
        const std::string any = adapters_.begin()->first;
        return any.substr(0, any.rfind('/') + 1) + "i2c-" + std::to_string(number);
    }

    // A GPU's /dev/nvidiaN as the driver answers it: opening it starts the GPU (start runs) after
    // delayMs of the machine's clock, and closing the last descriptor stops it again (stop runs)
    // unless persistence mode is on. A start never due stands for a GPU that does not start.
    struct GpuDeviceFile {
        std::function<void()> start, stop;
        std::optional<std::uint64_t> delayMs = 0;
        bool persistent = false;
        bool started = false;
        std::optional<std::uint64_t> dueMs;
    };
    void DriveGpu(const std::string& path, GpuDeviceFile file) { gpuFiles_[path] = std::move(file); }
    // Runs the starts that are due: the pauses of the back end's wait call this.
    void Tick() {
        for (auto& [path, file] : gpuFiles_)
            if (file.dueMs && machine_.NowMs() >= *file.dueMs) {
                file.dueMs.reset();
                file.started = true;
                file.start();
            }
    }

    int Open(const std::string& path) override {
        opened.push_back(path);
        auto it = adapters_.find(path);
        if (it != adapters_.end() && it->second.openError) return -it->second.openError;
        std::error_code error;
        if (!fs::exists(path, error)) return -ENOENT;
        const int fd = next_++;
        open_[fd] = path;
        if (auto gpu = gpuFiles_.find(path); gpu != gpuFiles_.end() && !gpu->second.started && !gpu->second.dueMs &&
                                             gpu->second.delayMs) {
            gpu->second.dueMs = machine_.NowMs() + *gpu->second.delayMs;
            Tick();
        }
        return fd;
    }
    void Close(int fd) override {
        auto it = open_.find(fd);
        if (it == open_.end()) {
            ADD_FAILURE() << "closed twice or never opened: " << fd;
            return;
        }
        const std::string path = it->second;
        open_.erase(it);
        ++closes;
        auto gpu = gpuFiles_.find(path);
        if (gpu == gpuFiles_.end()) return;
        for (const auto& [other, otherPath] : open_)
            if (otherPath == path) return;
        gpu->second.dueMs.reset();
        if (gpu->second.started && !gpu->second.persistent) {
            gpu->second.started = false;
            gpu->second.stop();
        }
    }
    int Ioctl(int fd, unsigned long request, void* argument) override {
        ++requests[request];
        auto path = open_.find(fd);
        if (path == open_.end()) return -EBADF;
        auto it = adapters_.find(path->second);
        if (it == adapters_.end()) return -ENOTTY;  // a file that is no I2C adapter
        const Adapter& a = it->second;
        switch (request) {
        case I2C_FUNCS:
            *static_cast<unsigned long*>(argument) =
                !a.smbus ? I2C_FUNC_I2C
                         : I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
                               I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA |
                               (a.i2cBlock ? I2C_FUNC_SMBUS_I2C_BLOCK : 0);
            return 0;
        case I2C_SLAVE:
            slave_[fd] = static_cast<std::uint8_t>(reinterpret_cast<std::uintptr_t>(argument));
            return 0;
        case I2C_SMBUS: return Smbus(path->second, a, slave_[fd], *static_cast<i2c_smbus_ioctl_data*>(argument));
        case I2C_RDWR: return Rdwr(path->second, a, *static_cast<i2c_rdwr_ioctl_data*>(argument));
        default: return -ENOTTY;
        }
    }

    std::vector<std::string> opened;
    std::vector<BusOp> ops;
    std::map<unsigned long, int> requests;  // ioctl request -> how many were made
    int closes = 0;
    std::size_t openNow() const { return open_.size(); }

private:
    // The simulator's device behind the adapter, reached as NvAPI would reach it.
    bool Device(const Adapter& a, bool write, std::uint8_t address, std::uint8_t reg, std::uint8_t* data,
                std::uint32_t length) {
        nvapi::NV_I2C_INFO_V3 info{};
        info.version = nvapi::NV_I2C_INFO_VER3;
        info.i2cDevAddress = static_cast<std::uint8_t>(address << 1);
        info.pbI2cRegAddress = &reg;
        info.regAddrSize = 1;
        info.pbData = data;
        info.cbSize = length;
        info.i2cSpeed = nvapi::NVAPI_I2C_SPEED_DEPRECATED;
        info.portId = a.port;
        info.bIsPortIdSet = 1;
        std::uint32_t unknown = 0;
        const auto gpu = reinterpret_cast<nvapi::NvPhysicalGpuHandle>(a.simGpu);
        return (write ? machine_.I2CWriteEx(gpu, &info, &unknown) : machine_.I2CReadEx(gpu, &info, &unknown)) ==
               nvapi::NVAPI_OK;
    }

    int Smbus(const std::string& device, const Adapter& a, std::uint8_t address, i2c_smbus_ioctl_data& r) {
        if (!a.smbus) return -EOPNOTSUPP;
        BusOp op{device, "", address, r.command, {}, 1};
        bool ok = false;
        if (r.read_write == I2C_SMBUS_WRITE && r.size == I2C_SMBUS_BYTE) {
            op.kind = "smbus byte write";
            ok = Device(a, true, address, r.command, nullptr, 0);
        } else if (r.size == I2C_SMBUS_BYTE_DATA || r.size == I2C_SMBUS_WORD_DATA) {
            // Register transfers of one and two bytes, the word low byte first on the wire.
            const bool word = r.size == I2C_SMBUS_WORD_DATA;
            std::uint8_t bytes[2] = {r.data->byte, 0};
            if (word) bytes[0] = static_cast<std::uint8_t>(r.data->word), bytes[1] = static_cast<std::uint8_t>(r.data->word >> 8);
            const std::uint32_t n = word ? 2 : 1;
            const bool write = r.read_write == I2C_SMBUS_WRITE;
            op.kind = std::string("smbus ") + (word ? "word" : "byte") + "-data " + (write ? "write" : "read");
            ok = Device(a, write, address, r.command, bytes, n);
            if (ok || write) op.bytes.assign(bytes, bytes + n);
            if (ok && !write) {
                if (word) r.data->word = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
                else r.data->byte = bytes[0];
            }
        } else if (r.size == I2C_SMBUS_I2C_BLOCK_DATA && !a.i2cBlock) {
            return -EINVAL;  // older drivers refuse it, and the kernel does not emulate it then
        } else if (r.size == I2C_SMBUS_I2C_BLOCK_DATA && r.data && r.data->block[0] <= I2C_SMBUS_BLOCK_MAX) {
            const std::uint8_t n = r.data->block[0];
            if (r.read_write == I2C_SMBUS_WRITE) {
                op.kind = "smbus block write";
                op.bytes.assign(r.data->block + 1, r.data->block + 1 + n);
                ok = Device(a, true, address, r.command, r.data->block + 1, n);
            } else {
                op.kind = "smbus block read";
                ok = Device(a, false, address, r.command, r.data->block + 1, n);
                if (ok) op.bytes.assign(r.data->block + 1, r.data->block + 1 + n);
            }
        } else {
            ADD_FAILURE() << "an SMBus request the back end should never make: size " << r.size;
            return -EINVAL;
        }
        ops.push_back(op);
        return ok ? 0 : -ENXIO;
    }

    // Message by message, a stop after each, as the NVIDIA driver carries I2C_RDWR.
    int Rdwr(const std::string& device, const Adapter& a, i2c_rdwr_ioctl_data& r) {
        const i2c_msg* m = r.msgs;
        if (r.nmsgs == 1 && !(m[0].flags & I2C_M_RD) && m[0].len >= 1) {
            BusOp op{device, "rdwr write", static_cast<std::uint8_t>(m[0].addr), m[0].buf[0],
                     Bytes(m[0].buf + 1, m[0].buf + m[0].len), 1};
            ops.push_back(op);
            return Device(a, true, op.address, op.reg, m[0].buf + 1, m[0].len - 1u) ? 0 : -ENXIO;
        }
        if (r.nmsgs == 2 && !(m[0].flags & I2C_M_RD) && m[0].len == 1 && (m[1].flags & I2C_M_RD) && m[0].addr == m[1].addr) {
            BusOp op{device, "rdwr read", static_cast<std::uint8_t>(m[0].addr), m[0].buf[0], {}, 2};
            const bool ok = Device(a, false, op.address, op.reg, m[1].buf, m[1].len);
            if (ok) op.bytes.assign(m[1].buf, m[1].buf + m[1].len);
            ops.push_back(op);
            return ok ? 0 : -ENXIO;
        }
        ADD_FAILURE() << "an I2C_RDWR request the back end should never make: " << r.nmsgs << " messages";
        return -EINVAL;
    }

    sim::SimMachine& machine_;
    std::map<std::string, Adapter> adapters_;
    std::map<std::string, GpuDeviceFile> gpuFiles_;
    std::map<int, std::string> open_;
    std::map<int, std::uint8_t> slave_;
    int next_ = 100;
};

// The pauses of the back end's wait for a starting GPU: the machine's clock moves and the fake
// driver starts what is due.
class DriverSleeper final : public Sleeper {
public:
    DriverSleeper(sim::SimMachine& machine, FakeKernel& kernel) : machine_(machine), kernel_(kernel) {}
    void Sleep(unsigned milliseconds) override {
        machine_.Pause(milliseconds);
        kernel_.Tick();
        slept += milliseconds;
    }
    std::uint64_t slept = 0;

private:
    sim::SimMachine& machine_;
    FakeKernel& kernel_;
};

// For back ends on trees where nothing is started: a pause there is a fault of the test's tree.
class NoPause final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override { ADD_FAILURE() << "paused " << milliseconds << " ms"; }
};
inline NoPause noPause;

// The machine most tests run on: an Intel GPU, an RTX 3080 Ti board driven through its MCU at
// 0000:0a:00.0 (its information file has no "Video BIOS:" line) with its audio function beside it,
// and an RTX 2080 Ti board at 0000:65:00.0, a 3D-controller-class function whose subsystem and
// VBIOS mark the board. The 3080 Ti's ports are SMBus-capable, the 2080 Ti's offer plain I2C
// alone. Between them sit the chipset's SMBus, DDC adapters of another driver and names that
// almost match. Port 2 of the 3080 Ti carries a scratch device at 0x50.
class LinuxMachine : public ::testing::Test {
protected:
    static constexpr std::uintptr_t kSim3080Ti = 0xA00;
    static constexpr std::uintptr_t kSim2080Ti = 0x6500;

    void SetUp() override {
        tree.LoadDriver();
        tree.AddPci({"0000:00:02.0", 0x8086, 0x9BC5, 0x030000, 0x1028, 0x09E0, 0x05});
        tree.AddPci({"0000:0a:00.0", 0x10DE, 0x2208, 0x030000, 0x1B4C, 0x3998, 0xA1});
        tree.AddPci({"0000:0a:00.1", 0x10DE, 0x1AEF, 0x040300, 0x1B4C, 0x3998, 0xA1});
        tree.AddPci({"0000:65:00.0", 0x10DE, 0x1E07, 0x030200, 0x10DE, 0x12FA, 0xA1});
        tree.AddInformation("0000:0a:00.0", "Model: \t\t NVIDIA GeForce RTX 3080 Ti\nIRQ:   \t\t 140\nBus Type: \t PCIe\n");
        tree.AddInformation("0000:65:00.0",
                            "Model: \t\t NVIDIA GeForce RTX 2080 Ti\nIRQ:   \t\t 141\n"
                            "Video BIOS: \t 90.02.17.40.88\nBus Type: \t PCIe\n");

        BuildBoards();

        smbus = tree.AddAdapter(0, "SMBus I801 adapter at efa0");
        tree.AddAdapter(1, "i915 gmbus dpc");
        rtx2080Port1 = tree.AddAdapter(2, "NVIDIA i2c adapter 1 at 65:00.0");
        rtx2080Port2 = tree.AddAdapter(3, "NVIDIA i2c adapter 2 at 65:00.0");
        rtx3080Port1 = tree.AddAdapter(4, "NVIDIA i2c adapter 1 at a:00.0");
        rtx3080Port2 = tree.AddAdapter(5, "NVIDIA i2c adapter 2 at a:00.0");
        tree.AddAdapter(6, "NVIDIA i2c adapter 3 at a:00.0");
        tree.AddAdapter(7, "AUX B/DDI B/PHY B");
        tree.AddAdapter(8, "NVIDIA i2c adapter 1 at 10:00.0");   // bus 0x10, not 10 = 0x0a
        tree.AddAdapter(9, "NVIDIA i2c adapter 1 at 101:00.0");  // 0x65 written in decimal
        tree.AddAdapter(10, "NVIDIA i2c adapter 1 at a:00.1");   // the audio function
        kernel.Serve(rtx3080Port1, {kSim3080Ti, 1, true, 0});
        kernel.Serve(rtx3080Port2, {kSim3080Ti, 2, true, 0});
        kernel.Serve(rtx2080Port1, {kSim2080Ti, 1, false, 0});
        kernel.Serve(rtx2080Port2, {kSim2080Ti, 2, false, 0});
    }
    void TearDown() override {
        gpus_.reset();
        held.reset();
        EXPECT_EQ(kernel.openNow(), 0u) << "a device file was left open";
    }

    // The boards in their power-on state, behind the adapters; a fresh machine each call.
    void BuildBoards() {
        machine = sim::SimMachine();
        scratch = std::make_shared<app_test::ScratchDevice>();
        sim::SimGpu& rtx3080 = machine.AddGpu(kSim3080Ti, "RTX 3080 Ti");
        rtx3080.subsystemId = 0x39981B4C;
        sim::AttachBoard(rtx3080, sim::BoardKind::Rtx3080TiMcu);
        rtx3080.Attach(2, 0xA0, scratch);
        sim::SimGpu& rtx2080 = machine.AddGpu(kSim2080Ti, "RTX 2080 Ti");
        rtx2080.subsystemId = 0x12FA10DE;
        rtx2080.vbios = "90.02.17.40.88";
        sim::AttachBoard(rtx2080, sim::BoardKind::Rtx2080Ti);
        machine.Initialize();
    }

    // The test's GPU list on the back end in use, made when first asked for.
    GpuList& Gpus() {
        if (!gpus_) gpus_.emplace(*chosen_);
        return *gpus_;
    }
    void ReleaseGpus() { gpus_.reset(); }
    // Another NvAPI realization for the lists made from now on.
    void Use(nvapi::NvApi& other) {
        gpus_.reset();
        chosen_ = &other;
    }

    // Every device file the back end opened, once each.
    std::set<std::string> Opened() const { return {kernel.opened.begin(), kernel.opened.end()}; }

    FakeTree tree;
    sim::SimMachine machine;
    std::shared_ptr<app_test::ScratchDevice> scratch;
    FakeKernel kernel{machine};
    DriverSleeper driverSleeper{machine, kernel};
    std::vector<std::string> reports;
    // The back end of the run; it holds its descriptors until it goes.
    std::optional<linuxnv::LinuxNvApi> held;
    linuxnv::LinuxNvApi& api = held.emplace(tree.Roots(), kernel, driverSleeper,
                                            [this](const std::string& cause) { reports.push_back(cause); });
    std::string smbus, rtx3080Port1, rtx3080Port2, rtx2080Port1, rtx2080Port2;

private:
    nvapi::NvApi* chosen_ = &api;
    std::optional<GpuList> gpus_;
};

}  // namespace linux_test
