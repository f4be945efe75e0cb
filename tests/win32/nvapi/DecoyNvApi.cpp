// A stranger's nvapi.dll, planted where a careless loader would look. Loaded into a process, it
// leaves the file "decoy-nvapi-loaded" beside itself, so a test can tell it was taken; it hands
// out no function.
#include <windows.h>

#include <cstdint>
#include <string>

namespace {

void LeaveMark(HINSTANCE self) {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return;
    path.resize(length);
    path.resize(path.find_last_of(L'\\') + 1);
    path += L"decoy-nvapi-loaded";
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMark(self);
    return TRUE;
}

extern "C" void* __cdecl nvapi_QueryInterface(std::uint32_t) { return nullptr; }
