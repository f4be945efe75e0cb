#pragma once
// Every transfer the simulated machine saw, and every pause the program took, in order.
#include <cstdint>
#include <string>
#include <vector>

#include "gpu/NvApi.h"

namespace sim {

struct LogEntry {
    enum class Kind { Read, Write, Pause };
    Kind kind = Kind::Read;
    std::uint32_t gpu = 0;           // position of the GPU in the scenario (enumeration order)
    std::uintptr_t handle = 0;
    std::uint8_t port = 0;           // portId as given, 0 when no port was named
    bool portSet = false;
    std::uint8_t device = 0;         // 8-bit address
    std::uint8_t reg = 0;
    std::vector<std::uint8_t> bytes; // written bytes, or the bytes a successful read delivered
    std::uint32_t length = 0;        // cbSize as requested
    nvapi::NvStatus status = nvapi::NVAPI_OK;
    std::uint32_t pauseMs = 0;       // Pause only
    std::uint64_t atMs = 0;          // the simulated clock when it happened

    bool ok() const { return status == nvapi::NVAPI_OK; }
};

class TransferLog {
public:
    void Add(LogEntry entry) { entries_.push_back(std::move(entry)); }
    void Clear() { entries_.clear(); }
    const std::vector<LogEntry>& Entries() const { return entries_; }
    std::vector<LogEntry> Writes() const;
    // One line per entry, e.g. "W gpu0 p1 5A:10 [03 01 C0 00] ok" or "pause 100 ms".
    std::string Dump() const;
    // Length: a read shows the length asked for instead of the bytes it delivered
    // ("R gpu0 p1 5A:19 len 10 ok"), for comparing traffic whose answers do not matter.
    enum class ReadBytes { Shown, Length };
    static std::string Format(const LogEntry& entry, ReadBytes reads = ReadBytes::Shown);

private:
    std::vector<LogEntry> entries_;
};

}  // namespace sim
