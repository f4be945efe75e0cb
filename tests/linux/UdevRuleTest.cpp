// The udev rule that opens the NVIDIA adapters to one group: its name pattern, fed adapter names
// as the kernel gives them, matches the NVIDIA driver's adapters and nothing else.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/LinuxNvApi.h"

namespace linux_test {
namespace {

std::vector<std::string> RuleLines(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

// KEY=="value" matches and KEY="value" assignments of one rule line.
std::map<std::string, std::string> Fields(const std::string& rule, const char* op) {
    std::map<std::string, std::string> fields;
    const std::regex field(std::string(R"re(([A-Z]+(\{[a-z_]+\})?)\s*)re") + op + R"re(\s*"([^"]*)")re");
    for (std::sregex_iterator it(rule.begin(), rule.end(), field), end; it != end; ++it)
        fields[(*it)[1]] = (*it)[3];
    return fields;
}

class UdevRuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<std::string> lines = RuleLines(HALVORN_UDEV_RULE);
        ASSERT_EQ(lines.size(), 1u) << "one rule";
        matches = Fields(lines[0], "==");
        assignments = Fields(lines[0], "=");
        ASSERT_EQ(matches.count("ATTR{name}"), 1u);
        pattern = matches["ATTR{name}"];
    }
    bool Matches(const std::string& name) const { return fnmatch(pattern.c_str(), name.c_str(), 0) == 0; }

    std::map<std::string, std::string> matches, assignments;
    std::string pattern;
};

TEST_F(UdevRuleTest, OnlyTheNvidiaDriversAdaptersMatch) {
    const std::map<std::string, bool> names = {
        {"NVIDIA i2c adapter 1 at a:00.0", true},
        {"NVIDIA i2c adapter 3 at 65:00.0", true},
        {"NVIDIA i2c adapter 12 at 1:00.1", true},
        {"SMBus I801 adapter at efa0", false},
        {"SMBus PIIX4 adapter port 0 at 0b00", false},
        {"i915 gmbus dpc", false},
        {"AUX B/DDI B/PHY B", false},
        {"AMDGPU DM i2c hw bus 0", false},
        {"nvkm-0000:01:00.0-bus-0005", false},  // nouveau
        {"Synopsys DesignWare I2C adapter", false},
        {"nvidia i2c adapter 1 at a:00.0", false},
        {" NVIDIA i2c adapter 1 at a:00.0", false},
        {"NVIDIA i2c adapter", false},
        {"NVIDIA I2C adapter 1 at a:00.0", false},
    };
    for (const auto& [name, expected] : names) EXPECT_EQ(Matches(name), expected) << '"' << name << '"';
}

TEST_F(UdevRuleTest, TheRuleGivesTheDeviceNodesToTheGroupTheProgramNames) {
    EXPECT_EQ(matches["SUBSYSTEM"], "i2c-dev");
    EXPECT_EQ(assignments["GROUP"], linuxnv::kAccessGroup);
    EXPECT_EQ(assignments["MODE"], "0660");
}

TEST(ModulesLoadTest, LoadsI2cDevAtStart) {
    EXPECT_EQ(RuleLines(HALVORN_MODULES_LOAD), std::vector<std::string>{"i2c-dev"});
}

}  // namespace
}  // namespace linux_test
