// fake-nvidia-driver: runs an unmodified program on a fake NVIDIA proprietary driver. The
// program makes its real system calls; a private mount namespace shows it a sysfs, procfs and
// /dev tree built from the simulator's default machine, and a seccomp user-notification
// supervisor answers its opens and I2C ioctls on the fake device files the way the NVIDIA driver
// and i2c-dev would, carrying every transfer to the simulated boards.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/limits.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gpu/PciBusIdText.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSkip = 77;  // CTest's SKIP_RETURN_CODE: this machine cannot host the fake driver
constexpr int kUsage = 2;
constexpr const char* kUnstartedVbios = "??.??.??.??.??";
constexpr std::uint8_t kPorts = 3;

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
#error "fake-nvidia-driver knows the system call numbers of x86-64 and AArch64 only"
#endif
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the filter reads the low half of an argument first");

struct Options {
    std::set<unsigned> unstarted, neverStarts, plainI2c, noDeviceFile, noI2c;
    bool olderDriver = false;
    bool persistence = false;
    std::string logPath;
    std::vector<char*> program;  // null-terminated
};

// A simulated GPU as the fake driver shows it. Its index in the simulator's machine is also its
// device minor, so --unstarted=I concerns /dev/nvidiaI.
struct Gpu {
    unsigned index = 0;
    std::uintptr_t handle = 0;
    std::string pci;                // 0000:21:00.0, as sysfs and procfs name it
    std::string busDeviceFunction;  // 21:00.0, as the adapter names carry it
    bool startsLate = false, neverStarts = false, plainI2c = false, noDeviceFile = false, noI2c = false;
    bool started = false;
    std::vector<int> adapters;      // adapter numbers of ports 1, 2, 3 while started
};

enum class NodeKind { NvidiaAdapter, ForeignAdapter, GpuDevice, Control };

struct Node {
    NodeKind kind = NodeKind::Control;
    std::string path;  // as the program sees it
    unsigned gpu = 0;
    std::uint8_t port = 0;
    int adapter = -1;
    bool removed = false;  // the adapter went away while a descriptor of it stayed open
};

// A bind mount the child makes in its namespace.
struct Bind {
    std::string source, target;
    bool essential = false;
};

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string BytesText(const std::uint8_t* data, std::size_t length) {
    std::string text = "[";
    char byte[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, " %02x", data[i]);
        text += byte;
    }
    return text + " ]";
}

bool WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// Replaced in one step, so a reader never sees half a file.
bool ReplaceFile(const fs::path& path, const std::string& text) {
    const fs::path scratch = path.string() + ".new";
    if (!WriteFile(scratch, text)) return false;
    return std::rename(scratch.c_str(), path.c_str()) == 0;
}

