#pragma once
// PCI addresses as lspci and the NVIDIA driver write them, written in one place.
#include <cstdint>
#include <string>

// "0000:01:00.0": domain:bus:device.function in lower-case hexadecimal, the domain in at least four
// digits; empty for a bus, device or function PCI cannot have.
std::wstring PciBusIdText(std::uint32_t domain, std::uint32_t bus, std::uint32_t device, std::uint32_t function);
