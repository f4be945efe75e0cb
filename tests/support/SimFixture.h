#pragma once
// A simulated machine as NvAPI, boards put on its GPUs the way the simulator wires them, and the
// test's GPU list, made from the machine when first asked for and destroyed after the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
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
    void TearDown() override { gpus_.reset(); }
    GpuList& Gpus() {
        if (!gpus_) gpus_.emplace(machine);
        return *gpus_;
    }
    // The list goes; the next Gpus() makes a new one, as a new run would.
    void ReleaseGpus() { gpus_.reset(); }

    // A GPU carrying the board's devices in their power-on state.
    sim::SimGpu& AddBoardGpu(sim::BoardKind kind, std::uintptr_t handle, std::string name, std::uint32_t subsystem) {
        sim::SimGpu& gpu = machine.AddGpu(handle, std::move(name));
        gpu.subsystemId = subsystem;
        sim::AttachBoard(gpu, kind);
        return gpu;
    }

    sim::SimMachine machine;

private:
    std::optional<GpuList> gpus_;
};