// --name=I: true, with I added to out, when the argument is that option with a number.
bool IndexOption(const std::string& argument, const std::string& prefix, std::set<unsigned>& out) {
    if (argument.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string text = argument.substr(prefix.size());
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3) return false;
    out.insert(static_cast<unsigned>(std::stoul(text)));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Target memory.

bool ReadMemory(pid_t pid, std::uint64_t address, void* out, std::size_t size) {
    if (size == 0) return true;
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), size};
    return process_vm_readv(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

bool WriteMemory(pid_t pid, std::uint64_t address, const void* data, std::size_t size) {
    if (size == 0) return true;
    iovec local{const_cast<void*>(data), size};
    iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), size};
    return process_vm_writev(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

// Page by page, so a name that ends just before an unmapped page still reads.
bool ReadPath(pid_t pid, std::uint64_t address, std::string& out) {
    out.clear();
    constexpr std::size_t kPage = 4096;
    while (out.size() < PATH_MAX) {
        char chunk[kPage];
        const std::size_t n = kPage - static_cast<std::size_t>(address % kPage);
        if (!ReadMemory(pid, address, chunk, n)) return false;
        const void* end = std::memchr(chunk, '\0', n);
        if (end) {
            out.append(chunk, static_cast<std::size_t>(static_cast<const char*>(end) - chunk));
            return true;
        }
        out.append(chunk, n);
        address += n;
    }
    return false;
}

pid_t ThreadGroupOf(pid_t tid) {
    std::ifstream status("/proc/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 5, "Tgid:") == 0) return static_cast<pid_t>(std::stol(line.substr(5)));
    return tid;
}

// ---------------------------------------------------------------------------------------------
// The seccomp filter and its listener.

sock_filter Statement(std::uint16_t code, std::uint32_t k) { return sock_filter{code, 0, 0, k}; }
sock_filter Jump(std::uint16_t code, std::uint32_t k, std::uint8_t yes, std::uint8_t no) {
    return sock_filter{code, yes, no, k};
}

// openat, open, openat2 and close always reach the supervisor; ioctl only with an i2c-dev request
// (0x07xx), so a terminal's or Qt's own ioctls never wait on it.
int InstallFilter() {
    constexpr std::uint16_t kLoad = BPF_LD | BPF_W | BPF_ABS;
    constexpr std::uint16_t kEqual = BPF_JMP | BPF_JEQ | BPF_K;
    constexpr std::uint16_t kReturn = BPF_RET | BPF_K;
    std::vector<sock_filter> code;
    code.push_back(Statement(kLoad, offsetof(seccomp_data, arch)));
    code.push_back(Jump(kEqual, kAuditArch, 1, 0));
    code.push_back(Statement(kReturn, SECCOMP_RET_ALLOW));
    code.push_back(Statement(kLoad, offsetof(seccomp_data, nr)));
#if defined(__x86_64__)
    code.push_back(Jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));  // x32 calls
    code.push_back(Statement(kReturn, SECCOMP_RET_ALLOW));
#endif
    std::vector<long> trapped = {SYS_openat, SYS_close};
#ifdef SYS_open
    trapped.push_back(SYS_open);
#endif
#ifdef SYS_openat2
    trapped.push_back(SYS_openat2);
#endif
    for (long nr : trapped) {
        code.push_back(Jump(kEqual, static_cast<std::uint32_t>(nr), 0, 1));
        code.push_back(Statement(kReturn, SECCOMP_RET_USER_NOTIF));
    }
    code.push_back(Jump(kEqual, static_cast<std::uint32_t>(SYS_ioctl), 0, 4));
    code.push_back(Statement(kLoad, offsetof(seccomp_data, args) + sizeof(std::uint64_t)));
    code.push_back(Statement(BPF_ALU | BPF_AND | BPF_K, 0xFFFFFF00u));
    code.push_back(Jump(kEqual, 0x0700u, 0, 1));
    code.push_back(Statement(kReturn, SECCOMP_RET_USER_NOTIF));
    code.push_back(Statement(kReturn, SECCOMP_RET_ALLOW));

    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    auto install = [&program] {
        return static_cast<int>(
            syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
    };
    int listener = install();
    if (listener < 0 && errno == EACCES) {
        // Without CAP_SYS_ADMIN a filter needs no_new_privs.
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        listener = install();
    }
    return listener;
}

// One byte carrying one descriptor over a UNIX socket (SCM_RIGHTS).
struct DescriptorMessage {
    char byte = 'L';
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    DescriptorMessage() {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage&) = delete;
    DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

bool SendDescriptor(int socket, int fd) {
    DescriptorMessage m;
    cmsghdr* header = CMSG_FIRSTHDR(&m.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    return sendmsg(socket, &m.message, 0) == 1;
}

int ReceiveDescriptor(int socket) {
    DescriptorMessage m;
    msghdr& message = m.message;
    ssize_t n;
    do n = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n != 1) return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (!header || header->cmsg_type != SCM_RIGHTS) return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

// ---------------------------------------------------------------------------------------------
// The child: namespace, mounts, filter, program.

bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Root gets its own mount namespace; anyone else may get one inside a user namespace of their own,
// keeping their ids so the program runs as the same user.
bool EnterNamespace(std::string& why) {
    if (unshare(CLONE_NEWNS) == 0) return true;
    const int asRoot = errno;
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        why = std::string("no mount namespace: unshare(CLONE_NEWNS): ") + std::strerror(asRoot) +
              "; unshare(CLONE_NEWUSER|CLONE_NEWNS): " + std::strerror(errno) +
              " (run as root, or allow unprivileged user namespaces)";
        return false;
    }
    if (!WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1")) {
        why = std::string("cannot map ids in the user namespace: ") + std::strerror(errno);
        return false;
    }
    return true;
}

[[noreturn]] void RunChild(const std::vector<Bind>& binds, int socket, char** program) {
    std::string why;
    if (!EnterNamespace(why)) {
        std::fprintf(stderr, "fake-nvidia-driver: %s\n", why.c_str());
        _exit(kSkip);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::fprintf(stderr, "fake-nvidia-driver: cannot make the mounts private: %s\n", std::strerror(errno));
        _exit(kSkip);
    }
    for (const Bind& bind : binds) {
        if (mount(bind.source.c_str(), bind.target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0) continue;
        if (!bind.essential) continue;  // a device or bus the program may never need
        std::fprintf(stderr, "fake-nvidia-driver: cannot mount %s on %s: %s\n", bind.source.c_str(),
                     bind.target.c_str(), std::strerror(errno));
        _exit(kSkip);
    }
    const int listener = InstallFilter();
    if (listener < 0) {
        std::fprintf(stderr,
                     "fake-nvidia-driver: no seccomp user notification (SECCOMP_FILTER_FLAG_NEW_LISTENER): %s\n",
                     std::strerror(errno));
        _exit(kSkip);
    }
    // Both descriptors close on exec: a close() now would wait on the supervisor for nothing.
    if (!SendDescriptor(socket, listener)) {
        std::fprintf(stderr, "fake-nvidia-driver: cannot hand the listener over: %s\n", std::strerror(errno));
        _exit(kSkip);
    }
    execvp(program[0], program);
    std::fprintf(stderr, "fake-nvidia-driver: cannot run %s: %s\n", program[0], std::strerror(errno));
    _exit(127);
}

// ---------------------------------------------------------------------------------------------
// The fake driver: its tree and its answers.

class FakeDriver {
public:
    explicit FakeDriver(const Options& options) : options_(options) {
        sim::LoadDefaultScenario(machine_);
        machine_.Initialize();
        machine_.SetLogging(false);  // a long run would grow the log without bound
        for (const sim::SimGpu& s : machine_.Gpus()) {
            Gpu gpu;
            gpu.index = static_cast<unsigned>(gpus_.size());
            gpu.handle = s.handle;
            // Each GPU at the PCI address the built-in machine gives it.
            const std::wstring pci =
                s.busId ? PciBusIdText(s.busId->domain, s.busId->bus, s.busId->device, s.busId->function) : L"";
            if (pci.empty()) {
                std::fprintf(stderr, "fake-nvidia-driver: the built-in machine's GPU %u has no bus id\n", gpu.index);
                std::exit(2);
            }
            gpu.pci.assign(pci.begin(), pci.end());
            const sim::PciBusId& at = *s.busId;
            char text[32];
            std::snprintf(text, sizeof text, "%x:%02x.%x", static_cast<unsigned>(at.bus),
                          static_cast<unsigned>(at.device), static_cast<unsigned>(at.function));
            gpu.busDeviceFunction = text;
            gpu.startsLate = options.unstarted.count(gpu.index) != 0;
            gpu.noDeviceFile = options.noDeviceFile.count(gpu.index) != 0;
            gpu.neverStarts = options.neverStarts.count(gpu.index) != 0 || gpu.noDeviceFile;
            gpu.plainI2c = options.plainI2c.count(gpu.index) != 0;
            gpu.noI2c = options.noI2c.count(gpu.index) != 0;
            gpus_.push_back(gpu);
        }
        start_ = std::chrono::steady_clock::now();
    }
    ~FakeDriver() {
        if (root_.empty()) return;
        std::error_code error;
        fs::remove_all(root_, error);
    }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    std::size_t GpuCount() const { return gpus_.size(); }

    // The machine, as --help shows it.
    std::string Describe() const {
        std::ostringstream out;
        for (const Gpu& gpu : gpus_) {
            const sim::SimGpu& s = machine_.Gpus()[gpu.index];
            out << "  GPU " << gpu.index << ": " << gpu.pci << ", /dev/nvidia" << gpu.index << ", "
                << s.name.value_or("(no name)") << ", subsystem "
                << Hex(s.subsystemId.value_or(0), 8) << ", vbios " << s.vbios.value_or("(none)") << "\n";
        }
        return out.str();
    }

    bool Build(std::string& why) {
        std::string pattern = (fs::temp_directory_path() / "fake-nvidia-driver-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            why = std::string("no temporary folder: ") + std::strerror(errno);
            return false;
        }
        root_ = pattern;
        std::error_code error;
        fs::create_directories(Bus() / "pci/devices", error);
        fs::create_directories(Bus() / "i2c/devices", error);
        fs::create_directories(ProcDriver() / "nvidia/gpus", error);
        fs::create_directories(Dev(), error);
        if (error) {
            why = "cannot build the fake tree in " + root_.string() + ": " + error.message();
            return false;
        }

        AddPci("0000:00:02.0", 0x8086, 0x9BC5, 0x030000, 0x1028, 0x09E0, 0x05);  // an Intel GPU beside them
        for (Gpu& gpu : gpus_) {
            const sim::SimGpu& s = machine_.Gpus()[gpu.index];
            const std::uint32_t subsystem = s.subsystemId.value_or(0);
            AddPci(gpu.pci, 0x10DE, s.deviceId >> 16, 0x030000, subsystem & 0xFFFF, subsystem >> 16, 0xA1);
            fs::create_directories(ProcDriver() / "nvidia/gpus" / gpu.pci, error);
            if (!gpu.noDeviceFile)
                AddDeviceFile("nvidia" + std::to_string(gpu.index), Node{NodeKind::GpuDevice, "", gpu.index, 0, -1, false});
        }
        AddDeviceFile("nvidiactl", Node{NodeKind::Control, "", 0, 0, -1, false});
        AddAdapter("SMBus I801 adapter at efa0", Node{NodeKind::ForeignAdapter, "", 0, 0, -1, false});
        AddAdapter("i915 gmbus dpc", Node{NodeKind::ForeignAdapter, "", 0, 0, -1, false});
        for (Gpu& gpu : gpus_) {
            if (!gpu.startsLate && !gpu.neverStarts) Start(gpu, false);
            WriteInformation(gpu);
        }
        return true;
    }

    // Where the tree goes in the child's namespace. Whatever else /sys/bus, /proc/driver and /dev
    // hold is bound back, so only what the NVIDIA driver provides changes.
    std::vector<Bind> Mounts() {
        std::vector<Bind> binds;
        KeepOthers("/sys/bus", Bus(), {"pci", "i2c"}, false, binds);
        binds.push_back({Bus().string(), "/sys/bus", true});
        KeepOthers("/proc/driver", ProcDriver(), {"nvidia"}, false, binds);
        binds.push_back({ProcDriver().string(), "/proc/driver", true});
        KeepOthers("/dev", Dev(), {}, true, binds);
        binds.push_back({Dev().string(), "/dev", true});
        return binds;
    }

    // Until the listener hangs up or the program has ended; its exit status as a shell gives it.
    int Serve(int listener, pid_t child) {
        // Opened only now, so the program does not inherit it.
        if (!options_.logPath.empty()) log_.open(options_.logPath, std::ios::app);
        seccomp_notif_sizes sizes{};
        if (syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0) {
            sizes.seccomp_notif = sizeof(seccomp_notif);
            sizes.seccomp_notif_resp = sizeof(seccomp_notif_resp);
        }
        std::vector<std::uint64_t> request((std::max<std::size_t>(sizes.seccomp_notif, sizeof(seccomp_notif)) + 7) / 8);
        std::vector<std::uint64_t> response(
            (std::max<std::size_t>(sizes.seccomp_notif_resp, sizeof(seccomp_notif_resp)) + 7) / 8);
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));

        int status = 0;
        bool ended = false;
        for (;;) {
            pollfd watched[2] = {{listener, POLLIN, 0}, {pidfd, POLLIN, 0}};
            const int ready = poll(watched, pidfd >= 0 ? 2 : 1, ended ? 0 : (pidfd >= 0 ? -1 : 200));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) break;
            if (ready > 0 && (watched[0].revents & POLLIN)) {
                auto* req = reinterpret_cast<seccomp_notif*>(request.data());
                auto* resp = reinterpret_cast<seccomp_notif_resp*>(response.data());
                std::memset(request.data(), 0, request.size() * sizeof(std::uint64_t));
                if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, req) != 0) continue;  // the caller went away
                std::memset(response.data(), 0, response.size() * sizeof(std::uint64_t));
                resp->id = req->id;
                if (Handle(listener, *req, *resp)) ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, resp);
                continue;
            }
            if (ready > 0 && (watched[0].revents & (POLLHUP | POLLERR))) break;
            if (ended) break;  // nothing more waiting after the program's end
            if (waitpid(child, &status, WNOHANG) == child) ended = true;
        }
        if (!ended) waitpid(child, &status, 0);
        if (pidfd >= 0) close(pidfd);
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return 1;
    }

