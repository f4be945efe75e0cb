#pragma once
// The Internal Test dialog: one raw I2C register read or write on one GPU's bus, for people who
// know what they are poking at. Knows nothing of boards.
#include <cstdint>
#include <string>

#include "dialog/DialogFramework.h"
#include "gpu/GpuBus.h"
#include "gpu/GpuList.h"
#include "res/ControlIds.h"  // testdlg::

class CDlgTest final : public DialogLogic {
public:
    // applicationName captions the framework's message about a bad port number.
    CDlgTest(const GpuList& gpus, std::uint32_t gpuIndex, std::wstring applicationName);

    bool OnInitDialog(DialogWindow& window) override;
    void OnCommand(int id, Notification what) override;
    void OnHScroll(int sliderId) override;
    void OnTimer(std::uintptr_t timerId) override;
    void OnOK() override;
    void OnCancel() override;
    void OnDestroy() override;

private:
    // true: controls to fields; false: fields to controls. False when the port field stopped the copy.
    bool UpdateData(bool saveAndValidate);
    void Validate(const std::wstring& text, std::uint32_t limit, std::wstring& echo, bool& valid);
    void ValidateAddress();
    void ValidateRegister();
    void ValidateData();
    void OnRead();
    void OnWrite();
    // The GPU's bus on the port the user gave.
    GpuBus Bus() const { return GpuBus(gpus_, gpuIndex_, port_); }
    std::uint8_t Address() const;
    std::uint8_t Register() const;
    std::uint32_t Length() const { return wordAccess_ ? 2u : 1u; }

    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    std::wstring addressText_;
    std::wstring registerText_;
    std::wstring dataText_;
    bool addressValid_ = false;
    bool registerValid_ = false;
    bool dataValid_ = false;
    std::uint8_t port_ = 0;
    bool wordAccess_ = false;
    bool msbFirst_ = false;
    std::wstring addressEcho_;
    std::wstring registerEcho_;
    std::wstring dataEcho_;
    std::wstring resultText_;

    std::wstring applicationName_;
    DialogWindow* window_ = nullptr;
    bool exchanging_ = false;
};
