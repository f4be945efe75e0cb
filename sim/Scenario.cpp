#include "sim/Scenario.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "gpu/PciBusIdText.h"
#include "sim/ArbitraryDevice.h"
#include "sim/Boards.h"
#include "sim/RegisterDevice.h"

namespace sim {

namespace {

struct Statement {
    std::string keyword;
    std::map<std::string, std::string> values;
};

class ScenarioError {
public:
    ScenarioError(const std::string& file, std::size_t line) : prefix_(file + ":" + std::to_string(line) + ": ") {}
    bool Fail(std::string& error, const std::string& what) const {
        error = prefix_ + what;
        return false;
    }

private:
    std::string prefix_;
};

// Splits a line into keyword and key=value pairs; false with a message on a malformed line.
bool Tokenize(const std::string& line, Statement& statement, std::string& problem) {
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    };
    auto word = [&] {
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != '=') ++i;
        return line.substr(start, i - start);
    };
    skipBlanks();
    statement.keyword = word();
    while (true) {
        skipBlanks();
        if (i >= line.size()) return true;
        const std::string key = word();
        if (key.empty() || i >= line.size() || line[i] != '=') {
            problem = "expected key=value, found \"" + line.substr(i - key.size()) + "\"";
            return false;
        }
        ++i;
        std::string value;
        if (i < line.size() && line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                problem = "missing closing quote in the value of " + key;
                return false;
            }
            value = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const std::size_t start = i;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
            value = line.substr(start, i - start);
        }
        if (statement.values.count(key)) {
            problem = "key " + key + " given twice";
            return false;
        }
        statement.values[key] = value;
    }
}

std::string StripComment(const std::string& line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == '#' && !quoted) return line.substr(0, i);
    }
    return line;
}

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty()) return false;
    std::size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    std::uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (digit < 0 || static_cast<std::uint64_t>(digit) > max) return false;
        // Tested before the step, which would otherwise wrap past 64 bits into a small number.
        if (result > (max - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) return false;
        result = result * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    value = result;
    return true;
}

// "DDDD:BB:DD.F" or "BB:DD.F" (domain 0000), hexadecimal as lspci writes it.
bool ParseBusId(const std::string& text, PciBusId& busId) {
    std::size_t at = 0;
    auto field = [&](std::size_t digits, std::uint32_t max, char end, std::uint32_t& value) {
        std::uint64_t parsed = 0;
        if (at + digits > text.size() || !ParseNumber("0x" + text.substr(at, digits), max, parsed)) return false;
        at += digits;
        value = static_cast<std::uint32_t>(parsed);
        if (end == '\0') return at == text.size();
        return at < text.size() && text[at++] == end;
    };
    PciBusId parsed;
    const bool withDomain = text.size() == 12;
    if (text.size() != 12 && text.size() != 7) return false;
    if (withDomain && !field(4, 0xFFFF, ':', parsed.domain)) return false;
    if (!field(2, 0xFF, ':', parsed.bus) || !field(2, 0x1F, '.', parsed.device) || !field(1, 7, '\0', parsed.function))
        return false;
    busId = parsed;
    return true;
}

std::string FormatBusId(const PciBusId& busId) {
    const std::wstring text = PciBusIdText(busId.domain, busId.bus, busId.device, busId.function);
    return std::string(text.begin(), text.end());  // hexadecimal digits and punctuation alone
}

// What each keyword accepts, so a misspelt key is an error rather than silently ignored.
const std::map<std::string, std::set<std::string>>& KnownKeys() {
    static const std::map<std::string, std::set<std::string>> keys{
        {"machine", {"initialize", "enumerate", "bus-functions"}},
        {"gpu", {"handle", "name", "subsystem", "vbios", "bus", "board", "fail"}},
        {"device", {"address", "port", "state", "seed"}},
        {"register", {"address", "port", "register", "bytes"}},
        {"fail-transfer", {"n"}},
    };
    return keys;
}

class Builder {
public:
    Builder(SimMachine& machine, const ScenarioError& where, std::string& error)
        : machine_(machine), where_(where), error_(error) {}

    bool Apply(const Statement& s) {
        const auto known = KnownKeys().find(s.keyword);
        if (known == KnownKeys().end()) return Fail("unknown statement \"" + s.keyword + "\"");
        for (const auto& kv : s.values)
            if (!known->second.count(kv.first)) return Fail("unknown key " + kv.first + " for " + s.keyword);
        if (s.keyword == "machine") return Machine(s);
        if (s.keyword == "gpu") return Gpu(s);
        if (s.keyword == "device") return Device(s);
        if (s.keyword == "register") return Register(s);
        return FailTransfer(s);
    }

private:
    bool Fail(const std::string& what) { return where_.Fail(error_, what); }

