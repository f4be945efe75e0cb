// Every plan Apply can make, checked against the write policy: for each family and each item, every
// reading the item's registers can hold (every value of their bytes where that is at most 65,536
// readings, else each byte through all its values and each word through its boundaries and a
// dense low range) against every value a user can ask (each slider step and list entry, and the
// out-of-range values a profile may hold, as Load takes them). Each case runs the item's Apply on
// a board of its own and checks that
// - every write goes to a register the family writes, with bytes the policy allows, and a
//   read-modify-write follows its own read;
// - the item is read before anything is written, and a board that already holds the value gets
//   nothing;
// - what was written reads back as the value: a second Apply writes nothing;
// - the MCU gets its 100 ms after every write, the regulators no pause at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx2080TiProtocol.h"
#include "boards/Rtx3080TiFamily.h"
#include "boards/Rtx3080TiMcuProtocol.h"
#include "boards/Rtx3080TiRegulatorProtocol.h"
#include "model/BoardJob.h"
#include "sim/Boards.h"
#include "sim/Mcu3080Ti.h"
#include "sim/SimMachine.h"
#include "support/StubBus.h"
#include "support/WritePolicy.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using write_policy::Controller;

// A regulator or offset device as plain registers: what is written is what is read, and a
// register never written reads as it was set.
class RegisterFile final : public sim::I2cDevice {
public:
    bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        const Bytes& value = registers[reg];
        for (std::uint32_t i = 0; i < length; ++i) data[i] = i < value.size() ? value[i] : 0;
        return true;
    }
    bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        if (length != 0) registers[reg].assign(data, data + length);
        return true;
    }
    std::map<std::uint8_t, Bytes> registers;
};

// The board's bus and the sleeper of its job, recording as the simulator's log does.
class ChipBus final : public BoardBus, public Sleeper {
public:
    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        const auto chip = chips.find(device);
        const bool ok = chip != chips.end() && chip->second->Read(reg, data, length);
        Record(sim::LogEntry::Kind::Read, device, reg, ok ? Bytes(data, data + length) : Bytes{}, ok);
        return ok;
    }
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        const auto chip = chips.find(device);
        const bool ok = chip != chips.end() && chip->second->Write(reg, data, length);
        Record(sim::LogEntry::Kind::Write, device, reg, Bytes(data, data + length), ok);
        return ok;
    }
    void Sleep(unsigned ms) override {
        sim::LogEntry pause;
        pause.kind = sim::LogEntry::Kind::Pause;
        pause.pauseMs = ms;
        log.push_back(pause);
    }

    std::map<std::uint8_t, std::shared_ptr<sim::I2cDevice>> chips;
    std::vector<sim::LogEntry> log;

private:
    void Record(sim::LogEntry::Kind kind, std::uint8_t device, std::uint8_t reg, Bytes bytes, bool ok) {
        log.push_back(write_policy::Transfer(kind, device, reg, std::move(bytes), ok));
    }
};

// One byte of a register whose values the sweep runs through.
struct Swept {
    std::uint8_t device, reg, index;
};

// A board holding one reading: the power-on registers with the swept bytes set.
using Reading = std::vector<std::uint8_t>;  // one byte per Swept entry

struct Family {
    const char* name;
    Controller controller;
    std::uint32_t pauseAfterWrite;
    // The board at power-on: its devices and their registers.
    std::function<void(ChipBus&)> powerOn;
    // The register's bytes on the board.
    std::function<Bytes(ChipBus&, std::uint8_t device, std::uint8_t reg)> get;
    std::function<void(ChipBus&, std::uint8_t device, std::uint8_t reg, Bytes)> set;
    // Apply of one item to value on the bus; the job's transfers and pauses go to the bus's log.
    std::function<void(ChipBus&, int item, std::int32_t value)> apply;
};

// Apply of one item by the family's board on the bus.
template <typename Family, typename Protocol>
void ApplyOne(ChipBus& bus, typename Family::Item item, std::int32_t value) {
    Settings<typename Family::Item> wanted;
    wanted[item] = Setting::Of(value);
    auto onto = std::make_unique<BusOnto>(bus);
    auto protocol = std::make_unique<Protocol>(*onto);
    const FamilyBoard<Family> board(std::move(onto), std::move(protocol));
    RunToEnd(*board.Apply(wanted), bus);
}

