// The simulated RTX 3080 Ti MCU and regulators, as the board controllers and the demo rely on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/Mcu3080Ti.h"
#include "sim/Regulator3080Ti.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadOf(sim::I2cDevice& device, std::uint8_t reg, std::uint32_t length) {
    Bytes bytes(length, 0);
    return device.Read(reg, bytes.data(), length) ? bytes : Bytes{};
}

bool WriteOf(sim::I2cDevice& device, std::uint8_t reg, const Bytes& bytes) {
    return device.Write(reg, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// "HLVN" and the tail byte: the MCU's own unlock bytes.
Bytes Handshake() { return {0x48, 0x4C, 0x56, 0x4E, 0xA5}; }

TEST(Mcu3080TiTest, StartsLockedAndTakesOnlyItsHandshake) {
    sim::Mcu3080Ti mcu;
    EXPECT_TRUE(mcu.IsLocked());
    const Bytes id = ReadOf(mcu, 0xB1, 6);
    ASSERT_EQ(id.size(), 6u);
    EXPECT_EQ(id[2], 0x2D);
    EXPECT_EQ(id[3], 0x03);
    EXPECT_EQ(ReadOf(mcu, 0x19, 10).size(), 10u) << "reads work while locked";
    EXPECT_FALSE(WriteOf(mcu, 0x13, {0x01, 0x05})) << "no settings while locked";

    Bytes wrong = Handshake();
    wrong[4] ^= 0x01;
    EXPECT_FALSE(WriteOf(mcu, 0xB2, wrong));
    const Bytes full = Handshake();
    EXPECT_FALSE(WriteOf(mcu, 0xB2, Bytes(full.begin(), full.begin() + 4)));
    EXPECT_TRUE(mcu.IsLocked());
    EXPECT_TRUE(WriteOf(mcu, 0xB2, Handshake()));
    EXPECT_FALSE(mcu.IsLocked());
    EXPECT_TRUE(WriteOf(mcu, 0x13, {0x01, 0x05}));
    EXPECT_EQ(mcu.NvFrequency(), 5);
}

TEST(Mcu3080TiTest, PowersOnAtTheBoardDefaults) {
    sim::Mcu3080Ti mcu;
    EXPECT_EQ(ReadOf(mcu, 0x19, 10), (Bytes{9, 0, 175, 0, 0, 175, 0, 1, 220, 0}));
    EXPECT_EQ(ReadOf(mcu, 0x1A, 3), (Bytes{2, 1, 1}));
    EXPECT_EQ(ReadOf(mcu, 0x1B, 3), (Bytes{2, 1, 1}));
    EXPECT_EQ(ReadOf(mcu, 0x1C, 3), (Bytes{2, 4, 4}));
}

TEST(Mcu3080TiTest, SettingWritesNeedTheirLengthAndCountByte) {
    sim::Mcu3080Ti mcu;
    mcu.SetLocked(false);
    struct Case {
        std::uint8_t reg;
        Bytes bytes;
        bool acknowledged;
    };
    const Case cases[] = {
        {0x10, {0x03, 0x01, 0xC0, 0x00}, true}, {0x10, {0x02, 0x01, 0xC0, 0x00}, false},
        {0x10, {0x03, 0x01, 0xC0}, false},      {0x11, {0x01, 0x05}, true},
        {0x11, {0x02, 0x05}, false},            {0x11, {0x01, 0x05, 0x00}, false},
        {0x19, {0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},  // read-only
        {0x30, {0x01, 0x00}, false},            // no such register
    };
    for (const Case& c : cases) EXPECT_EQ(WriteOf(mcu, c.reg, c.bytes), c.acknowledged) << int(c.reg);
}

TEST(Mcu3080TiTest, RailsReportTheirFixedCodeOrTheGpusChoice) {
    sim::Mcu3080Ti mcu;
    mcu.SetLocked(false);
    ASSERT_TRUE(WriteOf(mcu, 0x10, {0x03, 0x01, 0xC0, 0x00}));
    ASSERT_TRUE(WriteOf(mcu, 0x14, {0x03, 0x01, 0xB4, 0x00}));
    ASSERT_TRUE(WriteOf(mcu, 0x18, {0x03, 0x01, 0xF8, 0x00}));
    EXPECT_EQ(ReadOf(mcu, 0x19, 10), (Bytes{9, 1, 192, 0, 1, 180, 0, 1, 248, 0}));

    ASSERT_TRUE(WriteOf(mcu, 0x10, {0x03, 0x00, 0x00, 0x00}));
    mcu.SetAutomaticCode(170);
    EXPECT_EQ(mcu.NvvddMode(), 0);
    EXPECT_EQ(mcu.NvvddCode(), 170);
    EXPECT_EQ(mcu.MsvddCode(), 180) << "a fixed rail keeps its code";

    ASSERT_TRUE(WriteOf(mcu, 0x12, {0x01, 0x00}));
    ASSERT_TRUE(WriteOf(mcu, 0x15, {0x01, 0x0F}));
    ASSERT_TRUE(WriteOf(mcu, 0x17, {0x01, 0x0A}));
    EXPECT_EQ(ReadOf(mcu, 0x1B, 3), (Bytes{2, 0, 1}));
    EXPECT_EQ(ReadOf(mcu, 0x1A, 3), (Bytes{2, 1, 15}));
    EXPECT_EQ(ReadOf(mcu, 0x1C, 3), (Bytes{2, 4, 10}));
}

using Rail = sim::Regulator3080Ti::Rail;

TEST(Regulator3080TiTest, TheMemoryRegulatorAnswersOnlyItsVoltageRegisters) {
    sim::Regulator3080Ti fb(Rail::Fbvdd);
    EXPECT_TRUE(fb.IsFixed());
    EXPECT_EQ(ReadOf(fb, 0x21, 2), (Bytes{220, 0}));
    EXPECT_EQ(ReadOf(fb, 0x8B, 2), (Bytes{0x5F, 0x05})) << "220 x 6.25 mV = 1375 mV";
    for (std::uint8_t reg : {0x24, 0xBD, 0x05, 0x1E, 0x06, 0xEC, 0x44, 0xEE, 0x6A}) {
        EXPECT_TRUE(ReadOf(fb, reg, 1).empty()) << int(reg);
        EXPECT_FALSE(WriteOf(fb, reg, {0x00, 0x00})) << int(reg);
    }
}

// The board's defaults as each core regulator holds them: automatic output, limit 1.3 V, 400 kHz,
// loadline level 1 with its step, OCP enabled with its three companions. Bits the controllers do
// not interpret are masked away.
TEST(Regulator3080TiTest, TheCoreRegulatorsPowerOnAtTheBoardDefaults) {
    struct Field {
        std::uint8_t reg;
        std::uint32_t length;
        std::size_t byte;
        std::uint8_t mask;
        std::uint8_t value;
    };
    const Field fields[] = {
        {0xE1, 2, 0, 0x10, 0x00}, {0xE1, 2, 1, 0x20, 0x00}, {0x24, 2, 0, 0xFF, 0xD0}, {0x24, 2, 1, 0xFF, 0x00},
        {0xBD, 2, 0, 0xFF, 0x28}, {0xBD, 2, 1, 0xFF, 0x00}, {0x1E, 1, 0, 0x0F, 0x01}, {0x06, 1, 0, 0xFF, 0x00},
        {0xEC, 2, 1, 0x60, 0x20}, {0x44, 2, 1, 0x08, 0x08}, {0xEE, 2, 0, 0xC0, 0x40}, {0x6A, 2, 0, 0xFF, 0x63},
        {0x6A, 2, 1, 0xFF, 0x01},
    };
    for (Rail rail : {Rail::Nvvdd, Rail::Msvdd}) {
        sim::Regulator3080Ti regulator(rail);
        for (const Field& f : fields) {
            const Bytes bytes = ReadOf(regulator, f.reg, f.length);
            ASSERT_EQ(bytes.size(), f.length) << int(f.reg);
            EXPECT_EQ(bytes[f.byte] & f.mask, f.value) << "register 0x" << std::hex << int(f.reg) << " byte " << f.byte;
        }
        EXPECT_TRUE(WriteOf(regulator, 0x05, {0x00})) << "the frequency commit";
    }
}

TEST(Regulator3080TiTest, TheMeasurementFollowsTheMode) {
    sim::Regulator3080Ti nv(Rail::Nvvdd);
    EXPECT_FALSE(nv.IsFixed());
    EXPECT_EQ(ReadOf(nv, 0x8B, 2), (Bytes{0x46, 0x04})) << "1094 mV at power-on";
    nv.SetAutomaticMillivolts(1200);
    nv.SetMeasurementStatus(0xF);
    EXPECT_EQ(ReadOf(nv, 0x8B, 2), (Bytes{0xB0, 0xF4}));

    ASSERT_TRUE(WriteOf(nv, 0x21, {0xC1, 0x00}));
    ASSERT_TRUE(WriteOf(nv, 0xE1, {0x12, 0x60}));
    EXPECT_TRUE(nv.IsFixed());
    EXPECT_EQ(nv.FixedCode(), 193);
    EXPECT_EQ(ReadOf(nv, 0x8B, 2), (Bytes{0xB6, 0xF4})) << "193 x 6.25 mV = 1206 mV, status kept";
    EXPECT_FALSE(WriteOf(nv, 0x8B, {0x00, 0x00})) << "read only";
    EXPECT_FALSE(WriteOf(nv, 0x21, {0xC1})) << "a word register takes words";
}

}  // namespace
