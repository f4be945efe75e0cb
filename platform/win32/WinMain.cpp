// The Windows program: the core on nvapi.dll, the private-profile functions and raw Win32 dialogs.
#include <windows.h>


#include <string>
#include <utility>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/CommandLine.h"
#include "app/RunContext.h"
#include "profile/ProfileStore.h"
#include "platform/win32/Win32CommandLine.h"
#include "platform/win32/Win32DialogFramework.h"
#include "platform/win32/Win32NvApi.h"
#include "platform/win32/Win32PrivateProfile.h"
#include "platform/win32/Win32ProcessServices.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // nvapi.dll stays loaded until the process ends.
    static win32::Win32NvApi nvApi;
    win32::Win32PrivateProfile profileFunctions;
    LazyProfileStore profiles(profileFunctions);
    win32::Win32ProcessServices services;
    win32::Win32Sleeper sleeper;
    const RunContext context{nvApi, sleeper, profiles};
    std::vector<std::wstring> arguments = win32::CommandLineArguments();
    // A mistyped switch must not open the window: a script waiting for the run would hang.
    const CommandLine line = ParseCommandLine(arguments);
    if (line.RunsWithoutWindow()) return win32::RunCommandLine(line, arguments, services, context, profileFunctions, profiles);

    win32::Win32DialogFramework framework(instance);
    CHalvornApp app(framework, services, context, line);
    app.InitInstance();
    // The window sets no exit status of its own.
    return 0;
}