Family McuFamily() {
    Family f{"RTX 3080 Ti through its MCU", Controller::Mcu, 100, {}, {}, {}, {}};
    f.powerOn = [](ChipBus& bus) {
        auto mcu = std::make_shared<sim::Mcu3080Ti>();
        mcu->SetLocked(false);  // the handshake of detection came before
        bus.chips[0x5A] = mcu;
    };
    f.get = [](ChipBus& bus, std::uint8_t device, std::uint8_t reg) {
        return static_cast<sim::RegisterDevice&>(*bus.chips.at(device)).Value(reg);
    };
    f.set = [](ChipBus& bus, std::uint8_t device, std::uint8_t reg, Bytes bytes) {
        static_cast<sim::RegisterDevice&>(*bus.chips.at(device)).Poke(reg, std::move(bytes));
    };
    f.apply = [](ChipBus& bus, int item, std::int32_t value) {
        ApplyOne<Rtx3080TiFamily, Rtx3080TiMcuProtocol>(bus, static_cast<rtx3080ti::Item>(item), value);
    };
    return f;
}

// Registers of plain devices, their power-on values taken from the simulator's chips.
Family RegisterFamily(const char* name, Controller controller, sim::BoardKind kind,
                      std::function<void(ChipBus&, int, std::int32_t)> apply) {
    Family f{name, controller, 0, {}, {}, {}, std::move(apply)};
    using Registers = std::map<std::uint8_t, std::map<std::uint8_t, Bytes>>;
    const auto powerOn = std::make_shared<const Registers>([kind] {
            sim::SimMachine machine;
            sim::SimGpu& gpu = machine.AddGpu(0x100, "board");
            sim::AttachBoard(gpu, kind);
            Registers registers;
            for (const auto& [key, chip] : gpu.devices) {
                auto* device = dynamic_cast<sim::RegisterDevice*>(chip.get());
                if (!device) continue;
                for (unsigned reg = 0; reg < 256; ++reg) {
                    const Bytes value = device->Value(static_cast<std::uint8_t>(reg));
                    if (!value.empty()) registers[key.second][static_cast<std::uint8_t>(reg)] = value;
                }
            }
            return registers;
        }());
    f.powerOn = [powerOn](ChipBus& bus) {
        bus.chips.clear();
        for (const auto& [device, registers] : *powerOn) {
            if (device == 0x5A) continue;  // the silent MCU of a board driven at its regulators
            auto file = std::make_shared<RegisterFile>();
            file->registers = registers;
            bus.chips[device] = file;
        }
    };
    f.get = [](ChipBus& bus, std::uint8_t device, std::uint8_t reg) {
        return static_cast<RegisterFile&>(*bus.chips.at(device)).registers[reg];
    };
    f.set = [](ChipBus& bus, std::uint8_t device, std::uint8_t reg, Bytes bytes) {
        static_cast<RegisterFile&>(*bus.chips.at(device)).registers[reg] = std::move(bytes);
    };
    return f;
}

std::vector<std::int32_t> Range(std::int32_t from, std::int32_t to) {
    std::vector<std::int32_t> values;
    for (std::int32_t v = from; v <= to; ++v) values.push_back(v);
    return values;
}

struct ItemSweep {
    int item;
    const char* name;
    std::vector<Swept> bytes;
    std::vector<std::int32_t> values;  // the range's steps, then any other a profile gives
    std::size_t rangeSize;
};

// The readings: every combination of the swept bytes when there are at most 65,536, else each byte
// through all its values (the others at power-on, all 0x00 or all 0xFF) and each little-endian word
// through 0..1023 and 0xFC00..0xFFFF.
std::vector<Reading> Readings(const std::vector<Swept>& bytes, const Reading& powerOn) {
    std::vector<Reading> readings;
    if (bytes.size() <= 2) {
        const std::uint32_t count = 1u << (8 * bytes.size());
        for (std::uint32_t n = 0; n < count; ++n) {
            Reading r(bytes.size());
            for (std::size_t i = 0; i < bytes.size(); ++i) r[i] = static_cast<std::uint8_t>(n >> (8 * i));
            readings.push_back(r);
        }
        return readings;
    }
    for (const Reading& base : {powerOn, Reading(bytes.size(), 0x00), Reading(bytes.size(), 0xFF)})
        for (std::size_t i = 0; i < bytes.size(); ++i)
            for (unsigned v = 0; v < 256; ++v) {
                Reading r = base;
                r[i] = static_cast<std::uint8_t>(v);
                readings.push_back(r);
            }
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i].device != bytes[i + 1].device || bytes[i].reg != bytes[i + 1].reg ||
            bytes[i + 1].index != bytes[i].index + 1)
            continue;
        for (unsigned word = 0; word < 0x10000; word = word == 1023 ? 0xFC00 : word + 1) {
            Reading r = powerOn;
            r[i] = static_cast<std::uint8_t>(word);
            r[i + 1] = static_cast<std::uint8_t>(word >> 8);
            readings.push_back(r);
        }
    }
    return readings;
}

