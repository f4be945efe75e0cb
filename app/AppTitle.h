#pragma once

// The controller window's title, the single-instance lock's name and the registry key's name:
// a second start finds the running instance by it.
constexpr const wchar_t* kAppTitle = L"RTX Halvorn Controller";
