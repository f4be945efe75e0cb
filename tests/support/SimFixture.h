#pragma once
// A simulated machine wired in as NvAPI, boards put on its GPUs the way the simulator wires them,
// and the GPU list released after every test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "gpu/GpuList.h"
#include "sim/Boards.h"
#include "sim/SimMachine.h"

// The board device at an address of the GPU's board port.
template <class Device>
Device& DeviceOn(const sim::SimGpu& gpu, std::uint8_t address) {
    auto* device = dynamic_cast<Device*>(gpu.Find(sim::kBoardPort, address));
    if (!device) ADD_FAILURE() << "no such device at " << int(address);
    return *device;
}

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { nvapi::SetNvApi(&machine); }
    void TearDown() override {
        GpuList::Release();
        nvapi::SetNvApi(nullptr);
    }
    GpuList& Gpus() { return *GpuList::Instance(); }

    // A GPU carrying the board's devices in their power-on state.
    sim::SimGpu& AddBoardGpu(sim::BoardKind kind, std::uintptr_t handle, std::string name, std::uint32_t subsystem) {
        sim::SimGpu& gpu = machine.AddGpu(handle, std::move(name));
        gpu.subsystemId = subsystem;
        sim::AttachBoard(gpu, kind);
        return gpu;
    }

    sim::SimMachine machine;
};