void Hold(const Family& family, ChipBus& bus, const std::vector<Swept>& bytes, const Reading& reading) {
    family.powerOn(bus);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Bytes value = family.get(bus, bytes[i].device, bytes[i].reg);
        if (value.size() <= bytes[i].index) value.resize(bytes[i].index + 1u);
        value[bytes[i].index] = reading[i];
        family.set(bus, bytes[i].device, bytes[i].reg, value);
    }
}

std::size_t Writes(const std::vector<sim::LogEntry>& log) {
    std::size_t n = 0;
    for (const sim::LogEntry& e : log) n += e.kind == sim::LogEntry::Kind::Write ? 1 : 0;
    return n;
}

// What is wrong with one Apply's traffic, or empty.
std::string Fault(const Family& family, const std::vector<sim::LogEntry>& log) {
    const std::vector<std::string> violations = write_policy::Violations(log, {{0u, family.controller}});
    if (!violations.empty()) return violations.front();
    if (Writes(log) != 0 && log.front().kind != sim::LogEntry::Kind::Read) return "a write before the item was read";
    for (std::size_t i = 0; i < log.size(); ++i) {
        const sim::LogEntry& e = log[i];
        if (e.kind == sim::LogEntry::Kind::Pause) {
            const bool afterWrite = i > 0 && log[i - 1].kind == sim::LogEntry::Kind::Write;
            if (family.pauseAfterWrite == 0 || !afterWrite || e.pauseMs != family.pauseAfterWrite)
                return "a pause of " + std::to_string(e.pauseMs) + " ms" + (afterWrite ? "" : " not after a write");
        } else if (e.kind == sim::LogEntry::Kind::Write && family.pauseAfterWrite != 0) {
            if (i + 1 >= log.size() || log[i + 1].kind != sim::LogEntry::Kind::Pause)
                return "a write without its pause: " + sim::TransferLog::Format(e);
        }
    }
    return {};
}

// Runs every case of one item; returns how many ran, failing the test at the first fault.
// Where every reading against every value would pass 65,536 cases, the values run through the
// dense sweep of readings are the range's ends, their neighbours, its middle and what profiles give;
// every value still meets the boundary readings (power-on, all 0x00, all 0xFF).
constexpr std::size_t kWholeProduct = 65536;

std::vector<std::int32_t> EdgesOf(const std::vector<std::int32_t>& values, std::size_t rangeSize) {
    std::vector<std::int32_t> edges;
    for (std::size_t i : {std::size_t{0}, std::size_t{1}, rangeSize / 2, rangeSize - 2, rangeSize - 1})
        if (i < rangeSize && std::find(edges.begin(), edges.end(), values[i]) == edges.end()) edges.push_back(values[i]);
    edges.insert(edges.end(), values.begin() + static_cast<long>(rangeSize), values.end());
    return edges;
}

std::size_t CheckItem(const Family& family, const ItemSweep& sweep) {
    ChipBus bus;
    family.powerOn(bus);
    Reading powerOn;
    for (const Swept& s : sweep.bytes) {
        const Bytes value = family.get(bus, s.device, s.reg);
        powerOn.push_back(s.index < value.size() ? value[s.index] : 0);
    }
    const std::vector<Reading> readings = Readings(sweep.bytes, powerOn);
    const bool whole = readings.size() * sweep.values.size() <= kWholeProduct;
    const std::vector<std::int32_t> edges = EdgesOf(sweep.values, sweep.rangeSize);
    const std::vector<Reading> bounds = {powerOn, Reading(powerOn.size(), 0x00), Reading(powerOn.size(), 0xFF)};
    std::size_t cases = 0;
    for (const std::vector<Reading>* set : {&readings, &bounds}) {
    if (set == &bounds && whole) break;
    for (const Reading& reading : *set) {
        for (std::int32_t value : whole || set == &bounds ? sweep.values : edges) {
            ++cases;
            Hold(family, bus, sweep.bytes, reading);
            bus.log.clear();
            family.apply(bus, sweep.item, value);
            const std::vector<sim::LogEntry> first = bus.log;
            std::string fault = Fault(family, first);
            if (fault.empty() && Writes(first) != 0) {
                bus.log.clear();
                family.apply(bus, sweep.item, value);
                if (Writes(bus.log) != 0)
                    fault = "the value written does not read back as " + std::to_string(value) +
                            ": a second Apply writes " + sim::TransferLog::Format(bus.log[1]);
            }
            if (!fault.empty()) {
                std::string trace;
                for (const sim::LogEntry& e : first) trace += "\n  " + sim::TransferLog::Format(e);
                std::string held;
                for (std::size_t i = 0; i < reading.size(); ++i) {
                    char text[32];
                    std::snprintf(text, sizeof text, " %02X:%02X[%u]=%02X", sweep.bytes[i].device, sweep.bytes[i].reg,
                                  sweep.bytes[i].index, reading[i]);
                    held += text;
                }
                ADD_FAILURE() << family.name << ", " << sweep.name << " = " << value << ", board holding" << held
                              << ": " << fault << trace;
                return cases;
            }
        }
    }
    }
    return cases;
}

