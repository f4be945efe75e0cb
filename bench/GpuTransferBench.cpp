// What one GpuList transfer costs on the simulator, beside what the same register read takes on
// a real 100 kHz I2C bus. A figure to watch, not a test.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "gpu/GpuBus.h"
#include "gpu/GpuList.h"
#include "sim/RegisterDevice.h"
#include "sim/SimMachine.h"

namespace {

// A 10-byte read on a 100 kHz bus: start, address, register, repeated start, address, 10 data
// bytes, each 9 clocks, plus stop: about 1.2 ms.
constexpr double kBusReadSeconds = 1.2e-3;

class TenByteRegister final : public sim::RegisterDevice {
public:
    TenByteRegister() { Define(0x19, std::vector<std::uint8_t>(10, 0x5A)); }
};

struct Machine {
    Machine() {
        machine.SetLogging(false);
        machine.AddGpu(0x1000, "NVIDIA GeForce RTX 3080 Ti").Attach(1, 0x5A, std::make_shared<TenByteRegister>());
    }
    sim::SimMachine machine;
    GpuList list{machine};
    GpuBus bus{list, 0, 1};
};

class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const double seconds = run.GetAdjustedRealTime() / 1e9;  // time unit is ns
            std::printf("  %s: %.0f ns per transfer; a 10-byte read on a 100 kHz bus takes %.1f ms, %.0f times as long\n",
                        run.benchmark_name().c_str(), seconds * 1e9, kBusReadSeconds * 1e3, kBusReadSeconds / seconds);
        }
    }
};

void BM_GpuListRead10Bytes(benchmark::State& state) {
    Machine m;
    std::uint8_t buffer[10] = {};
    for (auto _ : state) {
        bool ok = m.bus.Read(0x5A, 0x19, buffer, 10);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_GpuListRead10Bytes);

void BM_GpuListWrite10Bytes(benchmark::State& state) {
    Machine m;
    std::uint8_t buffer[10] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    for (auto _ : state) {
        bool ok = m.bus.Write(0x5A, 0x19, buffer, 10);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_GpuListWrite10Bytes);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
