#include "boards/BoardLinks.h"

#include "boards/BoardIo.h"

bool GpuBoardBus::Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) {
    return board_io::Read(gpus_, gpuIndex_, port_, device, reg, data, length);
}

bool GpuBoardBus::Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    return board_io::Write(gpus_, gpuIndex_, port_, device, reg, data, length);
}

BoardLinks ProgramLinks(std::uint32_t gpuIndex, std::uint8_t port, Sleeper& sleeper) {
    ProfileStore& profiles = *ProfileStore::Instance();
    const GpuList& gpus = *GpuList::Instance();
    return BoardLinks{gpuIndex, gpus, std::make_unique<GpuBoardBus>(gpus, gpuIndex, port), sleeper, profiles};
}
