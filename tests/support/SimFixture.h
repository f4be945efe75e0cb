#pragma once
// A simulated machine wired in as NvAPI, and the GPU list released after every test.
#include <gtest/gtest.h>

#include "gpu/GpuList.h"
#include "sim/SimMachine.h"

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { nvapi::SetNvApi(&machine); }
    void TearDown() override {
        GpuList::Release();
        nvapi::SetNvApi(nullptr);
    }
    GpuList& Gpus() { return *GpuList::Instance(); }

    sim::SimMachine machine;
};
