#pragma once
// Simulated machines described in a small text file, and the built-in machine the demo starts on.
//
// One statement per line; '#' starts a comment; blank lines are ignored. A statement is a keyword
// followed by key=value pairs; a value holding blanks is written in double quotes. Numbers are
// decimal or 0x-hexadecimal.
//
//   machine initialize=ok|fail enumerate=ok|fail [bus-functions=present|absent]
//   gpu handle=N name="TEXT" subsystem=N vbios=TEXT [bus=DDDD:BB:DD.F] board=KIND [fail=name,pci,vbios]
//   device address=N [port=N] state=answering|silent|absent|arbitrary [seed=N]
//   register address=N [port=N] register=N bytes=HH,HH,...
//   fail-transfer n=N
//
// GPUs are enumerated in the order they appear. `bus` is the GPU's PCI bus id in hexadecimal as
// lspci writes it, 0000:01:00.0 (or 01:00.0, in domain 0000); two GPUs cannot share one, and a GPU
// without it has none to give. `bus-functions=absent` plays a driver without GPU_GetBusId and
// GPU_GetBusSlotId, so no GPU has a bus id. `board` is none, rtx3080ti-mcu,
// rtx3080ti-direct or rtx2080ti. `device` and `register` act on the last GPU's devices: a silent
// device acknowledges nothing, an absent one is removed, an arbitrary one answers every read with
// noise from the seed; `register` sets a register's bytes behind the program's back.
// `fail-transfer n=N` makes the N-th I2C transfer of the run fail.
#include <string>

#include "sim/SimMachine.h"

namespace sim {

// On a mistake, `error` names the file, the line and what is wrong, and the machine is untouched.
bool LoadScenario(const std::string& text, const std::string& fileName, SimMachine& machine, std::string& error);
bool LoadScenarioFile(const std::string& path, SimMachine& machine, std::string& error);

// One MCU-driven RTX 3080 Ti, one RTX 3080 Ti whose MCU is silent, one RTX 2080 Ti, and a GPU
// without a supported board; enumerated out of handle order, each on its own PCI bus.
const std::string& DefaultScenarioText();
void LoadDefaultScenario(SimMachine& machine);

}  // namespace sim
