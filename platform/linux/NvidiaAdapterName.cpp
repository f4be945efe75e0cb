#include "platform/linux/NvidiaAdapterName.h"

#include <cstdio>

namespace linuxnv {
namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

// A cursor over a name that accepts only the pieces asked for, in order.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}
    bool Literal(const char* literal) {
        for (; *literal; ++literal, ++at_)
            if (at_ >= text_.size() || text_[at_] != *literal) return false;
        return true;
    }
    // 1 to maxDigits digits of the base, at most maxValue.
    bool Number(unsigned base, std::size_t maxDigits, std::uint32_t maxValue, std::uint32_t& value) {
        value = 0;
        std::size_t digits = 0;
        while (at_ < text_.size() && (base == 16 ? IsHex(text_[at_]) : (text_[at_] >= '0' && text_[at_] <= '9'))) {
            if (++digits > maxDigits) return false;
            value = value * base + HexValue(text_[at_++]);
            if (value > maxValue) return false;
        }
        return digits > 0;
    }
    bool End() const { return at_ == text_.size(); }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<PciAddress> ParsePciAddress(const std::string& text) {
    PciAddress a;
    Reader r(text);
    if (r.Number(16, 8, 0xFFFFFFFFu, a.domain) && r.Literal(":") && r.Number(16, 2, 0xFF, a.bus) &&
        r.Literal(":") && r.Number(16, 2, 0x1F, a.device) && r.Literal(".") && r.Number(16, 1, 7, a.function) &&
        r.End())
        return a;
    return std::nullopt;
}

std::string FormatPciAddress(const PciAddress& address) {
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", address.domain, address.bus, address.device,
                  address.function);
    return text;
}

std::optional<NvidiaAdapterName> ParseNvidiaAdapterName(const std::string& name) {
    NvidiaAdapterName a;
    std::uint32_t port = 0;
    Reader r(name);
    if (r.Literal("NVIDIA i2c adapter ") && r.Number(10, 3, 0xFF, port) && r.Literal(" at ") &&
        r.Number(16, 2, 0xFF, a.gpu.bus) && r.Literal(":") && r.Number(16, 2, 0x1F, a.gpu.device) &&
        r.Literal(".") && r.Number(16, 1, 7, a.gpu.function) && r.End()) {
        a.port = port;
        return a;
    }
    return std::nullopt;
}

}  // namespace linuxnv
