#include "app/CommandLineRun.h"

#include <algorithm>

#include "app/AppTitle.h"
#include "app/PanelReport.h"
#include "boards/IVgaControl.h"
#include "gpu/GpuList.h"
#include "headless/HeadlessPanel.h"
#include "profile/ProfileStore.h"

namespace {

// The controllers' way to the panel: this run's panel stands where the window's would.
class RunPanel final : public PanelSource {
public:
    ControlPanel* ControllerPanel() override { return &panel; }
    HeadlessPanel panel;
};

// Everything a run took, given back however it ends.
class RunResources {
public:
    explicit RunResources(ProcessServices& services) : services_(services) {}
    ~RunResources() {
        ProfileStore::Release();
        GpuList::Release();
        if (locked_) services_.ReleaseInstanceLock();
    }
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;

    bool Lock() { return locked_ = services_.AcquireInstanceLock(kAppTitle); }

private:
    ProcessServices& services_;
    bool locked_ = false;
};

// The profile belongs to the board type, and only the RTX 3080 Ti controllers have one.
bool TakesProfiles(const IVgaControl& controller) { return controller.GetFamily() == family::kRtx3080Ti; }

std::wstring BoardTitle(const SupportedBoard& board) {
    return L"GPU " + std::to_wstring(board.gpuIndex) + L" " + board.name + L" [" + BoardKindName(*board.controller) +
           L"]";
}

int Worse(int status, int other) {
    if (status == exit_status::kDone) return other;
    if (other == exit_status::kDone) return status;
    return std::min(status, other);
}

// The board's values as the controller last read them; a value it could not read is not shown
// as the board's.
std::vector<PanelReading> BoardReadings(const IVgaControl& controller, const RunPanel& panels) {
    return ReadPanel(panels.panel, controller.UnreadControls());
}

std::size_t UnreadCount(const std::vector<PanelReading>& readings) {
    return static_cast<std::size_t>(std::count_if(readings.begin(), readings.end(), [](const PanelReading& r) {
        return IsBoardValue(r) && !r.read;
    }));
}

bool NothingRead(const std::vector<PanelReading>& readings) {
    return std::none_of(readings.begin(), readings.end(),
                        [](const PanelReading& r) { return IsBoardValue(r) && r.read; });
}

int List(std::vector<SupportedBoard>& boards, RunPanel& panels, const std::wstring& programName,
         CommandOutput& output) {
    int status = exit_status::kDone;
    for (std::size_t entry = 0; entry < boards.size(); ++entry) {
        boards[entry].controller->Activate();
        output.Line(L"Entry " + std::to_wstring(entry) + L": " + BoardTitle(boards[entry]));
        const std::vector<PanelReading> readings = BoardReadings(*boards[entry].controller, panels);
        const std::size_t unread = UnreadCount(readings);
        if (unread == 0) {
            for (const std::wstring& line : PanelLines(readings)) output.Line(L"  " + line);
            continue;
        }
        status = Worse(status, exit_status::kBoardFailed);
        if (NothingRead(readings)) {
            output.Line(L"  the board could not be read");
            output.Error(programName + L": " + BoardTitle(boards[entry]) + L": the board could not be read");
            continue;
        }
        for (const std::wstring& line : PanelLines(readings)) output.Line(L"  " + line);
        output.Error(programName + L": " + BoardTitle(boards[entry]) + L": " + std::to_wstring(unread) +
                     (unread == 1 ? L" setting" : L" settings") + L" could not be read");
    }
    return status;
}

int ApplyProfile(std::vector<SupportedBoard>& boards, RunPanel& panels, const std::wstring& programName,
                 CommandOutput& output) {
    const GpuList& gpus = *GpuList::Instance();
    int status = exit_status::kDone;
    bool anyTakesProfiles = false;
    for (SupportedBoard& board : boards) {
        IVgaControl& controller = *board.controller;
        if (!TakesProfiles(controller)) {
            output.Line(BoardTitle(board) + L": skipped, this board type has no profiles");
            continue;
        }
        anyTakesProfiles = true;
        // As a user picks the board in the device list before pressing Load.
        controller.Activate();
        const std::uint64_t failedBefore = gpus.FailedTransfers();
        if (!controller.LoadProfile()) {
            output.Error(programName + L": " + BoardTitle(board) + L": no profile in " +
                         ProfileStore::Instance()->Path() + L"; save one in the window first");
            status = Worse(status, exit_status::kNoProfile);
            continue;
        }
        const std::wstring profile = BoardSettingsText(ReadPanel(panels.panel));
        controller.Apply();
        const std::vector<PanelReading> readBack = BoardReadings(controller, panels);
        const std::uint64_t failed = gpus.FailedTransfers() - failedBefore;
        // What failed is not called applied, and what was not read is not called read back.
        output.Line(BoardTitle(board) + (failed == 0 ? L": applied " : L": tried to apply ") + profile +
                    (NothingRead(readBack) ? L"; nothing read back, the board could not be read"
                                           : L"; read back " + BoardSettingsText(readBack)));
        if (failed != 0) {
            output.Error(programName + L": " + BoardTitle(board) + L": " + std::to_wstring(failed) +
                         (failed == 1 ? L" transfer" : L" transfers") +
                         L" failed; the board may hold only part of the profile");
            status = Worse(status, exit_status::kBoardFailed);
        }
    }
    if (!anyTakesProfiles) {
        output.Error(programName + L": no board that takes a profile (RTX 3080 Ti)");
        return exit_status::kNoSupportedBoard;
    }
    return status;
}

}  // namespace