private:
    fs::path Bus() const { return root_ / "sys-bus"; }
    fs::path ProcDriver() const { return root_ / "proc-driver"; }
    fs::path Dev() const { return root_ / "dev"; }

    void KeepOthers(const fs::path& real, const fs::path& fake, const std::set<std::string>& replaced, bool isDev,
                    std::vector<Bind>& binds) {
        std::error_code error;
        for (fs::directory_iterator it(real, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (replaced.count(name)) continue;
            if (isDev && (name.compare(0, 4, "i2c-") == 0 || name.compare(0, 6, "nvidia") == 0)) continue;
            const fs::path stub = fake / name;
            std::error_code e;
            const fs::file_status type = it->symlink_status(e);
            if (fs::is_symlink(type)) {
                fs::create_symlink(fs::read_symlink(it->path(), e), stub, e);
                continue;
            }
            if (fs::is_directory(type)) fs::create_directory(stub, e);
            else WriteFile(stub, "");
            if (!e) binds.push_back({it->path().string(), stub.string(), false});
        }
    }

    void AddPci(const std::string& address, std::uint32_t vendor, std::uint32_t device, std::uint32_t pciClass,
                std::uint32_t subsystemVendor, std::uint32_t subsystemDevice, std::uint32_t revision) {
        const fs::path dir = Bus() / "pci/devices" / address;
        std::error_code error;
        fs::create_directories(dir, error);
        WriteFile(dir / "vendor", Hex(vendor, 4) + "\n");
        WriteFile(dir / "device", Hex(device, 4) + "\n");
        WriteFile(dir / "class", Hex(pciClass, 6) + "\n");
        WriteFile(dir / "subsystem_vendor", Hex(subsystemVendor, 4) + "\n");
        WriteFile(dir / "subsystem_device", Hex(subsystemDevice, 4) + "\n");
        WriteFile(dir / "revision", Hex(revision, 2) + "\n");
    }

    // A device file is a plain file of the tree, recognised by its inode wherever it is open.
    void AddDeviceFile(const std::string& name, Node node) {
        const fs::path path = Dev() / name;
        WriteFile(path, "");
        chmod(path.c_str(), 0666);
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) return;
        node.path = "/dev/" + name;
        nodes_[{info.st_dev, info.st_ino}] = node;
    }

    int AddAdapter(const std::string& name, Node node) {
        const int number = nextAdapter_++;
        const std::string entry = "i2c-" + std::to_string(number);
        std::error_code error;
        fs::create_directories(Bus() / "i2c/devices" / entry, error);
        WriteFile(Bus() / "i2c/devices" / entry / "name", name + "\n");
        node.adapter = number;
        AddDeviceFile(entry, node);
        return number;
    }

    // As the driver registers a GPU's adapters while it starts it: new numbers each time.
    void Start(Gpu& gpu, bool tell) {
        gpu.started = true;
        std::string numbers;
        for (std::uint8_t port = 1; port <= kPorts && !gpu.noI2c; ++port) {
            const int number = AddAdapter("NVIDIA i2c adapter " + std::to_string(port) + " at " + gpu.busDeviceFunction,
                                          Node{NodeKind::NvidiaAdapter, "", gpu.index, port, -1, false});
            gpu.adapters.push_back(number);
            numbers += " i2c-" + std::to_string(number);
        }
        WriteInformation(gpu);
        if (tell) Log("start gpu " + std::to_string(gpu.index) + " adapters" + numbers);
    }

    void Stop(Gpu& gpu) {
        gpu.started = false;
        std::error_code error;
        for (int number : gpu.adapters) {
            const std::string entry = "i2c-" + std::to_string(number);
            for (auto& [key, node] : nodes_)
                if (node.adapter == number) node.removed = true;
            fs::remove_all(Bus() / "i2c/devices" / entry, error);
            fs::remove(Dev() / entry, error);
        }
        gpu.adapters.clear();
        WriteInformation(gpu);
        Log("stop gpu " + std::to_string(gpu.index));
    }

    // The lines the proprietary driver writes, each key followed by tabs and spaces.
    void WriteInformation(const Gpu& gpu) {
        const sim::SimGpu& s = machine_.Gpus()[gpu.index];
        std::string text;
        if (s.name) text += "Model: \t\t " + *s.name + "\n";
        text += "IRQ:   \t\t " + std::to_string(140 + gpu.index) + "\n";
        char uuid[64];
        std::snprintf(uuid, sizeof uuid, "GPU-%08x-0000-0000-0000-%012x", static_cast<unsigned>(gpu.handle), gpu.index);
        text += std::string("GPU UUID: \t ") + uuid + "\n";
        if (s.vbios) text += "Video BIOS: \t " + (gpu.started ? *s.vbios : std::string(kUnstartedVbios)) + "\n";
        text += "Bus Type: \t PCIe\nDMA Size: \t 47 bits\nDMA Mask: \t 0x7fffffffffff\n";
        text += "Bus Location: \t " + gpu.pci + "\n";
        text += "Device Minor: \t " + std::to_string(gpu.index) + "\n";
        text += "GPU Excluded:\t No\n";
        ReplaceFile(ProcDriver() / "nvidia/gpus" / gpu.pci / "information", text);
    }

    void Log(const std::string& line) {
        if (!log_.is_open()) return;
        log_ << line << '\n';
        log_.flush();
    }

    // The program's pauses reach the simulated MCU's timing rules as they really passed.
    void AdvanceClock() {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        const auto now = static_cast<std::uint64_t>(elapsed.count());
        if (now > machine_.NowMs()) machine_.Pause(static_cast<std::uint32_t>(now - machine_.NowMs()));
    }

    Node* NodeOf(pid_t pid, std::uint64_t fd, std::pair<dev_t, ino_t>* key = nullptr) {
        if (fd > static_cast<std::uint64_t>(INT32_MAX)) return nullptr;
        struct stat info {};
        const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        if (stat(link.c_str(), &info) != 0) return nullptr;
        if (key) *key = {info.st_dev, info.st_ino};
        auto it = nodes_.find({info.st_dev, info.st_ino});
        return it == nodes_.end() ? nullptr : &it->second;
    }

    static bool StillWaiting(int listener, std::uint64_t id) {
        return ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
    }

    // True: send resp; false: already answered.
    bool Handle(int listener, const seccomp_notif& req, seccomp_notif_resp& resp) {
        resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        const long nr = req.data.nr;
        const auto* args = req.data.args;
        if (nr == SYS_openat) return Open(listener, req, resp, args[1], args[2]);
#ifdef SYS_open
        if (nr == SYS_open) return Open(listener, req, resp, args[0], args[1]);
#endif
#ifdef SYS_openat2
        if (nr == SYS_openat2) {
            std::uint64_t flags = 0;  // open_how.flags comes first
            if (!ReadMemory(static_cast<pid_t>(req.pid), args[2], &flags, sizeof flags)) return true;
            return Open(listener, req, resp, args[1], flags);
        }
#endif
        if (nr == SYS_close) {
            Close(req);
            return true;
        }
        if (nr == SYS_ioctl) return Ioctl(listener, req, resp);
        return true;
    }

    bool Open(int listener, const seccomp_notif& req, seccomp_notif_resp& resp, std::uint64_t pathAddress,
              std::uint64_t flags) {
        const pid_t pid = static_cast<pid_t>(req.pid);
        std::string path;
        if (!ReadPath(pid, pathAddress, path) || !StillWaiting(listener, req.id)) return true;
        // Only absolute names are answered here; a file opened otherwise is still known by its inode.
        if (path.compare(0, 5, "/dev/") != 0 || path.find('/', 5) != std::string::npos) return true;
        const std::string name = path.substr(5);
        struct stat info {};
        const fs::path file = Dev() / name;
        if (stat(file.c_str(), &info) != 0) return true;  // the kernel's own ENOENT
        auto it = nodes_.find({info.st_dev, info.st_ino});
        if (it == nodes_.end()) return true;
        Node& node = it->second;
        if (node.kind == NodeKind::GpuDevice) {
            Gpu& gpu = gpus_[node.gpu];
            if (!gpu.started && !gpu.neverStarts) Start(gpu, true);
        }

        const int local = open(file.c_str(), static_cast<int>(flags & (O_ACCMODE | O_NONBLOCK)) | O_CLOEXEC);
        if (local < 0) {
            resp.flags = 0;
            resp.error = -errno;
            return true;
        }
        seccomp_notif_addfd add{};
        add.id = req.id;
        add.flags = SECCOMP_ADDFD_FLAG_SEND;
        add.srcfd = static_cast<std::uint32_t>(local);
        add.newfd_flags = static_cast<std::uint32_t>(flags & O_CLOEXEC);
        const int fd = ioctl(listener, SECCOMP_IOCTL_NOTIF_ADDFD, &add);
        const int error = errno;
        close(local);
        if (fd < 0) {
            if (error == ENOENT) return false;  // the caller went away
            resp.flags = 0;
            resp.error = -error;
            return true;
        }
        files_[{ThreadGroupOf(pid), fd}] = OpenFile{};
        Log("open " + node.path + " fd " + std::to_string(fd));
        return false;
    }

    void Close(const seccomp_notif& req) {
        const pid_t pid = static_cast<pid_t>(req.pid);
        std::pair<dev_t, ino_t> key;
        Node* node = NodeOf(pid, req.data.args[0], &key);
        if (!node) return;
        const int fd = static_cast<int>(req.data.args[0]);
        const pid_t tgid = ThreadGroupOf(pid);
        files_.erase({tgid, fd});
        Log("close " + node->path + " fd " + std::to_string(fd));
        if (node->kind != NodeKind::GpuDevice) return;
        Gpu& gpu = gpus_[node->gpu];
        // The last holder gone, the driver tears the GPU down unless persistence mode is on.
        if (gpu.startsLate && gpu.started && !options_.persistence && !OpenElsewhere(key, tgid, fd)) Stop(gpu);
    }

    // Whether any descriptor but this one still holds the file: dup()s and fork()s count as the
    // kernel counts them. Only on closes of /dev/nvidiaM, so the walk through /proc stays rare.
    static bool OpenElsewhere(const std::pair<dev_t, ino_t>& key, pid_t tgid, int fd) {
        std::error_code error;
        for (fs::directory_iterator p("/proc", error), end; !error && p != end; p.increment(error)) {
            const std::string name = p->path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const pid_t process = static_cast<pid_t>(std::stol(name));
            std::error_code e;
            for (fs::directory_iterator f(p->path() / "fd", e), last; !e && f != last; f.increment(e)) {
                const std::string number = f->path().filename().string();
                if (process == tgid && number == std::to_string(fd)) continue;
                struct stat info {};
                if (stat(f->path().c_str(), &info) == 0 && info.st_dev == key.first && info.st_ino == key.second)
                    return true;
            }
        }
        return false;
    }

    struct OpenFile {
        std::uint16_t slave = 0;
    };

    bool Ioctl(int listener, const seccomp_notif& req, seccomp_notif_resp& resp) {
        const pid_t pid = static_cast<pid_t>(req.pid);
        Node* node = NodeOf(pid, req.data.args[0]);
        if (!node || (node->kind != NodeKind::NvidiaAdapter && node->kind != NodeKind::ForeignAdapter)) return true;
        const int fd = static_cast<int>(req.data.args[0]);
        const auto request = static_cast<std::uint32_t>(req.data.args[1]);
        const std::uint64_t argument = req.data.args[2];
        OpenFile& file = files_[{ThreadGroupOf(pid), fd}];
        const std::string where = "ioctl " + node->path + " fd " + std::to_string(fd) + " ";
        resp.flags = 0;
        if (node->removed) {
            resp.error = -ENODEV;
            Log(where + "after its adapter went away = ENODEV");
            return true;
        }
        std::string text;
        int result = 0;
        switch (request) {
        case I2C_FUNCS: {
            const unsigned long functions = Functions(*node);
            result = WriteMemory(pid, argument, &functions, sizeof functions) ? 0 : -EFAULT;
            text = "I2C_FUNCS " + Hex(functions, 8);
            break;
        }
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE:
            text = std::string(request == I2C_SLAVE ? "I2C_SLAVE " : "I2C_SLAVE_FORCE ") + Hex(argument, 2);
            if (argument > 0x7F) result = -EINVAL;
            else file.slave = static_cast<std::uint16_t>(argument);
            break;
        case I2C_TENBIT:
            text = "I2C_TENBIT " + std::to_string(argument);
            result = argument ? -EINVAL : 0;  // the adapters have no 10-bit addressing
            break;
        case I2C_RETRIES:
        case I2C_TIMEOUT:
        case I2C_PEC:
            text = "request " + Hex(request, 4) + " " + std::to_string(argument);
            break;
        case I2C_SMBUS: result = Smbus(listener, req.id, pid, *node, file.slave, argument, text); break;
        case I2C_RDWR: result = Rdwr(listener, req.id, pid, *node, argument, text); break;
        default:
            text = "request " + Hex(request, 4);
            result = -ENOTTY;
            break;
        }
        if (result < 0) {
            resp.error = result;
            Log(where + text + " = " + ErrorName(-result));
        } else {
            resp.val = result;
            Log(where + text + " = " + std::to_string(result));
        }
        return true;
    }

    unsigned long Functions(const Node& node) const {
        if (node.kind == NodeKind::ForeignAdapter) return I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
        if (gpus_[node.gpu].plainI2c) return I2C_FUNC_I2C;
        unsigned long functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
                                  I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA;
        if (!options_.olderDriver) functions |= I2C_FUNC_SMBUS_I2C_BLOCK;
        return functions;
    }

    static std::string ErrorName(int error) {
        switch (error) {
        case EINVAL: return "EINVAL";
        case ENXIO: return "ENXIO";
        case EFAULT: return "EFAULT";
        case ENOTTY: return "ENOTTY";
        case EOPNOTSUPP: return "EOPNOTSUPP";
        case ENODEV: return "ENODEV";
        default: return "errno " + std::to_string(error);
        }
    }

    // One register transfer of the driver, as NvAPI's own. address is 7-bit.
    bool Transfer(const Node& node, bool write, std::uint16_t address, std::uint8_t reg, std::uint8_t* data,
                  std::uint32_t length) {
        if (node.kind != NodeKind::NvidiaAdapter) return false;  // nothing answers on the others
        AdvanceClock();
        nvapi::NV_I2C_INFO_V3 info{};
        info.version = nvapi::NV_I2C_INFO_VER3;
        info.i2cDevAddress = static_cast<std::uint8_t>(address << 1);
        info.pbI2cRegAddress = &reg;
        info.regAddrSize = 1;
        info.pbData = length ? data : nullptr;
        info.cbSize = length;
        info.i2cSpeed = nvapi::NVAPI_I2C_SPEED_DEPRECATED;
        info.portId = node.port;
        info.bIsPortIdSet = 1;
        std::uint32_t unknown = 0;
        const auto gpu = reinterpret_cast<nvapi::NvPhysicalGpuHandle>(gpus_[node.gpu].handle);
        const bool ok = (write ? machine_.I2CWriteEx(gpu, &info, &unknown) : machine_.I2CReadEx(gpu, &info, &unknown)) ==
                        nvapi::NVAPI_OK;
        if (ok) pointer_[{node.adapter, address}] = reg;
        return ok;
    }

    bool Answers(const Node& node, std::uint16_t address) {
        if (node.kind != NodeKind::NvidiaAdapter) return false;
        const sim::SimGpu* gpu = machine_.GpuByHandle(gpus_[node.gpu].handle);
        return gpu && gpu->Find(node.port, static_cast<std::uint8_t>(address << 1)) != nullptr;
    }

    int Smbus(int listener, std::uint64_t id, pid_t pid, const Node& node, std::uint16_t address,
              std::uint64_t argument, std::string& text) {
        i2c_smbus_ioctl_data request{};
        if (!ReadMemory(pid, argument, &request, sizeof request) || !StillWaiting(listener, id)) {
            text = "I2C_SMBUS";
            return -EFAULT;
        }
        const bool read = request.read_write == I2C_SMBUS_READ;
        const std::uint8_t reg = request.command;
        std::uint32_t size = request.size;
        const char* kinds[] = {"quick", "byte", "byte-data", "word-data", "proc-call", "block-data",
                               "i2c-block-broken", "block-proc-call", "i2c-block"};
        text = std::string("I2C_SMBUS ") + (read ? "read " : "write ") + (size < 9 ? kinds[size] : "size?") + " addr " +
               Hex(address, 2) + " reg " + Hex(reg, 2);
        if ((request.read_write != I2C_SMBUS_READ && request.read_write != I2C_SMBUS_WRITE) || size > I2C_SMBUS_I2C_BLOCK_DATA)
            return -EINVAL;
        if (node.kind == NodeKind::NvidiaAdapter && gpus_[node.gpu].plainI2c) return -EOPNOTSUPP;

        if (size == I2C_SMBUS_QUICK) return Answers(node, address) ? 0 : -ENXIO;
        if (size == I2C_SMBUS_BYTE && !read) return Transfer(node, true, address, reg, nullptr, 0) ? 0 : -ENXIO;
        const std::uint64_t dataAddress = reinterpret_cast<std::uintptr_t>(request.data);
        if (!dataAddress) return -EINVAL;

        i2c_smbus_data data{};
        std::size_t dataSize = sizeof data;
        if (size == I2C_SMBUS_BYTE || size == I2C_SMBUS_BYTE_DATA) dataSize = 1;
        else if (size == I2C_SMBUS_WORD_DATA || size == I2C_SMBUS_PROC_CALL) dataSize = 2;
        if (!read || size == I2C_SMBUS_I2C_BLOCK_DATA)
            if (!ReadMemory(pid, dataAddress, &data, dataSize)) return -EFAULT;
        if (size == I2C_SMBUS_I2C_BLOCK_BROKEN) {
            size = I2C_SMBUS_I2C_BLOCK_DATA;
            if (read) data.block[0] = I2C_SMBUS_BLOCK_MAX;
        }

        bool ok = false;
        switch (size) {
        case I2C_SMBUS_BYTE: {  // a read from where the device's register pointer stands
            auto at = pointer_.find({node.adapter, address});
            ok = Transfer(node, false, address, at == pointer_.end() ? 0 : at->second, &data.byte, 1);
            break;
        }
        case I2C_SMBUS_BYTE_DATA:
            if (!read) text += " " + BytesText(&data.byte, 1);
            ok = Transfer(node, !read, address, reg, &data.byte, 1);
            if (ok && read) text += " " + BytesText(&data.byte, 1);
            break;
        case I2C_SMBUS_WORD_DATA: {
            // Low byte first on the wire.
            std::uint8_t wire[2] = {static_cast<std::uint8_t>(data.word & 0xFF), static_cast<std::uint8_t>(data.word >> 8)};
            if (!read) text += " " + BytesText(wire, 2);
            ok = Transfer(node, !read, address, reg, wire, 2);
            if (ok && read) {
                data.word = static_cast<std::uint16_t>(wire[0] | wire[1] << 8);
                text += " " + BytesText(wire, 2);
            }
            break;
        }
        case I2C_SMBUS_I2C_BLOCK_DATA: {
            if (options_.olderDriver) return -EINVAL;  // no I2C-block on the 515/520 series, and no emulation
            const std::uint8_t length = data.block[0];
            if (length > I2C_SMBUS_BLOCK_MAX || (read && length == 0)) return -EINVAL;
            text += " len " + std::to_string(length);
            if (!read) text += " " + BytesText(data.block + 1, length);
            ok = Transfer(node, !read, address, reg, data.block + 1, length);
            if (ok && read) text += " " + BytesText(data.block + 1, length);
            break;
        }
        default:
            // The simulator's devices are registers; SMBus block and call transfers have no model.
            return -EOPNOTSUPP;
        }
        if (!ok) return -ENXIO;
        if (read && !WriteMemory(pid, dataAddress, &data, dataSize)) return -EFAULT;
        return 0;
    }

    // Message by message, a stop after each, as the NVIDIA driver carries I2C_RDWR. A register
    // byte followed by a read of the same address is one register read of the simulator, which
    // stands for the device keeping its register pointer across the stop.
    int Rdwr(int listener, std::uint64_t id, pid_t pid, const Node& node, std::uint64_t argument, std::string& text) {
        text = "I2C_RDWR";
        i2c_rdwr_ioctl_data request{};
        if (!ReadMemory(pid, argument, &request, sizeof request)) return -EFAULT;
        if (request.nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) return -EINVAL;
        std::vector<i2c_msg> messages(request.nmsgs);
        const std::uint64_t messagesAddress = reinterpret_cast<std::uintptr_t>(request.msgs);
        if (!ReadMemory(pid, messagesAddress, messages.data(), messages.size() * sizeof(i2c_msg)) ||
            !StillWaiting(listener, id))
            return -EFAULT;
        std::vector<std::vector<std::uint8_t>> buffers(messages.size());
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const i2c_msg& m = messages[i];
            if ((m.flags & ~I2C_M_RD) != 0 || m.len > 8192) return -EINVAL;
            buffers[i].resize(m.len);
            if (!(m.flags & I2C_M_RD) && !ReadMemory(pid, reinterpret_cast<std::uintptr_t>(m.buf), buffers[i].data(), m.len))
                return -EFAULT;
        }
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const i2c_msg& m = messages[i];
            std::vector<std::uint8_t>& b = buffers[i];
            const bool read = (m.flags & I2C_M_RD) != 0;
            text += std::string(" ") + (read ? "read" : "write") + " addr " + Hex(m.addr, 2);
            bool ok = false;
            if (!read && m.len == 1 && i + 1 < messages.size() && (messages[i + 1].flags & I2C_M_RD) &&
                messages[i + 1].addr == m.addr) {
                std::vector<std::uint8_t>& out = buffers[i + 1];
                text += " reg " + Hex(b[0], 2) + " read len " + std::to_string(out.size());
                ok = Transfer(node, false, m.addr, b[0], out.data(), static_cast<std::uint32_t>(out.size()));
                if (ok) text += " " + BytesText(out.data(), out.size());
                ++i;
            } else if (!read && m.len == 0) {
                ok = Answers(node, m.addr);
            } else if (!read) {
                text += " reg " + Hex(b[0], 2) + " " + BytesText(b.data() + 1, b.size() - 1);
                ok = Transfer(node, true, m.addr, b[0], b.data() + 1, static_cast<std::uint32_t>(b.size() - 1));
            } else {
                auto at = pointer_.find({node.adapter, m.addr});
                ok = m.len > 0 &&
                     Transfer(node, false, m.addr, at == pointer_.end() ? 0 : at->second, b.data(), m.len);
                if (ok) text += " len " + std::to_string(m.len) + " " + BytesText(b.data(), b.size());
            }
            if (!ok) return -ENXIO;
        }
        for (std::size_t i = 0; i < messages.size(); ++i)
            if ((messages[i].flags & I2C_M_RD) &&
                !WriteMemory(pid, reinterpret_cast<std::uintptr_t>(messages[i].buf), buffers[i].data(), buffers[i].size()))
                return -EFAULT;
        return static_cast<int>(messages.size());
    }

    const Options& options_;
    sim::SimMachine machine_;
    std::vector<Gpu> gpus_;
    fs::path root_;
    std::map<std::pair<dev_t, ino_t>, Node> nodes_;
    std::map<std::pair<pid_t, int>, OpenFile> files_;                 // by thread group and descriptor
    std::map<std::pair<int, std::uint16_t>, std::uint8_t> pointer_;  // register pointer by adapter and address
    int nextAdapter_ = 0;
    std::ofstream log_;
    std::chrono::steady_clock::time_point start_;
};

