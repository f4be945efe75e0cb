#pragma once
// What every front end's --list and --apply-profile must give on the same simulated machines:
// the listing of the built-in machine in the window's texts, and a machine with both RTX 3080 Ti
// kinds, an RTX 2080 Ti and a GPU without a supported board, with the profile it is given.
#include <string>
#include <vector>

namespace cli_cases {

// --list on the built-in machine. Both RTX 3080 Ti rails report code 175 at power-on.
inline const std::vector<std::string>& DefaultMachineListing() {
    static const std::vector<std::string> lines = {
        "Entry 0: GPU 1 (0000:11:00.0) NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]",
        "  Sync: off",
        "  Auto: on",
        "  NVVDD: 1.09375 V  (slider 47 in 0-128, disabled)",
        "  FBVDD: 1.37500 V  (slider 28 in 0-56)",
        "  MSVDD: 1.09375 V  (slider 47 in 0-128)",
        "  NV Freq.: 400 kHz  (slider 1 in 0-7)",
        "  MS Freq.: 400 kHz  (slider 1 in 0-7)",
        "  NVVDD Loadline: Level 1",
        "  MSVDD Loadline: Level 1",
        "  NVVDD OCP: Enable",
        "  MSVDD OCP: Enable",
        "Entry 1: GPU 2 (0000:21:00.0) NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]",
        "  Sync: off",
        "  Auto: on",
        "  NVVDD: 1.09375 V  (slider 47 in 0-128, disabled)",
        "  FBVDD: 1.37500 V  (slider 28 in 0-56)",
        "  MSVDD: 1.09375 V  (slider 47 in 0-128)",
        "  NV Freq.: 400 kHz  (slider 1 in 0-7)",
        "  MS Freq.: 400 kHz  (slider 1 in 0-7)",
        "  NVVDD Loadline: Level 1",
        "  MSVDD Loadline: Level 1",
        "  NVVDD OCP: Enable",
        "  MSVDD OCP: Enable",
        "Entry 2: GPU 3 (0000:31:00.0) NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]",
        "  Sync: off",
        "  Auto: on",
        "  NVVDD: 1.00000 V  (slider 32 in 0-128, disabled)",
        "  FBVDD: 1.37500 V  (slider 28 in 0-88)",
        "  PEXVDD: 1.078 V  (slider 4 in 0-19)",
        "  PWM Freq.: 400 kHz  (slider 1 in 0-7)",
        "  +1.8V: 1.80 V  (slider 1 in 0-4)",
        "  LN2 VRM mode: Disable",
        "  NVVDD Loadline: Level 0",
        "  NVVDD OCP: Enable",
    };
    return lines;
}

// Device-list entries 0 (MCU) and 2 (direct) take the profile; entry 1, the RTX 2080 Ti, does not.
inline std::string MixedMachine(const std::string& extraLines = "") {
    return "gpu handle=0x1000 name=\"NVIDIA GeForce RTX 3080 Ti\" subsystem=0x39961B4C vbios=94.02.42.40.91 "
           "board=rtx3080ti-mcu\n"
           "gpu handle=0x2000 name=\"NVIDIA GeForce RTX 2080 Ti\" subsystem=0x25891B4C vbios=90.02.17.40.88 "
           "board=rtx2080ti\n"
           "gpu handle=0x3000 name=\"NVIDIA GeForce RTX 3060\" subsystem=0x38971462 vbios=94.06.14.00.5A board=none\n"
           "gpu handle=0x4000 name=\"NVIDIA GeForce RTX 3080 Ti\" subsystem=0x39981B4C vbios=94.02.42.40.91 "
           "board=rtx3080ti-direct\n" +
           extraLines;
}
inline const std::vector<int> kProfileEntries = {0, 2};

// The memory regulator of the direct board stops answering: its Load and Apply lose transfers.
inline const char* kSilentFbvdd = "device address=0x44 state=silent\n";

// Every key away from the boards' power-on values; Sync off, so the window's Load stays on one board.
inline const char* kProfileIni =
    "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\nMSLL=4\r\n"
    "NVOCP=0\r\nMSOCP=1\r\nSYNC=0\r\n";

inline const char* kProfileSettings =
    "Auto off, NVVDD 1.25000 V, FBVDD 1.43750 V, MSVDD 1.18750 V, NV Freq. 500 kHz, MS Freq. 600 kHz, "
    "NVVDD Loadline Level 3, MSVDD Loadline Level 4, NVVDD OCP Disable, MSVDD OCP Enable";

// What --apply-profile prints on the mixed machine with that profile.
inline std::vector<std::string> MixedMachineApplied() {
    const std::string settings = kProfileSettings;
    return {
        "GPU 0 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]: applied " + settings + "; read back " +
            settings,
        "GPU 1 NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]: skipped, this board type has no profiles",
        "GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: applied " + settings + "; read back " +
            settings,
    };
}

// A machine with no supported board, and one whose NvAPI does not start.
inline const char* kNoBoardMachine =
    "gpu handle=0x3000 name=\"NVIDIA GeForce RTX 3060\" subsystem=0x38971462 vbios=94.06.14.00.5A board=none\n";
inline const char* kNvApiFailingMachine = "machine initialize=fail\n";

}  // namespace cli_cases
