// Whatever the user does and whatever the boards answer, the program writes only to the devices
// and registers its board controllers are meant to write, and only voltages from the sliders'
// ranges or the few fixed values the boards need. Randomised, bounded and seeded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/HeadlessDialogFramework.h"
#include "boards/ControlIds.h"
#include "boards/McuHandshake.h"
#include "sim/ArbitraryDevice.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "support/BoardFixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Controller { None, Mcu, Direct, Rtx2080Ti };

unsigned Word(const Bytes& b) { return b.size() == 2 ? static_cast<unsigned>(b[0] | (b[1] << 8)) : 0x10000u; }
bool In(unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; }
bool OneOf(const Bytes& b, std::initializer_list<Bytes> allowed) {
    for (const Bytes& a : allowed)
        if (a == b) return true;
    return false;
}
bool Size(const Bytes& b, std::size_t n) { return b.size() == n; }
// A sign-magnitude offset byte within [lo, hi], or one of the two zeros a sign change passes.
bool Offset(const Bytes& b, int lo, int hi) {
    if (!Size(b, 1)) return false;
    if (b[0] == 0x00 || b[0] == 0x80) return true;
    const int o = b[0] & 0x80 ? -(b[0] & 0x7F) : b[0];
    return o >= lo && o <= hi;
}

using Rule = std::function<bool(const Bytes&)>;
using Rules = std::map<std::pair<std::uint8_t, std::uint8_t>, Rule>;  // (device, register)

const Rules& RulesFor(Controller c) {
    // MCU writes: a count byte, then the values.
    static const Rules mcu = [] {
        Rules r;
        const Rule rail = [](const Bytes& b) {
            return Size(b, 4) && b[0] == 3 && ((b[1] == 1 && In(Word({b[2], b[3]}), 128, 256)) || Bytes(b) == Bytes{3, 0, 0, 0});
        };
        r[{0x5A, 0x10}] = rail;
        r[{0x5A, 0x14}] = rail;
        r[{0x5A, 0x18}] = [](const Bytes& b) { return Size(b, 4) && b[0] == 3 && b[1] == 1 && In(Word({b[2], b[3]}), 192, 248); };
        for (std::uint8_t reg : {0x11, 0x15}) r[{0x5A, reg}] = [](const Bytes& b) { return Size(b, 2) && b[0] == 1 && b[1] <= 15; };
        for (std::uint8_t reg : {0x12, 0x16}) r[{0x5A, reg}] = [](const Bytes& b) { return Size(b, 2) && b[0] == 1 && b[1] <= 1; };
        for (std::uint8_t reg : {0x13, 0x17}) r[{0x5A, reg}] = [](const Bytes& b) { return Size(b, 2) && b[0] == 1 && In(b[1], 3, 10); };
        return r;
    }();
    static const Rules direct = [] {
        Rules r;
        const Rule readModifyWrite2 = [](const Bytes& b) { return Size(b, 2); };
        const Rule frequency = [](const Bytes& b) { return In(Word(b), 30, 100) && Word(b) % 10 == 0; };
        for (std::uint8_t d : {0x40, 0x7C}) {
            r[{d, 0x24}] = [](const Bytes& b) { return Word(b) == 256 || Word(b) == 208; };
            r[{d, 0x21}] = [](const Bytes& b) { return In(Word(b), 128, 256); };
            r[{d, 0xE1}] = readModifyWrite2;
            r[{d, 0xBD}] = frequency;
            r[{d, 0x05}] = [](const Bytes& b) { return b == Bytes{0}; };
            r[{d, 0x1E}] = [](const Bytes& b) { return Size(b, 1); };
            r[{d, 0x06}] = [](const Bytes& b) { return Size(b, 1) && b[0] % 8 == 0 && b[0] <= 0x18; };
            r[{d, 0xEC}] = readModifyWrite2;
            r[{d, 0x44}] = readModifyWrite2;
            r[{d, 0xEE}] = readModifyWrite2;
            r[{d, 0x6A}] = [](const Bytes& b) { return Word(b) == 355 || Word(b) == 675; };
        }
        r[{0x44, 0xE1}] = readModifyWrite2;
        r[{0x44, 0x21}] = [](const Bytes& b) { return In(Word(b), 192, 248); };
        return r;
    }();
    static const Rules rtx2080 = [] {
        Rules r;
        r[{0x40, 0x2A}] = [](const Bytes& b) { return OneOf(b, {{0x01, 0x00}, {0x20, 0x3A}, {0x20, 0x02}, {0x20, 0x1A}}); };
        r[{0x40, 0x21}] = [](const Bytes& b) { return In(Word(b), 128, 256); };
        r[{0x40, 0x24}] = [](const Bytes& b) { return Word(b) == 208 || Word(b) == 280; };
        r[{0x40, 0xE1}] = [](const Bytes& b) { return OneOf(b, {{0x88, 0xC2}, {0x98, 0xE2}}); };
        r[{0x40, 0xBD}] = [](const Bytes& b) { return In(Word(b), 30, 100) && Word(b) % 10 == 0; };
        r[{0x40, 0x05}] = [](const Bytes& b) { return b.empty(); };
        r[{0x40, 0x1E}] = [](const Bytes& b) {
            return OneOf(b, {{0x31}, {0x10}, {0x12}, {0x14}, {0x16}, {0x17}, {0x18}, {0x19}, {0x1A}, {0x1B}, {0x1D}, {0x1F}});
        };
        r[{0x40, 0x2B}] = [](const Bytes& b) { return OneOf(b, {{0x1F}, {0x00}}); };
        r[{0x40, 0x06}] = [](const Bytes& b) { return OneOf(b, {{0x00}, {0x08}, {0x10}, {0x18}}); };
        r[{0x40, 0xEC}] = [](const Bytes& b) { return OneOf(b, {{0x41, 0x23}, {0x41, 0x03}}); };
        r[{0x40, 0xEE}] = [](const Bytes& b) { return OneOf(b, {{0x1F, 0x14}, {0x5F, 0x54}, {0x54, 0x5F}, {0x14, 0x1F}}); };
        r[{0x40, 0x44}] = [](const Bytes& b) { return OneOf(b, {{0x0B, 0x0C}, {0x0B, 0x06}}); };
        r[{0x44, 0xE1}] = [](const Bytes& b) { return Size(b, 2); };
        r[{0x44, 0x21}] = [](const Bytes& b) { return In(Word(b), 192 - 4, 280 - 4); };  // holds the code minus 4
        r[{0x24, 0x01}] = [](const Bytes& b) { return Offset(b, -1, 3); };
        r[{0x24, 0x02}] = [](const Bytes& b) { return Offset(b, -4, 15); };
        return r;
    }();
    static const Rules none;
    switch (c) {
    case Controller::Mcu: return mcu;
    case Controller::Direct: return direct;
    case Controller::Rtx2080Ti: return rtx2080;
    case Controller::None: break;
    }
    return none;
}

