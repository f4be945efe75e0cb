#include "sim/RegisterDevice.h"

#include <algorithm>

namespace sim {

void RegisterDevice::Define(std::uint8_t reg, std::vector<std::uint8_t> initial, bool readable, bool writable) {
    registers_[reg] = Register{std::move(initial), readable, writable};
}

RegisterDevice::Register* RegisterDevice::Find(std::uint8_t reg) {
    auto it = registers_.find(reg);
    return it == registers_.end() ? nullptr : &it->second;
}

const RegisterDevice::Register* RegisterDevice::Find(std::uint8_t reg) const {
    auto it = registers_.find(reg);
    return it == registers_.end() ? nullptr : &it->second;
}

bool RegisterDevice::Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) {
    if (silent_) return false;
    BeforeRead(reg);
    const Register* r = Find(reg);
    // Reading fewer bytes than the register holds gives its first bytes, as SMBus parts do.
    if (!r || !r->readable || length == 0 || length > r->value.size()) return false;
    std::copy_n(r->value.begin(), length, data);
    return true;
}

bool RegisterDevice::Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (silent_) return false;
    const Register* r = Find(reg);
    if (!r || !r->writable) return false;
    return OnWrite(reg, data, length);
}

bool RegisterDevice::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    Register* r = Find(reg);
    if (length != r->value.size()) return false;
    r->value.assign(data, data + length);
    return true;
}

std::vector<std::uint8_t> RegisterDevice::Value(std::uint8_t reg) const {
    const Register* r = Find(reg);
    return r ? r->value : std::vector<std::uint8_t>{};
}

std::uint32_t RegisterDevice::Word(std::uint8_t reg) const {
    const std::vector<std::uint8_t> bytes = Value(reg);
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) word |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return word;
}

void RegisterDevice::Poke(std::uint8_t reg, std::vector<std::uint8_t> bytes) {
    if (Register* r = Find(reg)) r->value = std::move(bytes);
    else Define(reg, std::move(bytes));
}

}  // namespace sim
