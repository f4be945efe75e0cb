#pragma once
// The handshake the RTX 3080 Ti board's MCU expects in register 0xB2 before it is driven.
// Bytes 0-3 are the word, least significant byte first; byte 4 is the tail.
#include <array>
#include <cstdint>

namespace mcu {

constexpr std::uint32_t kHandshakeWord = 0x4E564C48;  // "HLVN" on the wire
constexpr std::uint8_t kHandshakeTail = 0xA5;

inline std::array<std::uint8_t, 5> HandshakeBytes() {
    return {static_cast<std::uint8_t>(kHandshakeWord & 0xFF), static_cast<std::uint8_t>((kHandshakeWord >> 8) & 0xFF),
            static_cast<std::uint8_t>((kHandshakeWord >> 16) & 0xFF),
            static_cast<std::uint8_t>((kHandshakeWord >> 24) & 0xFF), kHandshakeTail};
}

}  // namespace mcu