// The out-of-range values a profile may hold for an RTX 3080 Ti item, as Load takes them.
std::vector<std::int32_t> FromProfiles(const wchar_t* key, rtx3080ti::Item item) {
    std::vector<std::int32_t> values;
    for (std::uint32_t stored : {0u, 1u, 2u, 15u, 16u, 127u, 257u, 65535u, 65536u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        const rtx3080ti::BoardSettings shown = Rtx3080TiFamily::Table().Held(Rtx3080TiFamily::FromProfile({{key, stored}}));
        if (shown[item].read) values.push_back(shown[item].value);
    }
    return values;
}

std::vector<ItemSweep> Rtx3080TiSweeps(bool mcu) {
    using rtx3080ti::Item;
    const auto sweep = [](Item item, const char* name, std::vector<Swept> bytes, std::vector<std::int32_t> values,
                          const wchar_t* key) {
        std::vector<std::int32_t> all = values;
        for (std::int32_t v : FromProfiles(key, item))
            if (std::find(all.begin(), all.end(), v) == all.end()) all.push_back(v);
        return ItemSweep{static_cast<int>(item), name, std::move(bytes), all, values.size()};
    };
    if (mcu) {
        // The status block: a rail's mode byte, then its code; the pairs' byte 1 NVVDD, byte 2 MSVDD.
        return {sweep(Item::Nvvdd, "NVVDD", {{0x5A, 0x19, 1}, {0x5A, 0x19, 2}, {0x5A, 0x19, 3}}, Range(128, 256), L"NVVDD"),
                sweep(Item::Msvdd, "MSVDD", {{0x5A, 0x19, 4}, {0x5A, 0x19, 5}, {0x5A, 0x19, 6}}, Range(128, 256), L"MSVDD"),
                sweep(Item::Fbvdd, "FBVDD", {{0x5A, 0x19, 7}, {0x5A, 0x19, 8}, {0x5A, 0x19, 9}}, Range(192, 248), L"FBVDD"),
                sweep(Item::NvLoadline, "NVVDD Loadline", {{0x5A, 0x1A, 1}}, Range(0, 15), L"NVLL"),
                sweep(Item::MsLoadline, "MSVDD Loadline", {{0x5A, 0x1A, 2}}, Range(0, 15), L"MSLL"),
                sweep(Item::NvOcp, "NVVDD OCP", {{0x5A, 0x1B, 1}}, Range(0, 1), L"NVOCP"),
                sweep(Item::MsOcp, "MSVDD OCP", {{0x5A, 0x1B, 2}}, Range(0, 1), L"MSOCP"),
                sweep(Item::NvFrequency, "NV Freq.", {{0x5A, 0x1C, 1}}, Range(3, 10), L"NVPWM"),
                sweep(Item::MsFrequency, "MS Freq.", {{0x5A, 0x1C, 2}}, Range(3, 10), L"MSPWM")};
    }
    // Each regulator: control 0xE1, fixed code 0x21, measured 0x8B; frequency 0xBD; loadline 0x1E;
    // OCP 0xEC with its companions 0x44 and 0xEE.
    const auto voltage = [](std::uint8_t d) {
        return std::vector<Swept>{{d, 0xE1, 0}, {d, 0xE1, 1}, {d, 0x21, 0}, {d, 0x21, 1}, {d, 0x8B, 0}, {d, 0x8B, 1}};
    };
    const auto ocp = [](std::uint8_t d) {
        return std::vector<Swept>{{d, 0xEC, 0}, {d, 0xEC, 1}, {d, 0x44, 0}, {d, 0x44, 1}, {d, 0xEE, 0}, {d, 0xEE, 1}};
    };
    return {sweep(Item::Nvvdd, "NVVDD", voltage(0x40), Range(128, 256), L"NVVDD"),
            sweep(Item::Msvdd, "MSVDD", voltage(0x7C), Range(128, 256), L"MSVDD"),
            sweep(Item::Fbvdd, "FBVDD", voltage(0x44), Range(192, 248), L"FBVDD"),
            sweep(Item::NvLoadline, "NVVDD Loadline", {{0x40, 0x1E, 0}}, Range(0, 15), L"NVLL"),
            sweep(Item::MsLoadline, "MSVDD Loadline", {{0x7C, 0x1E, 0}}, Range(0, 15), L"MSLL"),
            sweep(Item::NvOcp, "NVVDD OCP", ocp(0x40), Range(0, 1), L"NVOCP"),
            sweep(Item::MsOcp, "MSVDD OCP", ocp(0x7C), Range(0, 1), L"MSOCP"),
            sweep(Item::NvFrequency, "NV Freq.", {{0x40, 0xBD, 0}, {0x40, 0xBD, 1}}, Range(3, 10), L"NVPWM"),
            sweep(Item::MsFrequency, "MS Freq.", {{0x7C, 0xBD, 0}, {0x7C, 0xBD, 1}}, Range(3, 10), L"MSPWM")};
}

std::vector<ItemSweep> Rtx2080TiSweeps() {
    using rtx2080ti::Item;
    const auto voltage = [](std::uint8_t d) {
        return std::vector<Swept>{{d, 0xE1, 0}, {d, 0xE1, 1}, {d, 0x21, 0}, {d, 0x21, 1}, {d, 0x8B, 0}, {d, 0x8B, 1}};
    };
    const auto word = [](std::uint8_t reg) { return std::vector<Swept>{{0x40, reg, 0}, {0x40, reg, 1}}; };
    // The RTX 2080 Ti has no profiles: its values are the sliders' steps and the lists' entries.
    const auto sweep = [](Item item, const char* name, std::vector<Swept> bytes, std::vector<std::int32_t> values) {
        const std::size_t size = values.size();
        return ItemSweep{static_cast<int>(item), name, std::move(bytes), std::move(values), size};
    };
    return {sweep(Item::Nvvdd, "NVVDD", voltage(0x40), Range(128, 256)),
            sweep(Item::Fbvdd, "FBVDD", voltage(0x44), Range(192, 280)),
            sweep(Item::Pexvdd, "PEXVDD", {{0x24, 0x02, 0}}, Range(-4, 15)),
            sweep(Item::Rail1v8, "+1.8V", {{0x24, 0x01, 0}}, Range(-1, 3)),
            sweep(Item::Frequency, "Switching frequency", word(0xBD), Range(3, 10)),
            sweep(Item::Loadline, "Loadline", {{0x40, 0x1E, 0}}, Range(0, 11)),
            sweep(Item::Ln2, "LN2 mode", word(0xEE), Range(0, 1)),
            sweep(Item::Ocp, "OCP", word(0xEC), Range(0, 1))};
}

TEST(PlanPolicyTest, EveryApplyOfEveryItemFromEveryReadingKeepsToTheWritePolicy) {
    const auto started = std::chrono::steady_clock::now();
    const Family mcu = McuFamily();
    const Family direct =
        RegisterFamily("RTX 3080 Ti at its regulators", Controller::Direct, sim::BoardKind::Rtx3080TiDirect,
                       [](ChipBus& bus, int item, std::int32_t value) {
                           ApplyOne<Rtx3080TiFamily, Rtx3080TiRegulatorProtocol>(
                               bus, static_cast<rtx3080ti::Item>(item), value);
                       });
    const Family rtx2080 = RegisterFamily("RTX 2080 Ti", Controller::Rtx2080Ti, sim::BoardKind::Rtx2080Ti,
                                          [](ChipBus& bus, int item, std::int32_t value) {
                                              ApplyOne<Rtx2080TiFamily, Rtx2080TiProtocol>(
                                                  bus, static_cast<rtx2080ti::Item>(item), value);
                                          });
    std::size_t cases = 0;
    for (const auto& [family, sweeps] : {std::make_pair(&mcu, Rtx3080TiSweeps(true)),
                                         std::make_pair(&direct, Rtx3080TiSweeps(false)),
                                         std::make_pair(&rtx2080, Rtx2080TiSweeps())}) {
        for (const ItemSweep& sweep : sweeps) {
            const std::size_t ran = CheckItem(*family, sweep);
            std::printf("%s, %s: %zu cases\n", family->name, sweep.name, ran);
            cases += ran;
            if (HasFailure()) return;
        }
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("checked %zu cases in %.1f s\n", cases, seconds);
}

}  // namespace
