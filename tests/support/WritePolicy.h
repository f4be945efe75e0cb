#pragma once
// The write policy of the board controllers: whatever the user does and whatever the boards
// answer, the program writes only to the devices and registers its controllers are meant to write,
// and only voltages from the sliders' ranges or the few fixed values the boards need. Checked on a
// simulated machine's transfer log after a randomised session in the controller window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boards/McuHandshake.h"
#include "headless/HeadlessDialogFramework.h"
#include "res/ControlIds.h"
#include "sim/ArbitraryDevice.h"
#include "sim/SimMachine.h"

namespace write_policy {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Controller { None, Mcu, Direct, Rtx2080Ti };

inline unsigned Word(const Bytes& b) { return b.size() == 2 ? static_cast<unsigned>(b[0] | (b[1] << 8)) : 0x10000u; }
inline bool In(unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; }
inline bool OneOf(const Bytes& b, std::initializer_list<Bytes> allowed) {
    for (const Bytes& a : allowed)
        if (a == b) return true;
    return false;
}
inline bool Size(const Bytes& b, std::size_t n) { return b.size() == n; }
// A sign-magnitude offset byte within [lo, hi], or one of the two zeros a sign change passes.
inline bool Offset(const Bytes& b, int lo, int hi) {
    if (!Size(b, 1)) return false;
    if (b[0] == 0x00 || b[0] == 0x80) return true;
    const int o = b[0] & 0x80 ? -(b[0] & 0x7F) : b[0];
    return o >= lo && o <= hi;
}

// A transfer on port 1 of GPU 0, as the simulator's log holds it.
inline sim::LogEntry Transfer(sim::LogEntry::Kind kind, std::uint8_t device, std::uint8_t reg, Bytes bytes,
                              bool ok = true) {
    sim::LogEntry e;
    e.kind = kind;
    e.port = 1;
    e.portSet = true;
    e.device = device;
    e.reg = reg;
    e.length = static_cast<std::uint32_t>(bytes.size());
    e.bytes = std::move(bytes);
    e.status = ok ? nvapi::NVAPI_OK : nvapi::NVAPI_I2C_FAILED;
    return e;
}

using Rule = std::function<bool(const Bytes&)>;
using Rules = std::map<std::pair<std::uint8_t, std::uint8_t>, Rule>;  // (device, register)

inline const Rules& RulesFor(Controller c) {
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
        const Rule frequency = [](const Bytes& b) { return In(Word(b), 30, 100) && Word(b) % 10 == 0; };
        for (std::uint8_t d : {0x40, 0x7C}) {
            r[{d, 0x24}] = [](const Bytes& b) { return Word(b) == 256 || Word(b) == 208; };
            r[{d, 0x21}] = [](const Bytes& b) { return In(Word(b), 128, 256); };
            r[{d, 0xBD}] = frequency;
            r[{d, 0x05}] = [](const Bytes& b) { return b == Bytes{0}; };
            r[{d, 0x06}] = [](const Bytes& b) { return Size(b, 1) && b[0] % 8 == 0 && b[0] <= 0x18; };
            r[{d, 0x6A}] = [](const Bytes& b) { return Word(b) == 355 || Word(b) == 675; };
        }
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

// The direct RTX 3080 Ti controller rewrites these registers from the read right before the
// write; given those bytes, the only writes its masks allow.
using Rewrite = std::function<std::vector<Bytes>(const Bytes& read)>;

inline const std::map<std::pair<std::uint8_t, std::uint8_t>, Rewrite>& DirectRewrites() {
    static const std::map<std::pair<std::uint8_t, std::uint8_t>, Rewrite> rewrites = [] {
        std::map<std::pair<std::uint8_t, std::uint8_t>, Rewrite> r;
        auto b = [](int v) { return static_cast<std::uint8_t>(v); };
        for (std::uint8_t d : {0x40, 0x7C}) {
            // Fixed: byte 0 bit 4 and byte 1 bit 5 together; automatic: both cleared.
            r[{d, 0xE1}] = [b](const Bytes& x) {
                return std::vector<Bytes>{{b(x[0] | 0x10), b(x[1] | 0x20)}, {b(x[0] & 0xEF), b(x[1] & 0xDF)}};
            };
            // OCP: byte 1 bits 5-6 become 01 (enabled) or 00.
            r[{d, 0xEC}] = [b](const Bytes& x) {
                return std::vector<Bytes>{{x[0], b((x[1] & 0x9F) | 0x20)}, {x[0], b(x[1] & 0x9F)}};
            };
            r[{d, 0x44}] = [b](const Bytes& x) {
                return std::vector<Bytes>{{x[0], b(x[1] | 0x08)}, {x[0], b(x[1] & 0xF7)}};
            };
            // Byte 0 bits 6-7 become 01 (enabled) or 00.
            r[{d, 0xEE}] = [b](const Bytes& x) {
                return std::vector<Bytes>{{b((x[0] & 0x3F) | 0x40), x[1]}, {b(x[0] & 0x3F), x[1]}};
            };
            // Loadline: bits 7, 6 and 4 kept, bit 5 cleared, bits 0-3 the level.
            r[{d, 0x1E}] = [b](const Bytes& x) {
                std::vector<Bytes> levels;
                for (int level = 0; level <= 15; ++level) levels.push_back({b((x[0] & 0xD0) | level)});
                return levels;
            };
        }
        // The memory rail is only ever switched to its fixed value, byte 1 untouched.
        r[{0x44, 0xE1}] = [b](const Bytes& x) {
            return (x[0] & 0x10) ? std::vector<Bytes>{} : std::vector<Bytes>{{b(x[0] | 0x10), x[1]}};
        };
        return r;
    }();
    return rewrites;
}

// Which OCP selections (-1 for a typed list, 0, 1) one write of an OCP sequence stands for; a
// pattern no selection gives is the rewrite rules' to report, so it agrees with any.
inline std::set<int> OcpSelectionsOf(std::uint8_t reg, const Bytes& w) {
    const std::set<int> any = {-1, 0, 1};
    switch (reg) {
    case 0xEC: return (w[1] & 0x60) == 0x20 ? std::set<int>{1} : (w[1] & 0x60) == 0 ? std::set<int>{-1, 0} : any;
    case 0x44: return (w[1] & 0x08) ? std::set<int>{-1, 1} : std::set<int>{0};
    case 0xEE: return (w[0] & 0xC0) == 0x40 ? std::set<int>{1} : (w[0] & 0xC0) == 0 ? std::set<int>{-1, 0} : any;
    case 0x6A: return Word(w) == 355 ? std::set<int>{-1, 1} : Word(w) == 675 ? std::set<int>{0} : any;
    }
    return any;
}

// Every write of the log checked against what its board's controller may write; one line per
// write that breaks a rule.
inline std::vector<std::string> Violations(const std::vector<sim::LogEntry>& log, const std::map<std::uint32_t, Controller>& kinds) {
    std::vector<std::string> found;
    const auto handshake = mcu::HandshakeBytes();
    const sim::LogEntry* previous = nullptr;  // the transfer before, pauses skipped
    // The OCP sequence in progress: whether there is one, its GPU and regulator, and the selections
    // its writes agree on. Not an optional pair: GCC 12 at -O3 warns that comparing one may read it
    // uninitialised.
    bool inOcp = false;
    std::pair<std::uint32_t, std::uint8_t> ocpOf{};
    std::set<int> ocpSelections;
    for (const sim::LogEntry& e : log) {
        if (e.kind == sim::LogEntry::Kind::Pause) continue;
        const std::string what = sim::TransferLog::Format(e);
        const Controller kind = kinds.count(e.gpu) ? kinds.at(e.gpu) : Controller::None;
        const bool ocpRegister = kind == Controller::Direct && (e.device == 0x40 || e.device == 0x7C) &&
                                 (e.reg == 0xEC || e.reg == 0x44 || e.reg == 0xEE || e.reg == 0x6A);
        if (!ocpRegister || ocpOf != std::make_pair(e.gpu, e.device)) inOcp = false;
        if (ocpRegister && !inOcp) {
            inOcp = true;
            ocpOf = std::make_pair(e.gpu, e.device);
            ocpSelections = {-1, 0, 1};
        }

        if (e.kind == sim::LogEntry::Kind::Write) {
            if (e.device == 0x5A && e.reg == 0xB2) {
                if (e.bytes != Bytes(handshake.begin(), handshake.end())) found.push_back("not the handshake: " + what);
            } else if (!(e.port == 1 && e.portSet)) {
                found.push_back("not on port 1: " + what);
            } else if (auto rewrite = DirectRewrites().find({e.device, e.reg});
                       kind == Controller::Direct && rewrite != DirectRewrites().end()) {
                const bool readFirst = previous && previous->kind == sim::LogEntry::Kind::Read && previous->ok() &&
                                       previous->gpu == e.gpu && previous->device == e.device && previous->reg == e.reg &&
                                       previous->bytes.size() == e.bytes.size();
                if (!readFirst) {
                    found.push_back("not right after its own read: " + what);
                } else {
                    const std::vector<Bytes> allowed = rewrite->second(previous->bytes);
                    if (std::find(allowed.begin(), allowed.end(), e.bytes) == allowed.end())
                        found.push_back("not what the read " + sim::TransferLog::Format(*previous) + " allows: " + what);
                }
            } else {
                const Rules& rules = RulesFor(kind);
                auto rule = rules.find({e.device, e.reg});
                if (rule == rules.end()) found.push_back("write to a register its controller never writes: " + what);
                else if (!rule->second(e.bytes)) found.push_back("value out of bounds: " + what);
            }
            // The loadline step follows the level just written.
            if (kind == Controller::Direct && e.reg == 0x06 && previous && previous->kind == sim::LogEntry::Kind::Write &&
                previous->ok() && previous->gpu == e.gpu && previous->device == e.device && previous->reg == 0x1E &&
                e.bytes.size() == 1) {
                const std::uint8_t steps[] = {0x00, 0x08, 0x10, 0x18};
                if (e.bytes[0] != steps[(previous->bytes.at(0) & 0x0F) / 4])
                    found.push_back("step for another level than " + sim::TransferLog::Format(*previous) + ": " + what);
            }
            if (ocpRegister && e.bytes.size() == 2) {
                std::set<int> agreed;
                for (int selection : OcpSelectionsOf(e.reg, e.bytes))
                    if (ocpSelections.count(selection)) agreed.insert(selection);
                if (agreed.empty()) found.push_back("OCP write that contradicts the ones before it: " + what);
                ocpSelections = agreed.empty() ? OcpSelectionsOf(e.reg, e.bytes) : agreed;
                if (e.reg == 0x6A) inOcp = false;
            }
        }
        previous = &e;
    }
    return found;
}

inline const char* kKeys[] = {"AUTO", "NVVDD", "FBVDD", "MSVDD", "NVPWM", "MSPWM", "NVLL", "MSLL", "NVOCP", "MSOCP", "SYNC", "nvvdd", " NVVDD"};

inline std::string RandomValue(std::mt19937& random) {
    switch (random() % 6) {
    case 0: return std::to_string(random() % 400);
    case 1: return std::to_string(random());
    case 2: return "-" + std::to_string(random() % 1000);
    case 3: return "99999999999999";
    case 4: return "abc";
    default: return std::to_string(random() % 20);
    }
}

inline std::string RandomProfile(std::mt19937& random) {
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

// Which controller detection gave each GPU, read off the traffic and the identities.
inline std::map<std::uint32_t, Controller> Controllers(const sim::SimMachine& machine) {
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
inline void CheckWrites(const sim::SimMachine& machine, const std::string& context) {
    for (const std::string& violation : Violations(machine.Log().Entries(), Controllers(machine)))
        ADD_FAILURE() << context << ": " << violation;
}

// A user at work for up to `steps` actions: sliders, lists, Auto, Sync, Apply, Default, Load of a
// garbled Profile.ini in profileDir, Save; meanwhile transfers fail and devices answer noise.
inline void PlayRandomSession(HeadlessDialog& window, std::mt19937& random, sim::SimMachine& machine,
                              const fs::path& profileDir, int steps) {
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
            std::ofstream(profileDir / "Profile.ini", std::ios::binary) << RandomProfile(random);
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
}

}  // namespace write_policy