    bool Number(const Statement& s, const std::string& key, std::uint64_t max, std::uint64_t& value, bool required,
                std::uint64_t fallback = 0) {
        auto it = s.values.find(key);
        if (it == s.values.end()) {
            if (required) return Fail(s.keyword + " needs " + key + "=");
            value = fallback;
            return true;
        }
        if (!ParseNumber(it->second, max, value))
            return Fail(key + "=" + it->second + " is not a number from 0 to " + std::to_string(max));
        return true;
    }

    bool OkOrFail(const Statement& s, const std::string& key, bool& fails) {
        auto it = s.values.find(key);
        if (it == s.values.end()) return true;
        if (it->second != "ok" && it->second != "fail") return Fail(key + " must be ok or fail, not " + it->second);
        fails = it->second == "fail";
        return true;
    }

    bool Machine(const Statement& s) {
        bool failInitialize = false, failEnumerate = false;
        if (!OkOrFail(s, "initialize", failInitialize) || !OkOrFail(s, "enumerate", failEnumerate)) return false;
        machine_.FailInitialize(failInitialize);
        machine_.FailEnumeration(failEnumerate);
        if (auto functions = s.values.find("bus-functions"); functions != s.values.end()) {
            if (functions->second != "present" && functions->second != "absent")
                return Fail("bus-functions must be present or absent, not " + functions->second);
            machine_.SetBusIdFunctions(functions->second == "present");
        }
        return true;
    }

    bool Gpu(const Statement& s) {
        std::uint64_t handle = 0, subsystem = 0;
        if (!Number(s, "handle", UINTPTR_MAX, handle, true)) return false;
        if (handle == 0) return Fail("handle=0 is not a GPU handle");
        if (machine_.GpuByHandle(static_cast<std::uintptr_t>(handle))) return Fail("a GPU with handle " + s.values.at("handle") + " exists already");
        if (machine_.Gpus().size() >= nvapi::NVAPI_MAX_PHYSICAL_GPUS) return Fail("more than 64 GPUs");
        if (!Number(s, "subsystem", UINT32_MAX, subsystem, false)) return false;
        std::optional<PciBusId> busId;
        if (auto bus = s.values.find("bus"); bus != s.values.end()) {
            PciBusId parsed;
            if (!ParseBusId(bus->second, parsed))
                return Fail("bus=" + bus->second +
                            " is not a PCI bus id such as 0000:01:00.0 or 01:00.0 (hexadecimal; device 00 to 1f, "
                            "function 0 to 7)");
            for (const SimGpu& other : machine_.Gpus())
                if (other.busId == parsed) return Fail("a GPU at " + FormatBusId(parsed) + " exists already");
            busId = parsed;
        }
        auto name = s.values.find("name");
        SimGpu& gpu = machine_.AddGpu(static_cast<std::uintptr_t>(handle),
                                      name == s.values.end() ? "NVIDIA GeForce GPU" : name->second);
        gpu.subsystemId = static_cast<std::uint32_t>(subsystem);
        gpu.busId = busId;
        auto vbios = s.values.find("vbios");
        gpu.vbios = vbios == s.values.end() ? std::string("00.00.00.00.00") : vbios->second;
        BoardKind kind = BoardKind::None;
        if (auto board = s.values.find("board"); board != s.values.end()) {
            auto parsed = BoardKindFromName(board->second);
            if (!parsed)
                return Fail("unknown board " + board->second +
                            " (known: none, rtx3080ti-mcu, rtx3080ti-direct, rtx2080ti)");
            kind = *parsed;
        }
        AttachBoard(gpu, kind);
        if (auto fail = s.values.find("fail"); fail != s.values.end()) {
            std::stringstream list(fail->second);
            std::string what;
            while (std::getline(list, what, ',')) {
                if (what == "name") gpu.name.reset();
                else if (what == "pci") gpu.subsystemId.reset();
                else if (what == "vbios") gpu.vbios.reset();
                else return Fail("fail= takes name, pci and vbios, not " + what);
            }
        }
        return true;
    }

    SimGpu* LastGpu(const Statement& s) {
        if (machine_.Gpus().empty()) {
            Fail(s.keyword + " before any gpu");
            return nullptr;
        }
        return &machine_.Gpus().back();
    }

