#pragma once
// The one seam between the Linux back end and the kernel's i2c-dev device files: open, ioctl,
// close. Tests put a fake kernel here; the program uses the real calls.
#include <string>

namespace linuxnv {

class I2cDev {
public:
    virtual ~I2cDev() = default;
    // A descriptor, or -errno.
    virtual int Open(const std::string& path) = 0;
    // 0, or -errno. Requests that take a value (I2C_SLAVE) carry it in the pointer's bits.
    virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void Close(int fd) = 0;
};

// The kernel itself.
class KernelI2cDev final : public I2cDev {
public:
    int Open(const std::string& path) override;
    int Ioctl(int fd, unsigned long request, void* argument) override;
    void Close(int fd) override;
};

}  // namespace linuxnv
