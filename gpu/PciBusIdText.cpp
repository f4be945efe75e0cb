#include "gpu/PciBusIdText.h"

#include <cstdio>

std::wstring PciBusIdText(std::uint32_t domain, std::uint32_t bus, std::uint32_t device, std::uint32_t function) {
    // Numbers beyond what PCI can address name no place we could print.
    if (bus > 0xFF || device > 0x1F || function > 7) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", static_cast<unsigned>(domain), static_cast<unsigned>(bus),
                  static_cast<unsigned>(device), static_cast<unsigned>(function));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}
