#pragma once
// What a board controller is handed instead of fetching it: its GPU, the bus of its board (the one
// transfer primitive its protocol uses), the pauses its devices need and the profile store.
#include <cstdint>
#include <memory>

#include "gpu/GpuList.h"
#include "model/BoardBus.h"
#include "model/Sleeper.h"
#include "profile/ProfileStore.h"

struct BoardLinks {
    std::uint32_t gpuIndex;
    const GpuList& gpus;  // the GPU's PCI identity, for detection
    std::unique_ptr<BoardBus> bus;
    Sleeper& sleeper;
    ProfileStore& profiles;
};

// What every board of a run shares, made by the run and handed down: the GPU list, the pauses,
// and the profile store, made when the first board asks for it.
struct BoardServices {
    const GpuList& gpus;
    Sleeper& sleeper;
    LazyProfileStore& profiles;
};

// The links of a board on a GPU's port: its bus on that port, the run's pauses and profile store
// (made here by the first probe, whatever the GPU carries).
BoardLinks ProgramLinks(const BoardServices& services, std::uint32_t gpuIndex, std::uint8_t port);
