#include "boards/BoardDetection.h"

#include "boards/BoardIo.h"
#include "boards/Rtx2080TiRegisters.h"
#include "boards/Rtx3080TiMcuProtocol.h"
#include "boards/Rtx3080TiRegisters.h"
#include "boards/Rtx3080TiRegulatorProtocol.h"
#include "gpu/AnsiText.h"
#include "gpu/GpuBus.h"
#include "gpu/NvApi.h"

namespace {

bool SubsystemDeviceIs(const GpuList& gpus, std::uint32_t gpuIndex, std::uint32_t device) {
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(gpus, gpuIndex);
    return subsystem && board_io::SubsystemDevice(*subsystem) == device;
}

// The MCU identifies itself, then takes the handshake.
bool ProbeMcu(const GpuList&, std::uint32_t, BoardBus& bus) { return Rtx3080TiMcuProtocol(bus).Probe(); }

// The GPU's PCI subsystem device ID marks the board. No I2C traffic.
bool ProbeRegulators(const GpuList& gpus, std::uint32_t gpuIndex, BoardBus&) {
    return SubsystemDeviceIs(gpus, gpuIndex, rtx3080ti::kSubsystemDevice);
}

// The subsystem device ID, or NVIDIA's reference subsystem with the reference VBIOS. No I2C traffic.
bool ProbeRtx2080Ti(const GpuList& gpus, std::uint32_t gpuIndex, BoardBus&) {
    namespace rb = rtx2080ti;
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(gpus, gpuIndex);
    if (!subsystem) return false;
    if (board_io::SubsystemDevice(*subsystem) == rb::kSubsystemDevice) return true;
    if (*subsystem != rb::kReferenceSubsystem) return false;

    char version[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    if (gpus.Api().GPU_GetVbiosVersionString(gpus.Handle(gpuIndex), version) != nvapi::NVAPI_OK) return false;
    version[sizeof version - 1] = '\0';  // a driver that fills all 64 bytes must not run us off the end
    return AnsiToWide(version) == rb::kReferenceVbios;
}

template <typename Protocol>
AnyBoard Make3080Ti(std::unique_ptr<BoardBus> bus) {
    auto protocol = std::make_unique<Protocol>(*bus);
    return std::make_unique<rtx3080ti::Board>(std::move(bus), std::move(protocol));
}

AnyBoard Make2080Ti(std::unique_ptr<BoardBus> bus) {
    auto protocol = std::make_unique<Rtx2080TiProtocol>(*bus);
    return std::make_unique<rtx2080ti::Board>(std::move(bus), std::move(protocol));
}

}  // namespace

const std::vector<BoardType>& BoardTypes() {
    static const std::vector<BoardType> types = {
        {L"RTX 3080 Ti through its MCU", rtx3080ti::kPort, &ProbeMcu, &Make3080Ti<Rtx3080TiMcuProtocol>},
        {L"RTX 3080 Ti at its regulators", rtx3080ti::kPort, &ProbeRegulators,
         &Make3080Ti<Rtx3080TiRegulatorProtocol>},
        {L"RTX 2080 Ti", rtx2080ti::kPort, &ProbeRtx2080Ti, &Make2080Ti},
    };
    return types;
}

std::optional<FoundBoard> DetectBoard(const GpuList& gpus, std::uint32_t gpuIndex) {
    for (const BoardType& type : BoardTypes()) {
        auto bus = std::make_unique<GpuBus>(gpus, gpuIndex, type.port);
        if (type.probe(gpus, gpuIndex, *bus)) return FoundBoard{&type, type.make(std::move(bus))};
    }
    return std::nullopt;
}

std::vector<ShownSetting> ReadShown(const AnyBoard& board) {
    return std::visit(
        [](const auto& typed) {
            using Family = typename std::decay_t<decltype(*typed)>::FamilyType;
            return Describe(Family::Table(), typed->ReadAll());
        },
        board);
}