const char* kKeys[] = {"AUTO", "NVVDD", "FBVDD", "MSVDD", "NVPWM", "MSPWM", "NVLL", "MSLL", "NVOCP", "MSOCP", "SYNC", "nvvdd", " NVVDD"};

std::string RandomValue(std::mt19937& random) {
    switch (random() % 6) {
    case 0: return std::to_string(random() % 400);
    case 1: return std::to_string(random());
    case 2: return "-" + std::to_string(random() % 1000);
    case 3: return "99999999999999";
    case 4: return "abc";
    default: return std::to_string(random() % 20);
    }
}

std::string RandomProfile(std::mt19937& random) {
    std::ostringstream text;
    if (random() % 4 == 0) text << "[Other]\r\nA=1\r\n";
    text << (random() % 5 == 0 ? "[rtx3080tizyl]" : "[RTX3080TiZYL]") << (random() % 2 ? "\r\n" : "\n");
    const int lines = static_cast<int>(random() % 14);
    for (int i = 0; i < lines; ++i) {
        if (random() % 10 == 0) {
            for (int j = 0; j < 12; ++j) text << static_cast<char>(random() % 256);
            text << "\n";
            continue;
        }
        text << kKeys[random() % (sizeof kKeys / sizeof *kKeys)] << "=" << RandomValue(random) << "\r\n";
    }
    return text.str();
}

class NoOtherInstance final : public ProcessServices {
public:
    void InitCommonControls() override {}
    bool AcquireInstanceLock(const std::wstring&) override { return true; }
    void ReleaseInstanceLock() override {}
    void RaiseRunningInstance(const std::wstring&) override {}
    std::wstring ApplicationName() const override { return L"HalvornController"; }
};

class SafetyTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "halvorn-safety-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        std::error_code error;
        fs::current_path(previous_, error);
        fs::remove_all(dir_, error);
        SimFixture::TearDown();
    }

    // Which controller detection gave each GPU, read off the traffic and the identities.
    std::map<std::uint32_t, Controller> Controllers() const {
        std::map<std::uint32_t, Controller> kinds;
        const auto handshake = mcu::HandshakeBytes();
        for (std::uint32_t g = 0; g < machine.Gpus().size(); ++g) {
            const sim::SimGpu& gpu = machine.Gpus()[g];
            Controller kind = Controller::None;
            const std::uint32_t device = gpu.subsystemId.value_or(0) >> 16;
            if (device == 0x3998) kind = Controller::Direct;
            else if (device == 0x2589 || gpu.subsystemId.value_or(0) == 0x12FA10DE) kind = Controller::Rtx2080Ti;
            for (const sim::LogEntry& e : machine.Log().Entries())
                if (e.gpu == g && e.kind == sim::LogEntry::Kind::Write && e.device == 0x5A && e.reg == 0xB2 && e.ok() &&
                    e.bytes == Bytes(handshake.begin(), handshake.end()))
                    kind = Controller::Mcu;
            kinds[g] = kind;
        }
        return kinds;
    }

    // Every write, checked against what its board's controller may write.
    void CheckWrites(std::uint32_t seed) {
        const auto kinds = Controllers();
        const auto handshake = mcu::HandshakeBytes();
        for (const sim::LogEntry& e : machine.Log().Entries()) {
            if (e.kind != sim::LogEntry::Kind::Write) continue;
            const std::string what = "seed " + std::to_string(seed) + ": " + sim::TransferLog::Format(e);
            if (e.device == 0x5A && e.reg == 0xB2) {
                EXPECT_EQ(e.bytes, Bytes(handshake.begin(), handshake.end())) << what;
                continue;
            }
            EXPECT_TRUE(e.port == 1 && e.portSet) << what;
            const Rules& rules = RulesFor(kinds.at(e.gpu));
            auto rule = rules.find({e.device, e.reg});
            if (rule == rules.end()) {
                ADD_FAILURE() << "write to a register its controller never writes: " << what;
                continue;
            }
            EXPECT_TRUE(rule->second(e.bytes)) << "value out of bounds: " << what;
        }
    }

    void RunSession(std::uint32_t seed) {
        std::mt19937 random(seed);
        machine = sim::SimMachine();
        sim::LoadDefaultScenario(machine);
        // Some runs start with a board that answers nonsense or a transfer that fails at start-up.
        if (random() % 3 == 0) machine.FailTransferAt(1 + random() % 12);

        HeadlessDialogFramework framework;
        NoOtherInstance services;
        sim::MachineSleeper sleeper(machine);
        const int steps = 40;
        framework.AddSession([&](HeadlessDialog& window) {
            const int sliders[] = {ctl::kRow1Slider, ctl::kRow2Slider, ctl::kRow3Slider, ctl::kRow4Slider, ctl::kRow5Slider};
            const int lists[] = {ctl::kList1Left, ctl::kList2Left, ctl::kList3Left, ctl::kList1Right, ctl::kList2Right, ctl::kList3Right};
            std::map<std::pair<std::uint32_t, std::pair<std::uint8_t, std::uint8_t>>, std::shared_ptr<sim::I2cDevice>> replaced;
            for (int step = 0; step < steps && window.IsRunning(); ++step) {
                switch (random() % 14) {
                case 0: window.SelectItem(ctl::kDeviceList, static_cast<int>(random() % 4)); break;
                case 1:
                case 2: window.MoveSlider(sliders[random() % 5], static_cast<int>(random() % 300) - 20); break;
                case 3: window.SelectItem(lists[random() % 6], static_cast<int>(random() % 18)); break;
                case 4: window.TypeText(lists[random() % 6], L"Level 3"); break;
                case 5: window.Click(ctl::kAuto); break;
                case 6: window.Click(ctl::kSync); break;
                case 7:
                case 8: window.Click(ctl::kApply); break;
                case 9: window.Click(ctl::kDefault); break;
                case 10: {
                    std::ofstream(dir_ / "Profile.ini", std::ios::binary) << RandomProfile(random);
                    window.Click(ctl::kLoad);
                    break;
                }
                case 11: window.Click(ctl::kSave); break;
                case 12: machine.FailTransferAt(1 + random() % 40); break;
                case 13: {
                    // A device starts or stops answering with noise.
                    sim::SimGpu& gpu = machine.Gpus()[random() % machine.Gpus().size()];
                    if (gpu.devices.empty()) break;
                    auto it = gpu.devices.begin();
                    std::advance(it, static_cast<long>(random() % gpu.devices.size()));
                    const auto key = std::make_pair(static_cast<std::uint32_t>(&gpu - machine.Gpus().data()), it->first);
                    if (auto old = replaced.find(key); old != replaced.end()) {
                        it->second = old->second;
                        replaced.erase(old);
                    } else {
                        replaced[key] = it->second;
                        it->second = std::make_shared<sim::ArbitraryDevice>(static_cast<std::uint32_t>(random()), it->second);
                    }
                    break;
                }
                }
            }
        });
        CHalvornApp app(framework, services, sleeper, {});
        app.InitInstance();
        CheckWrites(seed);
    }

