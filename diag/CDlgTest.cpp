#include "diag/CDlgTest.h"

#include <utility>

#include "diag/HexText.h"

namespace {

constexpr std::uint32_t kByteLimit = 0xFF;
constexpr std::uint32_t kWordLimit = 0xFFFF;

// Clears the flag however the copy ends.
class ExchangeGuard {
public:
    explicit ExchangeGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~ExchangeGuard() { flag_ = false; }
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace

CDlgTest::CDlgTest(const GpuList& gpus, std::uint32_t gpuIndex, std::wstring applicationName)
    : gpus_(gpus), gpuIndex_(gpuIndex), applicationName_(std::move(applicationName)) {}

bool CDlgTest::UpdateData(bool saveAndValidate) {
    ExchangeGuard guard(exchanging_);
    ControlPanel& controls = window_->Controls();
    if (!saveAndValidate) {
        controls.SetText(testdlg::kAddress, addressText_);
        controls.SetText(testdlg::kRegister, registerText_);
        controls.SetText(testdlg::kData, dataText_);
        controls.SetText(testdlg::kPort, diag::FormatDecimal(port_));
        controls.SetText(testdlg::kAddressEcho, addressEcho_);
        controls.SetText(testdlg::kRegisterEcho, registerEcho_);
        controls.SetText(testdlg::kDataEcho, dataEcho_);
        controls.SetText(testdlg::kResult, resultText_);
        controls.SetCheck(testdlg::kWordAccess, wordAccess_);
        controls.SetCheck(testdlg::kMsbFirst, msbFirst_);
        return true;
    }

    addressText_ = window_->GetText(testdlg::kAddress);
    registerText_ = window_->GetText(testdlg::kRegister);
    dataText_ = window_->GetText(testdlg::kData);
    std::uint8_t port = 0;
    if (!diag::ParsePort(window_->GetText(testdlg::kPort), port)) {
        window_->ShowMessage(L"Enter an integer between 0 and 255.", applicationName_, MessageIcon::Warning);
        window_->FocusAndSelectAll(testdlg::kPort);
        return false;
    }
    port_ = port;
    addressEcho_ = window_->GetText(testdlg::kAddressEcho);
    registerEcho_ = window_->GetText(testdlg::kRegisterEcho);
    dataEcho_ = window_->GetText(testdlg::kDataEcho);
    resultText_ = window_->GetText(testdlg::kResult);
    wordAccess_ = controls.IsChecked(testdlg::kWordAccess);
    msbFirst_ = controls.IsChecked(testdlg::kMsbFirst);
    return true;
}

bool CDlgTest::OnInitDialog(DialogWindow& window) {
    window_ = &window;
    UpdateData(false);
    addressText_ = L"0";
    registerText_ = L"0";
    dataText_ = L"0";
    port_ = 0;
    wordAccess_ = false;
    msbFirst_ = false;
    UpdateData(false);
    return true;
}

void CDlgTest::OnCommand(int id, Notification what) {
    // Text put into a field by a copy must not look like the user's typing.
    if (exchanging_ || !window_) return;
    if (what == Notification::TextChanged) {
        if (id == testdlg::kAddress) ValidateAddress();
        else if (id == testdlg::kRegister) ValidateRegister();
        else if (id == testdlg::kData) ValidateData();
    } else if (what == Notification::Clicked) {
        if (id == testdlg::kWordAccess) ValidateData();
        else if (id == testdlg::kRead) OnRead();
        else if (id == testdlg::kWrite) OnWrite();
    }
}

void CDlgTest::Validate(const std::wstring& text, std::uint32_t limit, std::wstring& echo, bool& valid) {
    const std::uint32_t value = diag::ParseHex(text);
    valid = value <= limit;
    echo = valid ? diag::FormatHex(value, true) + L"h" : L"invalid";
    resultText_.clear();
    UpdateData(false);
}

void CDlgTest::ValidateAddress() {
    UpdateData(true);
    Validate(addressText_, kByteLimit, addressEcho_, addressValid_);
}

void CDlgTest::ValidateRegister() {
    UpdateData(true);
    Validate(registerText_, kByteLimit, registerEcho_, registerValid_);
}

void CDlgTest::ValidateData() {
    UpdateData(true);
    Validate(dataText_, wordAccess_ ? kWordLimit : kByteLimit, dataEcho_, dataValid_);
}

std::uint8_t CDlgTest::Address() const { return static_cast<std::uint8_t>(diag::ParseHex(addressText_) & 0xFFu); }

std::uint8_t CDlgTest::Register() const { return static_cast<std::uint8_t>(diag::ParseHex(registerText_) & 0xFFu); }

void CDlgTest::OnRead() {
    if (!addressValid_ || !registerValid_) return;
    UpdateData(true);
    std::uint8_t buffer[2] = {0, 0};
    if (Bus().Read(Address(), Register(), buffer, Length())) {
        std::uint32_t value = buffer[0];
        if (wordAccess_)
            value = msbFirst_ ? (std::uint32_t{buffer[0]} << 8) | buffer[1] : (std::uint32_t{buffer[1]} << 8) | buffer[0];
        dataText_ = diag::FormatHex(value, false);
        dataEcho_ = dataText_ + L"h";
        resultText_ = L"OK";
    } else {
        resultText_ = L"NG";
    }
    UpdateData(false);
}

void CDlgTest::OnWrite() {
    if (!addressValid_ || !registerValid_ || !dataValid_) return;
    UpdateData(true);
    const std::uint32_t value = diag::ParseHex(dataText_);
    std::uint8_t buffer[2] = {static_cast<std::uint8_t>(value & 0xFFu), static_cast<std::uint8_t>((value >> 8) & 0xFFu)};
    if (wordAccess_ && msbFirst_) std::swap(buffer[0], buffer[1]);
    resultText_ = Bus().Write(Address(), Register(), buffer, Length()) ? L"OK" : L"NG";
    UpdateData(false);
}

void CDlgTest::OnHScroll(int sliderId) { (void)sliderId; }

void CDlgTest::OnTimer(std::uintptr_t timerId) { (void)timerId; }

// Enter must not close the dialog: the user presses it after typing a value.
void CDlgTest::OnOK() {}

void CDlgTest::OnCancel() {
    if (window_) window_->EndDialog(kIdCancel);
}

void CDlgTest::OnDestroy() { window_ = nullptr; }