void Usage(std::FILE* out, const FakeDriver& driver) {
    std::fprintf(out,
                 "Usage: fake-nvidia-driver [options] -- PROGRAM [ARGUMENTS...]\n"
                 "Runs PROGRAM on a fake NVIDIA proprietary driver serving the simulator's default machine:\n"
                 "its /sys/bus, /proc/driver and /dev are replaced in a private mount namespace, and its opens and\n"
                 "i2c-dev ioctls on the fake device files are answered through seccomp user notification.\n\n"
                 "  --unstarted=I     GPU I is not initialised: no adapters, VBIOS ??.??.??.??.??, until a\n"
                 "                    program opens /dev/nvidiaI; they go again when the last one closes it\n"
                 "  --never-starts=I  GPU I stays uninitialised even when /dev/nvidiaI is opened\n"
                 "  --no-device-file=I  GPU I is uninitialised and has no /dev/nvidiaI to open\n"
                 "  --persistence     a GPU once started stays started (nvidia-smi -pm 1)\n"
                 "  --plain-i2c=I     GPU I's ports offer plain I2C alone (I2C_RDWR)\n"
                 "  --no-i2c=I        GPU I is started but registers no I2C adapter (a compute card)\n"
                 "  --older-driver    the 515/520 series: no SMBus I2C-block (EINVAL), byte and word data only\n"
                 "  --log=FILE        append one line per open, ioctl and close of a fake device file\n\n"
                 "The machine (GPU I has device minor I):\n%s\n"
                 "Exit status: PROGRAM's, or 128+signal; 77 when this system cannot host the fake driver\n"
                 "(no mount namespace or no seccomp user notification); 2 for a wrong command line.\n",
                 driver.Describe().c_str());
}

