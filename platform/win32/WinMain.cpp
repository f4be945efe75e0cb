// The Windows program: the core on nvapi.dll, the private-profile functions and raw Win32 dialogs.
// The private-profile functions are the profile store's default here (Win32PrivateProfile.cpp).
#include <windows.h>


#include <string>
#include <utility>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/CommandLine.h"
#include "gpu/NvApi.h"
#include "platform/win32/Win32CommandLine.h"
#include "platform/win32/Win32DialogFramework.h"
#include "platform/win32/Win32NvApi.h"
#include "platform/win32/Win32ProcessServices.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static win32::Win32NvApi nvApi;
    nvapi::SetNvApi(&nvApi);

    win32::Win32ProcessServices services;
    win32::Win32Sleeper sleeper;
    std::vector<std::wstring> arguments = win32::CommandLineArguments();
    const Command command = FindCommand(arguments);
    if (command != Command::Window) return win32::RunCommandLine(command, arguments, services, sleeper);

    win32::Win32DialogFramework framework(instance);
    CHalvornApp app(framework, services, sleeper, std::move(arguments));
    app.InitInstance();
    // The window sets no exit status of its own.
    return 0;
}
