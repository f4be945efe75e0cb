#pragma once
// The names by which the back end recognises what it may touch: a PCI function's sysfs address
// and the name the NVIDIA driver gives each I2C port of a GPU.
#include <cstdint>
#include <optional>
#include <string>

namespace linuxnv {

struct PciAddress {
    std::uint32_t domain = 0;
    std::uint32_t bus = 0;
    std::uint32_t device = 0;
    std::uint32_t function = 0;

    bool SameBusDeviceFunction(const PciAddress& other) const {
        return bus == other.bus && device == other.device && function == other.function;
    }
};

// "DDDD:BB:DD.F" as sysfs and the driver's procfs name a PCI function; nullopt for anything else.
std::optional<PciAddress> ParsePciAddress(const std::string& text);
std::string FormatPciAddress(const PciAddress& address);

// What an adapter named "NVIDIA i2c adapter P at B:D.F" (bus in hexadecimal) serves.
struct NvidiaAdapterName {
    unsigned port = 0;
    PciAddress gpu;  // domain 0: the name does not carry it
};

// nullopt for every name that is not exactly of that form.
std::optional<NvidiaAdapterName> ParseNvidiaAdapterName(const std::string& name);

}  // namespace linuxnv
