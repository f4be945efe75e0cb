#pragma once
// The machine's NVIDIA physical GPUs, in ascending handle order, and the one path to their I2C
// buses. Created lazily once per run; the position of a handle is the GPU index used everywhere.
#include <cstdint>
#include <string>
#include <vector>

#include "gpu/I2cTransfer.h"
#include "gpu/NvApi.h"

class GpuList {
public:
    // Never null. NvAPI is initialised and enumerated on the first call only.
    static GpuList* Instance();
    static void Release();

    bool IsReady() const { return ready_ != 0; }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(handles_.size()); }
    // Callers check IsReady and index < Count first.
    nvapi::NvPhysicalGpuHandle Handle(std::uint32_t index) const { return handles_[index]; }

    bool GetName(std::uint32_t index, std::wstring& name) const;
    bool Read(const I2cTransfer& transfer) const;
    bool Write(const I2cTransfer& transfer) const;

    GpuList(const GpuList&) = delete;
    GpuList& operator=(const GpuList&) = delete;

private:
    GpuList() = default;
    ~GpuList() = default;
    bool Transfer(const I2cTransfer& transfer, bool write) const;

    std::uint32_t ready_ = 0;
    std::vector<nvapi::NvPhysicalGpuHandle> handles_;
};
