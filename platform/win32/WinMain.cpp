// The Windows program: the core on nvapi.dll, the private-profile functions and raw Win32 dialogs.
// The private-profile functions are the profile store's default here (Win32PrivateProfile.cpp).
#include <windows.h>


#include "app/CHalvornApp.h"
#include "gpu/NvApi.h"
#include "platform/win32/Win32DialogFramework.h"
#include "platform/win32/Win32NvApi.h"
#include "platform/win32/Win32ProcessServices.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static win32::Win32NvApi nvApi;
    nvapi::SetNvApi(&nvApi);

    win32::Win32ProcessServices services;
    win32::Win32DialogFramework framework(instance);
    win32::Win32Sleeper sleeper;
    CHalvornApp app(framework, services, sleeper, win32::CommandLineArguments());
    app.InitInstance();
    // The program sets no exit status of its own.
    return 0;
}
