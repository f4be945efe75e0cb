#include "gpu/PciBusIdText.h"

#include <cstdio>
#include <vector>

std::wstring PciBusIdText(std::uint32_t domain, std::uint32_t bus, std::uint32_t device, std::uint32_t function) {
    // Numbers beyond what PCI can address name no place we could print.
    if (bus > 0xFF || device > 0x1F || function > 7) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", static_cast<unsigned>(domain), static_cast<unsigned>(bus),
                  static_cast<unsigned>(device), static_cast<unsigned>(function));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

namespace {

// Hex digits alone, a count of them in [least, most]; none otherwise.
std::optional<std::uint32_t> Hex(const std::wstring& text, std::size_t least, std::size_t most) {
    if (text.size() < least || text.size() > most) return std::nullopt;
    std::uint32_t value = 0;
    for (wchar_t c : text) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
        else return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

std::optional<std::wstring> NormalizedPciBusId(const std::wstring& text) {
    const std::size_t dot = text.rfind(L'.');
    if (dot == std::wstring::npos) return std::nullopt;
    std::vector<std::wstring> parts;
    for (std::size_t at = 0;;) {
        const std::size_t colon = text.find(L':', at);
        if (colon == std::wstring::npos || colon > dot) {
            parts.push_back(text.substr(at, dot - at));
            break;
        }
        parts.push_back(text.substr(at, colon - at));
        at = colon + 1;
    }
    if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
    const std::optional<std::uint32_t> domain = parts.size() == 3 ? Hex(parts[0], 4, 8) : std::optional<std::uint32_t>(0);
    const std::optional<std::uint32_t> bus = Hex(parts[parts.size() - 2], 2, 2);
    const std::optional<std::uint32_t> device = Hex(parts.back(), 2, 2);
    const std::optional<std::uint32_t> function = Hex(text.substr(dot + 1), 1, 1);
    if (!domain || !bus || !device || !function) return std::nullopt;
    const std::wstring id = PciBusIdText(*domain, *bus, *device, *function);
    if (id.empty()) return std::nullopt;
    return id;
}
