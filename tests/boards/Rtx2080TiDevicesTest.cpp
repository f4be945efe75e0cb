// The simulated devices of the RTX 2080 Ti board on their own, register by register.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/OffsetDevice2080Ti.h"
#include "sim/Regulator2080Ti.h"

namespace {

using sim::Regulator2080Ti;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(sim::I2cDevice& device, std::uint8_t reg, std::uint32_t length) {
    Bytes bytes(length, 0xEE);
    if (!device.Read(reg, bytes.data(), length)) return {};
    return bytes;
}

bool WriteBytes(sim::I2cDevice& device, std::uint8_t reg, Bytes bytes) {
    return device.Write(reg, bytes.empty() ? nullptr : bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

TEST(Regulator2080Ti, FbvddAnswersOnlyItsVoltageRegisters) {
    Regulator2080Ti fbvdd(Regulator2080Ti::Rail::Fbvdd);
    EXPECT_EQ(ReadBytes(fbvdd, 0xE1, 2), (Bytes{0x88, 0x42}));
    EXPECT_EQ(ReadBytes(fbvdd, 0x21, 2), (Bytes{0xD8, 0x00}));
    EXPECT_EQ(ReadBytes(fbvdd, 0x8B, 2), (Bytes{0x5F, 0x05}));  // 1375 mV
    for (std::uint8_t reg : {0x24, 0x2A, 0xBD, 0x05, 0x1E, 0xEC, 0xEE, 0x44}) {
        EXPECT_TRUE(ReadBytes(fbvdd, reg, 1).empty()) << int{reg};
        EXPECT_FALSE(WriteBytes(fbvdd, reg, {0x00})) << int{reg};
    }
}

TEST(Regulator2080Ti, MeasuredVoltageFollowsTheMode) {
    Regulator2080Ti nvvdd(Regulator2080Ti::Rail::Nvvdd);
    nvvdd.SetGpuRequest(1100);
    EXPECT_EQ(nvvdd.Word(0x8B), 0u);  // computed when read, not before
    EXPECT_EQ(ReadBytes(nvvdd, 0x8B, 2), (Bytes{0x4C, 0x04}));

    ASSERT_TRUE(WriteBytes(nvvdd, 0xE1, {0x98, 0xE2}));
    EXPECT_TRUE(nvvdd.IsFixed());
    EXPECT_EQ(nvvdd.OutputMillivolts(), 1200);  // 0x21 still holds 192
    ASSERT_TRUE(WriteBytes(nvvdd, 0x21, {0xC1, 0x00}));
    EXPECT_EQ(nvvdd.OutputMillivolts(), 1206);  // 1206.25 mV, rounded down
    // The limit in 0x24 holds a higher setting down.
    ASSERT_TRUE(WriteBytes(nvvdd, 0x21, {0xF0, 0x00}));
    EXPECT_EQ(nvvdd.OutputMillivolts(), 1300);
    ASSERT_TRUE(WriteBytes(nvvdd, 0x24, {0x18, 0x01}));
    EXPECT_EQ(ReadBytes(nvvdd, 0x8B, 2), (Bytes{0xDC, 0x05}));  // 1500 mV

    ASSERT_TRUE(WriteBytes(nvvdd, 0xE1, {0x88, 0xC2}));
    EXPECT_EQ(nvvdd.OutputMillivolts(), 1100);

    Regulator2080Ti fbvdd(Regulator2080Ti::Rail::Fbvdd);
    ASSERT_TRUE(WriteBytes(fbvdd, 0xE1, {0x98, 0x42}));
    ASSERT_TRUE(WriteBytes(fbvdd, 0x21, {0xE4, 0x00}));
    EXPECT_EQ(fbvdd.OutputMillivolts(), 1450);  // (228 + 4) steps
}

TEST(Regulator2080Ti, RefusesWhatAPartWouldNotAcknowledge) {
    Regulator2080Ti nvvdd(Regulator2080Ti::Rail::Nvvdd);
    EXPECT_FALSE(WriteBytes(nvvdd, 0x8B, {0x00, 0x00}));  // measured, read only
    EXPECT_FALSE(WriteBytes(nvvdd, 0xE1, {0x98}));        // shorter than the register
    EXPECT_FALSE(WriteBytes(nvvdd, 0x1E, {0x17, 0x00}));  // longer than the register
    EXPECT_FALSE(WriteBytes(nvvdd, 0x05, {0x00}));        // the commit carries no data
    EXPECT_TRUE(ReadBytes(nvvdd, 0x05, 1).empty());
    EXPECT_FALSE(WriteBytes(nvvdd, 0x99, {0x00}));
    EXPECT_EQ(ReadBytes(nvvdd, 0xE1, 2), (Bytes{0x88, 0xC2}));
    EXPECT_EQ(ReadBytes(nvvdd, 0x1E, 1), (Bytes{0x31}));

    nvvdd.SetSilent(true);
    EXPECT_TRUE(ReadBytes(nvvdd, 0xE1, 2).empty());
    EXPECT_FALSE(WriteBytes(nvvdd, 0x05, {}));
}

TEST(Regulator2080Ti, NewFrequencyTakesEffectWithTheCommit) {
    Regulator2080Ti nvvdd(Regulator2080Ti::Rail::Nvvdd);
    ASSERT_TRUE(WriteBytes(nvvdd, 0xBD, {0x46, 0x00}));
    EXPECT_EQ(ReadBytes(nvvdd, 0xBD, 2), (Bytes{0x46, 0x00}));
    EXPECT_EQ(nvvdd.ActiveFrequency(), 40);
    ASSERT_TRUE(WriteBytes(nvvdd, 0x05, {}));
    EXPECT_EQ(nvvdd.ActiveFrequency(), 70);
}

struct SignCase {
    std::uint8_t stored, written;
    bool acknowledged;
};

TEST(OffsetDevice2080Ti, CrossesZeroOnlyBetweenTheTwoZeros) {
    const SignCase cases[] = {
        {0x02, 0x05, true},  {0x02, 0x00, true},  {0x00, 0x80, true},  {0x80, 0x83, true},
        {0x83, 0x80, true},  {0x80, 0x00, true},  {0x00, 0x02, true},  {0x84, 0x81, true},
        {0x02, 0x83, false}, {0x83, 0x02, false}, {0x00, 0x83, false}, {0x83, 0x00, false},
        {0x80, 0x02, false}, {0x02, 0x80, false},
    };
    for (const SignCase& c : cases) {
        for (std::uint8_t reg : {0x01, 0x02}) {
            SCOPED_TRACE(std::to_string(c.stored) + " to " + std::to_string(c.written));
            sim::OffsetDevice2080Ti device;
            device.Poke(reg, {c.stored});
            EXPECT_EQ(WriteBytes(device, reg, {c.written}), c.acknowledged);
            EXPECT_EQ(ReadBytes(device, reg, 1), (Bytes{c.acknowledged ? c.written : c.stored}));
        }
    }
}

TEST(OffsetDevice2080Ti, HoldsTwoSignedOffsets) {
    sim::OffsetDevice2080Ti device;
    EXPECT_EQ(ReadBytes(device, 0x01, 1), (Bytes{0x00}));
    EXPECT_EQ(ReadBytes(device, 0x02, 1), (Bytes{0x00}));
    for (std::uint8_t byte : {0x00, 0x80, 0x83}) ASSERT_TRUE(WriteBytes(device, 0x02, {byte}));
    EXPECT_EQ(device.Offset(0x02), -3);
    EXPECT_EQ(device.Offset(0x01), 0);
    EXPECT_FALSE(WriteBytes(device, 0x01, {0x01, 0x00}));
    EXPECT_FALSE(WriteBytes(device, 0x03, {0x01}));
    EXPECT_TRUE(ReadBytes(device, 0x03, 1).empty());
}

}  // namespace
