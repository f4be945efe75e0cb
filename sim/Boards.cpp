#include "sim/Boards.h"

#include <memory>

#include "sim/Mcu3080Ti.h"
#include "sim/OffsetDevice2080Ti.h"
#include "sim/Regulator2080Ti.h"
#include "sim/Regulator3080Ti.h"

namespace sim {

namespace {
struct KindName {
    BoardKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {BoardKind::None, "none"},
    {BoardKind::Rtx3080TiMcu, "rtx3080ti-mcu"},
    {BoardKind::Rtx3080TiDirect, "rtx3080ti-direct"},
    {BoardKind::Rtx2080Ti, "rtx2080ti"},
};
}  // namespace

std::optional<BoardKind> BoardKindFromName(const std::string& name) {
    for (const KindName& k : kKindNames)
        if (name == k.name) return k.kind;
    return std::nullopt;
}

const char* BoardKindName(BoardKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

void AttachBoard(SimGpu& gpu, BoardKind kind) {
    switch (kind) {
    case BoardKind::None:
        break;
    case BoardKind::Rtx3080TiMcu:
        gpu.Attach(kBoardPort, 0x5A, std::make_shared<Mcu3080Ti>());
        break;
    case BoardKind::Rtx3080TiDirect: {
        // The MCU is fitted but never answers, so the program must go to the regulators.
        auto mcu = std::make_shared<Mcu3080Ti>();
        mcu->SetSilent(true);
        gpu.Attach(kBoardPort, 0x5A, mcu);
        gpu.Attach(kBoardPort, 0x40, std::make_shared<Regulator3080Ti>(Regulator3080Ti::Rail::Nvvdd));
        gpu.Attach(kBoardPort, 0x44, std::make_shared<Regulator3080Ti>(Regulator3080Ti::Rail::Fbvdd));
        gpu.Attach(kBoardPort, 0x7C, std::make_shared<Regulator3080Ti>(Regulator3080Ti::Rail::Msvdd));
        break;
    }
    case BoardKind::Rtx2080Ti:
        gpu.Attach(kBoardPort, 0x40, std::make_shared<Regulator2080Ti>(Regulator2080Ti::Rail::Nvvdd));
        gpu.Attach(kBoardPort, 0x44, std::make_shared<Regulator2080Ti>(Regulator2080Ti::Rail::Fbvdd));
        gpu.Attach(kBoardPort, 0x24, std::make_shared<OffsetDevice2080Ti>());
        break;
    }
}

}  // namespace sim
