#pragma once
// Process services for a program that is always the only one running: the locks are always had
// and nothing is ever raised. For runs of the whole program on the headless framework.
#include <string>

#include "app/ProcessServices.h"

class OnlyInstance final : public ProcessServices {
public:
    void InitCommonControls() override {}
    bool AcquireInstanceLock(const std::wstring&) override { return true; }
    void ReleaseInstanceLock() override {}
    bool AcquireMachineLock() override { return true; }
    void ReleaseMachineLock() override {}
    void RaiseRunningInstance(const std::wstring&) override {}
    std::wstring ApplicationName() const override { return L"HalvornController"; }
};
