#pragma once
// The machine's NVIDIA physical GPUs, in ascending handle order. Made by the run from the NvAPI
// realization its entry point chose, and destroyed at the run's end; the position of a handle is
// the GPU index used everywhere. Transfers on a GPU's bus go through GpuBus.
#include <cstdint>
#include <string>
#include <vector>

#include "gpu/NvApi.h"

class GpuList {
public:
    // Initialises NvAPI and enumerates the GPUs, once. Not ready when NvAPI cannot be initialised.
    explicit GpuList(nvapi::NvApi& api);

    bool IsReady() const { return ready_ != 0; }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(handles_.size()); }
    // Callers check IsReady and index < Count first.
    nvapi::NvPhysicalGpuHandle Handle(std::uint32_t index) const { return handles_[index]; }
    // The realization the list was made from, for the GPU's other queries.
    nvapi::NvApi& Api() const { return api_; }

    bool GetName(std::uint32_t index, std::wstring& name) const;
    // The GPU's PCI address as lspci and the NVIDIA driver write it, "0000:01:00.0" (lower-case
    // hexadecimal domain:bus:device.function); the domain and function are 0 where the platform
    // does not give them. Empty when the GPU's bus or device cannot be had.
    std::wstring BusId(std::uint32_t index) const;

    GpuList(const GpuList&) = delete;
    GpuList& operator=(const GpuList&) = delete;

private:
    nvapi::NvApi& api_;
    std::uint32_t ready_ = 0;
    std::vector<nvapi::NvPhysicalGpuHandle> handles_;
};
