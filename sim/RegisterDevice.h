#pragma once
// A device made of registers of fixed width. Device models define their registers and react to
// writes; the base answers reads and refuses what a real part would not acknowledge.
#include <cstdint>
#include <map>
#include <vector>

#include "sim/I2cDevice.h"

namespace sim {

class RegisterDevice : public I2cDevice {
public:
    bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override;
    bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;

    // A silent device acknowledges nothing, as if it were not on the bus.
    void SetSilent(bool silent) { silent_ = silent; }
    bool IsSilent() const { return silent_; }

    // The register as the device holds it now (empty when undefined), and a way to set it behind
    // the program's back, as the hardware itself may.
    std::vector<std::uint8_t> Value(std::uint8_t reg) const;
    std::uint32_t Word(std::uint8_t reg) const;  // little-endian value of up to four bytes
    void Poke(std::uint8_t reg, std::vector<std::uint8_t> bytes);

protected:
    struct Register {
        std::vector<std::uint8_t> value;
        bool readable = true;
        bool writable = true;
    };

    void Define(std::uint8_t reg, std::vector<std::uint8_t> initial, bool readable = true, bool writable = true);
    Register* Find(std::uint8_t reg);
    const Register* Find(std::uint8_t reg) const;

    // Called before a read is answered, so computed registers can be brought up to date.
    virtual void BeforeRead(std::uint8_t reg) { (void)reg; }
    // Called for a write of a defined, writable register; the default stores the bytes when their
    // count is the register's width. Returning false refuses the write (no acknowledge).
    virtual bool OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length);

private:
    std::map<std::uint8_t, Register> registers_;
    bool silent_ = false;
};

}  // namespace sim
