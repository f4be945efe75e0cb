#pragma once
// PCI addresses as lspci and the NVIDIA driver write them, written in one place.
#include <cstdint>
#include <optional>
#include <string>

// "0000:01:00.0": domain:bus:device.function in lower-case hexadecimal, the domain in at least four
// digits; empty for a bus, device or function PCI cannot have.
std::wstring PciBusIdText(std::uint32_t domain, std::uint32_t bus, std::uint32_t device, std::uint32_t function);

// A bus id as a person writes it, in full ("0000:01:00.0", the domain in 4 to 8 digits, as lspci
// prints a VMD domain) or short ("01:00.0", domain 0000), either letter case, written as
// PciBusIdText writes it; none when the text is neither.
std::optional<std::wstring> NormalizedPciBusId(const std::wstring& text);
