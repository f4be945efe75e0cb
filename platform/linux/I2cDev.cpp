#include "platform/linux/I2cDev.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace linuxnv {

int KernelI2cDev::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    return fd < 0 ? -errno : fd;
}

int KernelI2cDev::Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument) < 0 ? -errno : 0;
}

void KernelI2cDev::Close(int fd) { ::close(fd); }

}  // namespace linuxnv