bool KernelHasAddfdSend() {
    utsname name{};
    if (uname(&name) != 0) return false;
    unsigned major = 0, minor = 0;
    if (std::sscanf(name.release, "%u.%u", &major, &minor) != 2) return false;
    return major > 5 || (major == 5 && minor >= 14);
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    std::vector<std::string> errors;
    int at = 1;
    bool help = false;
    for (; at < argc; ++at) {
        const std::string a = argv[at];
        if (a == "--") {
            ++at;
            break;
        }
        if (a == "--help" || a == "-h") help = true;
        else if (a == "--older-driver") options.olderDriver = true;
        else if (a == "--persistence") options.persistence = true;
        else if (a.compare(0, 6, "--log=") == 0 && a.size() > 6) options.logPath = a.substr(6);
        else if (IndexOption(a, "--unstarted=", options.unstarted)) continue;
        else if (IndexOption(a, "--never-starts=", options.neverStarts)) continue;
        else if (IndexOption(a, "--plain-i2c=", options.plainI2c)) continue;
        else if (IndexOption(a, "--no-device-file=", options.noDeviceFile)) continue;
        else if (IndexOption(a, "--no-i2c=", options.noI2c)) continue;
        else errors.push_back("unknown option " + a);
    }
    for (; at < argc; ++at) options.program.push_back(argv[at]);
    options.program.push_back(nullptr);

    FakeDriver driver(options);
    if (help) {
        Usage(stdout, driver);
        return 0;
    }
    for (const std::set<unsigned>* set :
         {&options.unstarted, &options.neverStarts, &options.plainI2c, &options.noDeviceFile, &options.noI2c})
        for (unsigned index : *set)
            if (index >= driver.GpuCount()) errors.push_back("no GPU " + std::to_string(index));
    if (options.program.size() < 2) errors.push_back("no program to run after --");
    if (!errors.empty()) {
        for (const std::string& e : errors) std::fprintf(stderr, "fake-nvidia-driver: %s\n", e.c_str());
        Usage(stderr, driver);
        return kUsage;
    }
    if (!KernelHasAddfdSend()) {
        std::fprintf(stderr, "fake-nvidia-driver: the kernel is older than 5.14 (no SECCOMP_ADDFD_FLAG_SEND)\n");
        return kSkip;
    }

    std::string why;
    if (!driver.Build(why)) {
        std::fprintf(stderr, "fake-nvidia-driver: %s\n", why.c_str());
        return 1;
    }
    const std::vector<Bind> binds = driver.Mounts();

    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        std::perror("fake-nvidia-driver: socketpair");
        return 1;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fake-nvidia-driver: fork");
        return 1;
    }
    if (child == 0) {
        close(sockets[0]);
        RunChild(binds, sockets[1], options.program.data());
    }
    close(sockets[1]);
    // The terminal sends these to the program too; the supervisor must outlive it to answer it.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    const int listener = ReceiveDescriptor(sockets[0]);
    close(sockets[0]);
    if (listener < 0) {  // the child said why
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    const int status = driver.Serve(listener, child);
    close(listener);
    return status;
}
