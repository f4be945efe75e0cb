#include "platform/win32/Win32DialogFramework.h"

#include <windows.h>

#include <commctrl.h>

#include "platform/win32/Win32MessagePump.h"

namespace win32 {

namespace {

UINT MessageBoxStyle(MessageIcon icon) { return MB_OK | (icon == MessageIcon::Warning ? MB_ICONEXCLAMATION : 0u); }

// The template's controls, Win32 side: the twelve panel operations as the messages the common
// controls understand. A control the dialog does not have is left alone.
class Win32Controls final : public ControlPanel {
public:
    void Attach(HWND dialog) { dialog_ = dialog; }

    bool HasControl(int id) const override { return Item(id) != nullptr; }

    // A text the control already shows is left alone: rewriting an edit field puts its caret back
    // at the start, and the next key the user types would land in front of the others.
    void SetText(int id, const std::wstring& text) override {
        HWND item = Item(id);
        if (item && TextOf(item) != text) SetWindowTextW(item, text.c_str());
    }
    void Show(int id, bool visible) override {
        if (HWND item = Item(id)) ShowWindow(item, visible ? SW_SHOW : SW_HIDE);
    }
    void Enable(int id, bool enabled) override {
        if (HWND item = Item(id)) EnableWindow(item, enabled ? TRUE : FALSE);
    }
    void SetRange(int id, int min, int max) override {
        Send(id, TBM_SETRANGEMIN, FALSE, min);
        Send(id, TBM_SETRANGEMAX, FALSE, max);
    }
    void SetPos(int id, int pos) override { Send(id, TBM_SETPOS, TRUE, pos); }
    int GetPos(int id) const override { return static_cast<int>(Send(id, TBM_GETPOS, 0, 0)); }
    void ClearList(int id) override { Send(id, CB_RESETCONTENT, 0, 0); }
    void InsertItem(int id, int index, const std::wstring& text) override {
        if (HWND item = Item(id))
            SendMessageW(item, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
    }
    void SetSelection(int id, int index) override { Send(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    int GetSelection(int id) const override {
        HWND item = Item(id);
        return item ? static_cast<int>(SendMessageW(item, CB_GETCURSEL, 0, 0)) : CB_ERR;
    }
    void SetCheck(int id, bool checked) override {
        Send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool IsChecked(int id) const override { return Send(id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

    HWND Item(int id) const { return dialog_ ? GetDlgItem(dialog_, id) : nullptr; }

    static std::wstring TextOf(HWND item) {
        const int length = GetWindowTextLengthW(item);
        if (length <= 0) return std::wstring();
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        const int copied = GetWindowTextW(item, text.data(), length + 1);
        text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
        return text;
    }

private:
    LRESULT Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
        HWND item = Item(id);
        return item ? SendMessageW(item, message, wParam, lParam) : 0;
    }

    HWND dialog_ = nullptr;
};

}  // namespace

// One modal run of one template, from WM_INITDIALOG until WM_DESTROY.
class Win32Dialog final : public DialogWindow {
public:
    Win32Dialog(const res::DialogTemplate& dialog, DialogLogic& logic, HICON appIcon)
        : template_(dialog), logic_(logic), appIcon_(appIcon) {}

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Window() const { return window_; }

    ControlPanel& Controls() override { return controls_; }

    std::wstring GetText(int id) const override {
        HWND item = controls_.Item(id);
        return item ? Win32Controls::TextOf(item) : std::wstring();
    }

    void FocusAndSelectAll(int id) override {
        HWND item = controls_.Item(id);
        if (!item) return;
        // Through the dialog manager, so the default-button state follows the focus.
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
        SendMessageW(item, EM_SETSEL, 0, -1);
    }

    void EndDialog(int code) override {
        if (window_ && !destroyed_) ::EndDialog(window_, code);
    }

    std::uintptr_t SetTimer(std::uintptr_t id, unsigned periodMs) override {
        if (!window_ || destroyed_) return 0;
        return ::SetTimer(window_, id, periodMs, nullptr);
    }

    void KillTimer(std::uintptr_t id) override {
        if (window_) ::KillTimer(window_, id);
    }

    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override {
        ::MessageBoxW(window_, text.c_str(), caption.c_str(), MessageBoxStyle(icon));
    }

    void SetAppIcon() override {
        if (!window_ || !appIcon_) return;
        iconSet_ = true;
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));
    }

    void SetBusy(bool busy) override {
        if (busy) {
            // Disabling the focused button takes the focus away; it comes back at the end.
            HWND focus = GetFocus();
            focusBeforeBusy_ = focus && IsChild(window_, focus) ? focus : nullptr;
            busy_ = true;
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return;
        }
        // A click or key that came while no pause was pumping must not start the next operation.
        DropUserInput();
        busy_ = false;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        if (focusBeforeBusy_ && IsWindow(focusBeforeBusy_) && IsWindowEnabled(focusBeforeBusy_) &&
            IsWindowVisible(focusBeforeBusy_) && !GetFocus())
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focusBeforeBusy_), TRUE);
        focusBeforeBusy_ = nullptr;
    }

private:
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Command(int id, int code, HWND control);
    bool PaintMinimised();