    bool Device(const Statement& s) {
        SimGpu* gpu = LastGpu(s);
        if (!gpu) return false;
        std::uint64_t address = 0, port = 0, seed = 0;
        if (!Number(s, "address", 0xFF, address, true) || !Number(s, "port", 0xFF, port, false, kBoardPort) ||
            !Number(s, "seed", UINT32_MAX, seed, false, 1))
            return false;
        const auto key = std::make_pair(static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(address));
        auto state = s.values.find("state");
        if (state == s.values.end()) return Fail("device needs state=");
        auto existing = gpu->devices.find(key);
        std::shared_ptr<I2cDevice> device = existing == gpu->devices.end() ? nullptr : existing->second;
        if (state->second == "absent") {
            gpu->devices.erase(key);
        } else if (state->second == "arbitrary") {
            gpu->devices[key] = std::make_shared<ArbitraryDevice>(static_cast<std::uint32_t>(seed), device);
        } else if (state->second == "silent" || state->second == "answering") {
            auto* registers = dynamic_cast<RegisterDevice*>(device.get());
            if (!registers) return Fail("no simulated device at " + s.values.at("address") + " to make " + state->second);
            registers->SetSilent(state->second == "silent");
        } else {
            return Fail("state must be answering, silent, absent or arbitrary, not " + state->second);
        }
        return true;
    }

    bool Register(const Statement& s) {
        SimGpu* gpu = LastGpu(s);
        if (!gpu) return false;
        std::uint64_t address = 0, port = 0, reg = 0;
        if (!Number(s, "address", 0xFF, address, true) || !Number(s, "port", 0xFF, port, false, kBoardPort) ||
            !Number(s, "register", 0xFF, reg, true))
            return false;
        auto* device = dynamic_cast<RegisterDevice*>(
            gpu->Find(static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(address)));
        if (!device) return Fail("no simulated device at " + s.values.at("address"));
        auto bytesText = s.values.find("bytes");
        if (bytesText == s.values.end()) return Fail("register needs bytes=");
        std::vector<std::uint8_t> bytes;
        std::stringstream list(bytesText->second);
        std::string item;
        while (std::getline(list, item, ',')) {
            std::uint64_t byte = 0;
            if (!ParseNumber("0x" + item, 0xFF, byte)) return Fail("bytes= takes hexadecimal bytes such as C8,00, not " + item);
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        if (bytes.empty()) return Fail("bytes= is empty");
        const std::vector<std::uint8_t> current = device->Value(static_cast<std::uint8_t>(reg));
        if (current.empty()) return Fail("device " + s.values.at("address") + " has no register " + s.values.at("register"));
        if (current.size() != bytes.size())
            return Fail("register " + s.values.at("register") + " holds " + std::to_string(current.size()) + " bytes, not " +
                        std::to_string(bytes.size()));
        device->Poke(static_cast<std::uint8_t>(reg), bytes);
        return true;
    }

    bool FailTransfer(const Statement& s) {
        std::uint64_t n = 0;
        if (!Number(s, "n", UINT32_MAX, n, true)) return false;
        if (n == 0) return Fail("n counts from 1");
        machine_.FailTransferAt(n);
        return true;
    }

    SimMachine& machine_;
    const ScenarioError& where_;
    std::string& error_;
};

}  // namespace

bool LoadScenario(const std::string& text, const std::string& fileName, SimMachine& machine, std::string& error) {
    SimMachine scratch;  // only a scenario read without a mistake reaches the caller's machine
    std::istringstream lines(text);
    std::string line;
    std::size_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const ScenarioError where(fileName, number);
        Statement statement;
        std::string problem;
        const std::string content = StripComment(line);
        if (content.find_first_not_of(" \t") == std::string::npos) continue;
        if (!Tokenize(content, statement, problem)) return where.Fail(error, problem);
        Builder builder(scratch, where, error);
        if (!builder.Apply(statement)) return false;
    }
    machine = std::move(scratch);
    return true;
}

bool LoadScenarioFile(const std::string& path, SimMachine& machine, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot open the scenario file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return LoadScenario(text.str(), path, machine, error);
}

const std::string& DefaultScenarioText() {
    static const std::string text = R"(# The machine the demo starts on.
# Enumerated out of handle order, so the program's ascending sort shows in its device list.
# Each GPU sits on the PCI bus its handle names, so ascending handles are ascending bus ids.
gpu handle=0x2100 name="NVIDIA GeForce RTX 3080 Ti" subsystem=0x39961B4C vbios=94.02.42.40.91 bus=0000:21:00.0 board=rtx3080ti-mcu
gpu handle=0x1100 name="NVIDIA GeForce RTX 3080 Ti" subsystem=0x39981B4C vbios=94.02.42.40.91 bus=0000:11:00.0 board=rtx3080ti-direct
gpu handle=0x3100 name="NVIDIA GeForce RTX 2080 Ti" subsystem=0x25891B4C vbios=90.02.17.40.88 bus=0000:31:00.0 board=rtx2080ti
gpu handle=0x0100 name="NVIDIA GeForce RTX 3060" subsystem=0x38971462 vbios=94.06.14.00.5A bus=0000:01:00.0 board=none
)";
    return text;
}

void LoadDefaultScenario(SimMachine& machine) {
    std::string error;
    LoadScenario(DefaultScenarioText(), "(built-in)", machine, error);
}

}  // namespace sim