private:
    fs::path previous_;
    fs::path dir_;
};

// The sessions to run: 300 from seed 1 unless HALVORN_SAFETY_SEED (the first seed) or
// HALVORN_SAFETY_SESSIONS (how many) say otherwise; the README shows a long run.
struct SeedRange {
    std::uint64_t first = 1;
    std::uint64_t count = 300;
};

// False, with the reason, for a value that is not a whole decimal number from `min` to `max`.
bool EnvironmentNumber(const char* name, std::uint64_t min, std::uint64_t max, std::uint64_t& value,
                       std::string& error) {
    const char* text = std::getenv(name);
    if (text == nullptr) return true;
    std::uint64_t number = 0;
    bool digits = false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || number > (max - static_cast<std::uint64_t>(*c - '0')) / 10) {
            digits = false;
            break;
        }
        number = number * 10 + static_cast<std::uint64_t>(*c - '0');
        digits = true;
    }
    if (!digits || number < min) {
        error = std::string(name) + "=" + text + " is not a number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return false;
    }
    value = number;
    return true;
}

TEST_F(SafetyTest, RandomSessionsWriteOnlyWhatTheBoardsAllow) {
    constexpr std::uint64_t kLastSeed = UINT32_MAX;
    SeedRange seeds;
    std::string error;
    ASSERT_TRUE(EnvironmentNumber("HALVORN_SAFETY_SEED", 0, kLastSeed, seeds.first, error)) << error;
    ASSERT_TRUE(EnvironmentNumber("HALVORN_SAFETY_SESSIONS", 1, kLastSeed - seeds.first + 1, seeds.count, error))
        << error;

    // Each failed check is one violation; a failing session still lets the rest run.
    const ::testing::TestResult& result = *::testing::UnitTest::GetInstance()->current_test_info()->result();
    const auto failedChecks = [&result] {
        std::size_t failed = 0;
        for (int i = 0; i < result.total_part_count(); ++i) failed += result.GetTestPartResult(i).failed() ? 1 : 0;
        return failed;
    };
    constexpr std::size_t kSeedsShown = 1000;
    std::size_t writes = 0;
    std::size_t violations = 0;
    std::vector<std::uint64_t> failingSeeds;
    for (std::uint64_t seed = seeds.first; seed < seeds.first + seeds.count; ++seed) {
        const std::size_t before = failedChecks();
        RunSession(static_cast<std::uint32_t>(seed));
        writes += machine.Log().Writes().size();
        const std::size_t found = failedChecks() - before;
        if (found == 0) continue;
        violations += found;
        // The first failing session's transfers; the later ones repeat with their seed.
        if (failingSeeds.empty()) ADD_FAILURE() << "first failing seed: " << seed << "\n" << machine.Log().Dump();
        failingSeeds.push_back(seed);
    }
    std::ostringstream summary;
    summary << seeds.count << " sessions from seed " << seeds.first << ": " << violations << " violations in "
            << failingSeeds.size() << " sessions";
    for (std::size_t i = 0; i < failingSeeds.size() && i < kSeedsShown; ++i)
        summary << (i == 0 ? "; failing seeds: " : ", ") << failingSeeds[i];
    if (failingSeeds.size() > kSeedsShown) summary << " and " << failingSeeds.size() - kSeedsShown << " more";
    std::cout << summary.str() << std::endl;
    EXPECT_TRUE(failingSeeds.empty()) << summary.str();
    // The sessions must have reached the boards, or the check above proves nothing.
    EXPECT_GT(writes, seeds.count);
}

}  // namespace