    const res::DialogTemplate& template_;
    DialogLogic& logic_;
    HICON appIcon_;
    Win32Controls controls_;
    HWND window_ = nullptr;
    bool destroyed_ = false;
    bool iconSet_ = false;
    bool busy_ = false;
    HWND focusBeforeBusy_ = nullptr;
};

INT_PTR CALLBACK Win32Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Win32Dialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->controls_.Attach(window);
        return dialog->logic_.OnInitDialog(*dialog) ? TRUE : FALSE;
    }
    // Messages before WM_INITDIALOG (fonts, sizes) and after WM_DESTROY go to the default handling.
    auto* dialog = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    return dialog->Handle(message, wParam, lParam);
}

INT_PTR Win32Dialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (destroyed_) return FALSE;
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_HSCROLL:
            // Only trackbars: a window scroll bar sends no control handle.
            if (lParam != 0) {
                logic_.OnHScroll(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
                return TRUE;
            }
            return FALSE;
        case WM_TIMER:
            logic_.OnTimer(static_cast<std::uintptr_t>(wParam));
            return FALSE;
        case WM_DESTROY:
            destroyed_ = true;
            logic_.OnDestroy();
            return FALSE;
        case WM_PAINT:
            return PaintMinimised() ? TRUE : FALSE;
        case WM_SETCURSOR:
            // Over the whole window, controls included: they pass the question to their parent first.
            if (!busy_) return FALSE;
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_QUERYDRAGICON:
            // One of the few dialog messages whose result is the procedure's return value itself.
            return iconSet_ ? reinterpret_cast<INT_PTR>(appIcon_) : FALSE;
        default:
            return FALSE;
    }
}

void Win32Dialog::Command(int id, int code, HWND control) {
    if (id == IDOK) {
        logic_.OnOK();
        return;
    }
    if (id == IDCANCEL) {
        logic_.OnCancel();
        return;
    }
    // Menus and accelerators send no control handle; this program has neither.
    if (!control) return;
    const res::ControlTemplate* item = res::FindControl(template_, id);
    if (!item) return;
    switch (item->kind) {
        case res::ControlKind::PushButton:
        case res::ControlKind::CheckBox:
            if (code == BN_CLICKED) logic_.OnCommand(id, Notification::Clicked);
            break;
        case res::ControlKind::TextField:
        case res::ControlKind::DigitField:
        case res::ControlKind::ValueField:
            if (code == EN_CHANGE) logic_.OnCommand(id, Notification::TextChanged);
            break;
        case res::ControlKind::List:
            if (code == CBN_SELCHANGE) logic_.OnCommand(id, Notification::SelectionChanged);
            else if (code == CBN_EDITCHANGE) logic_.OnCommand(id, Notification::TextChanged);
            break;
        case res::ControlKind::Label:
        case res::ControlKind::StatusText:
        case res::ControlKind::Slider:
            break;
    }
}

bool Win32Dialog::PaintMinimised() {
    if (!iconSet_ || !IsIconic(window_)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, appIcon_);
    EndPaint(window_, &paint);
    return true;
}

Win32DialogFramework::Win32DialogFramework(void* instance)
    : instance_(instance),
      appIcon_(LoadIconW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(res::kAppIconId))) {}

int Win32DialogFramework::RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) {
    Win32Dialog window(dialog, logic, static_cast<HICON>(appIcon_));
    HWND owner = running_.empty() ? nullptr : running_.back()->Window();
    running_.push_back(&window);
    const INT_PTR code = DialogBoxParamW(static_cast<HINSTANCE>(instance_), MAKEINTRESOURCEW(dialog.id), owner,
                                         &Win32Dialog::Procedure, reinterpret_cast<LPARAM>(&window));
    running_.pop_back();
    return static_cast<int>(code);
}

void Win32DialogFramework::ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MessageBoxStyle(icon));
}

}  // namespace win32
