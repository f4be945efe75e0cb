#pragma once
// What a board controller is handed instead of fetching it: its GPU, the bus of its board (the one
// transfer primitive its protocol uses), the pauses its devices need and the profile store.
#include <cstdint>
#include <memory>

#include "gpu/GpuList.h"
#include "gpu/Sleeper.h"
#include "model/BoardBus.h"
#include "profile/ProfileStore.h"

struct BoardLinks {
    std::uint32_t gpuIndex;
    const GpuList& gpus;  // the GPU's PCI identity, for detection
    std::unique_ptr<BoardBus> bus;
    Sleeper& sleeper;
    ProfileStore& profiles;
};

// The bus of one port of one GPU of the list.
class GpuBoardBus final : public BoardBus {
public:
    GpuBoardBus(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port)
        : gpus_(gpus), gpuIndex_(gpuIndex), port_(port) {}
    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override;
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;

private:
    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    std::uint8_t port_;
};

// The links of the program's board on a GPU's port, from the program's profile store and GPU list
// (taken in that order, as the window's first probe creates them).
BoardLinks ProgramLinks(std::uint32_t gpuIndex, std::uint8_t port, Sleeper& sleeper);
