// The Windows program: the core on nvapi.dll, the private-profile functions and raw Win32 dialogs.
#include <windows.h>


#include "app/CHalvornApp.h"
#include "gpu/NvApi.h"
#include "platform/win32/Win32DialogFramework.h"
#include "platform/win32/Win32NvApi.h"
#include "platform/win32/Win32PrivateProfile.h"
#include "platform/win32/Win32ProcessServices.h"
#include "profile/PrivateProfile.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static win32::Win32NvApi nvApi;
    static win32::Win32PrivateProfile privateProfile;
    nvapi::SetNvApi(&nvApi);
    profile::SetPrivateProfile(&privateProfile);

    win32::Win32ProcessServices services;
    win32::Win32DialogFramework framework(instance);
    win32::Win32Sleeper sleeper;
    CHalvornApp app(framework, services, sleeper, win32::CommandLineArguments());
    app.InitInstance();
    // The program sets no exit status of its own.
    return 0;
}
