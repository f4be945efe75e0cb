#include "boards/BoardLinks.h"

#include "gpu/GpuBus.h"

BoardLinks ProgramLinks(const BoardServices& services, std::uint32_t gpuIndex, std::uint8_t port) {
    ProfileStore& profiles = services.profiles.Get();
    return BoardLinks{gpuIndex, services.gpus, std::make_unique<GpuBus>(services.gpus, gpuIndex, port),
                      services.sleeper, profiles};
}
