#pragma once
// PCI bus ids as lspci and the NVIDIA driver print them: "0000:01:00.0", domain, bus, device and
// function in lower-case hex. A card is picked by its id, which does not move between boots as the
// GPU's index may.
#include <cstddef>
#include <optional>
#include <string>

namespace pci_bus_id {

// The full lower-case form of "DDDD:BB:DD.F" or of the short "BB:DD.F" (domain 0000); none when
// the text is neither.
inline std::optional<std::wstring> Normalized(const std::wstring& text) {
    const std::wstring full = text.size() == 7 ? L"0000:" + text : text;
    if (full.size() != 12) return std::nullopt;
    std::wstring out;
    for (std::size_t i = 0; i < full.size(); ++i) {
        const wchar_t c = full[i];
        const wchar_t separator = i == 4 || i == 7 ? L':' : i == 10 ? L'.' : 0;
        if (separator) {
            if (c != separator) return std::nullopt;
            out += c;
            continue;
        }
        if (c >= L'0' && c <= L'9') out += c;
        else if (c >= L'a' && c <= L'f') out += c;
        else if (c >= L'A' && c <= L'F') out += static_cast<wchar_t>(c - L'A' + L'a');
        else return std::nullopt;
    }
    // A function is 0 to 7.
    if (out[11] > L'7') return std::nullopt;
    return out;
}

}  // namespace pci_bus_id