std::vector<std::wstring> HelpText(const std::wstring& programName, const std::vector<std::wstring>& platformSwitches) {
    std::vector<std::wstring> lines = {
        L"Usage: " + programName + L" [switches] [internalTest]",
        L"",
        L"Without --list or --apply-profile the controller window opens.",
        L"",
        L"  --list            print every supported board with what the window shows for it, then end",
        L"  --apply-profile   on every RTX 3080 Ti board do what Load and then Apply do in the window,",
        L"                    with the profile in Profile.ini of the current directory, then end;",
        L"                    an RTX 2080 Ti has no profiles and is skipped",
        L"  internalTest      with the window: show the Test button for raw I2C register reads and writes",
        L"  --help            print this text",
    };
    lines.insert(lines.end(), platformSwitches.begin(), platformSwitches.end());
    lines.insert(lines.end(), {
        L"",
        L"Exit status of --list and --apply-profile:",
        L"  0  done: listed, or the profile applied to every RTX 3080 Ti board",
        L"  1  a transfer of some board's Load or Apply failed, or --list could not read a setting",
        L"  2  the command line cannot be followed",
        L"  3  no supported board (for --apply-profile: no RTX 3080 Ti board)",
        L"  4  NvAPI could not be started",
        L"  5  Profile.ini is missing or holds no RTX 3080 Ti profile",
        L"  6  the window is open, or another run is at work: nothing was done",
        L"When several apply, the lowest non-zero one is returned.",
    });
    return lines;
}

int RunCommand(Command command, ProcessServices& services, Sleeper& sleeper, CommandOutput& output,
               const BoardFactory& createBoard) {
    const std::wstring programName = services.ApplicationName();
    if (command != Command::List && command != Command::ApplyProfile) {
        output.Error(programName + L": --list and --apply-profile cannot be used together; see --help");
        return exit_status::kUsage;
    }

    RunResources resources(services);
    // Two programs on one bus would interleave their transfers.
    if (!resources.Lock()) {
        output.Error(programName + L": the " + kAppTitle +
                     L" window is open, or another run is at work; close it and try again");
        return exit_status::kWindowOpen;
    }
    GpuList* gpus = GpuList::Instance();
    if (!gpus->IsReady()) {
        output.Error(programName + L": NV Control initialize failed!");
        return exit_status::kNvApiFailed;
    }
    RunPanel panels;
    std::vector<SupportedBoard> boards = FindSupportedBoards(*gpus, createBoard, panels, sleeper);
    if (boards.empty()) {
        output.Error(programName + L": Device not support.");
        return exit_status::kNoSupportedBoard;
    }
    if (command == Command::List) return List(boards, panels, programName, output);
    return ApplyProfile(boards, panels, programName, output);
}
