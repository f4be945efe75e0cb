#include "headless/HeadlessDialogFramework.h"

#include <utility>

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    return out;
}

std::string Owner(int dialogId) { return dialogId == 0 ? std::string("-") : std::to_string(dialogId); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Controls a user can reach with Tab; the first of them gets the focus when a dialog opens.
bool IsTabStop(res::ControlKind kind) {
    return kind != res::ControlKind::Label && kind != res::ControlKind::StatusText;
}

}  // namespace

// The program's view of the controls: what Win32 does on top of the plain control model, i.e.
// WM_SETTEXT on an edit control sends EN_CHANGE to the dialog. A text the control already shows
// is not set again, as in the Win32 realization, so the caret stays where the user left it.
class HeadlessDialog::NotifyingControls final : public ControlPanel {
public:
    explicit NotifyingControls(HeadlessDialog& dialog) : dialog_(dialog), panel_(dialog.panel_) {}

    bool HasControl(int id) const override { return panel_.HasControl(id); }
    void SetText(int id, const std::wstring& text) override {
        if (!panel_.HasControl(id) || panel_.Text(id) == text) return;
        panel_.SetText(id, text);
        if (IsEdit(panel_.Get(id).kind)) dialog_.Command(id, Notification::TextChanged);
    }
    void Show(int id, bool visible) override { panel_.Show(id, visible); }
    void Enable(int id, bool enabled) override { panel_.Enable(id, enabled); }
    void SetRange(int id, int min, int max) override { panel_.SetRange(id, min, max); }
    void SetPos(int id, int pos) override { panel_.SetPos(id, pos); }
    int GetPos(int id) const override { return panel_.GetPos(id); }
    void ClearList(int id) override { panel_.ClearList(id); }
    void InsertItem(int id, int index, const std::wstring& text) override { panel_.InsertItem(id, index, text); }
    void SetSelection(int id, int index) override { panel_.SetSelection(id, index); }
    int GetSelection(int id) const override { return panel_.GetSelection(id); }
    void SetCheck(int id, bool checked) override { panel_.SetCheck(id, checked); }
    bool IsChecked(int id) const override { return panel_.IsChecked(id); }

private:
    HeadlessDialog& dialog_;
    HeadlessPanel& panel_;
};

HeadlessDialog::HeadlessDialog(HeadlessDialogFramework& framework, const res::DialogTemplate& dialog,
                               DialogLogic& logic, HeadlessDialog* owner)
    : framework_(framework),
      template_(dialog),
      logic_(&logic),
      owner_(owner),
      panel_(dialog),
      controls_(std::make_unique<NotifyingControls>(*this)) {}

HeadlessDialog::~HeadlessDialog() = default;

bool HeadlessDialog::IsEdit(res::ControlKind kind) {
    return kind == res::ControlKind::TextField || kind == res::ControlKind::DigitField ||
           kind == res::ControlKind::ValueField;
}

ControlPanel& HeadlessDialog::Controls() { return *controls_; }

std::wstring HeadlessDialog::GetText(int id) const { return panel_.HasControl(id) ? panel_.Text(id) : std::wstring(); }

void HeadlessDialog::FocusAndSelectAll(int id) {
    focus_ = id;
    if (panel_.HasControl(id)) panel_.UserSelectAll(id);
}

bool HeadlessDialog::FocusTextSelected() const {
    if (!panel_.HasControl(focus_)) return false;
    const res::ControlKind kind = panel_.Get(focus_).kind;
    return (IsEdit(kind) || kind == res::ControlKind::List) && panel_.WholeTextSelected(focus_);
}

void HeadlessDialog::EndDialog(int code) {
    if (destroyed_) return;
    ended_ = true;
    endCode_ = code;
    framework_.Record("end " + std::to_string(template_.id) + " " + std::to_string(code));
}

std::uintptr_t HeadlessDialog::SetTimer(std::uintptr_t id, unsigned periodMs) {
    const std::string what = std::to_string(id) + " " + std::to_string(periodMs);
    if (destroyed_ || framework_.failTimers_) {
        framework_.Record("timer " + std::to_string(template_.id) + " set-failed " + what);
        return 0;
    }
    timers_.insert(id);
    framework_.Record("timer " + std::to_string(template_.id) + " set " + what);
    return id;
}

void HeadlessDialog::KillTimer(std::uintptr_t id) {
    timers_.erase(id);
    framework_.Record("timer " + std::to_string(template_.id) + " kill " + std::to_string(id));
}

void HeadlessDialog::ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    framework_.ShowMessage(HeadlessMessage{text, caption, icon, template_.id});
}

void HeadlessDialog::SetAppIcon() { appIcon_ = true; }

void HeadlessDialog::SetBusy(bool busy) {
    if (busy && !busy_) ++busySpells_;
    busy_ = busy;
}

void HeadlessDialog::Create() {
    if (!logic_->OnInitDialog(*this)) return;
    // A true return hands the focus to the first control the Tab key reaches.
    for (const res::ControlTemplate& control : template_.controls) {
        if (control.id < 0 || !panel_.HasControl(control.id)) continue;
        const HeadlessPanel::Control& state = panel_.Get(control.id);
        if (!IsTabStop(state.kind) || !state.visible || !state.enabled) continue;
        focus_ = control.id;
        // Tab into a field selects its text.
        if (IsEdit(state.kind)) panel_.UserSelectAll(control.id);
        break;
    }
}

void HeadlessDialog::Destroy() {
    framework_.Record("destroy " + std::to_string(template_.id));
    logic_->OnDestroy();
    logic_ = nullptr;
    destroyed_ = true;
    // Windows kills a window's timers with the window.
    timers_.clear();
}

void HeadlessDialog::Command(int id, Notification what) {
    if (logic_) logic_->OnCommand(id, what);
}

bool HeadlessDialog::CanAct(int id) const {
    if (!IsRunning() || !enabled_ || busy_ || !panel_.HasControl(id)) return false;
    const HeadlessPanel::Control& control = panel_.Get(id);
    return control.visible && control.enabled;
}

bool HeadlessDialog::Click(int id) {
    if (!CanAct(id)) return false;
    const res::ControlKind kind = panel_.Get(id).kind;
    if (kind != res::ControlKind::PushButton && kind != res::ControlKind::CheckBox) return false;
    focus_ = id;
    if (kind == res::ControlKind::CheckBox) panel_.UserClickCheck(id);
    Command(id, Notification::Clicked);
    return true;
}

bool HeadlessDialog::CanType(int id) const {
    if (!CanAct(id)) return false;
    const res::ControlKind kind = panel_.Get(id).kind;
    return kind == res::ControlKind::TextField || kind == res::ControlKind::DigitField ||
           kind == res::ControlKind::List;
}

void HeadlessDialog::TypeKey(int id, wchar_t key) {
    // A digits-only field refuses other keys, and a refused key leaves the text alone.
    if (panel_.Get(id).kind == res::ControlKind::DigitField && !IsDigit(key) && key != L'\b') return;
    if (panel_.UserTypeKey(id, key)) Command(id, Notification::TextChanged);
}

bool HeadlessDialog::TypeText(int id, const std::wstring& text) {
    if (!CanType(id)) return false;
    focus_ = id;
    panel_.UserSelectAll(id);
    // The Delete key on the selected text; nothing changes when there is no text.
    if (text.empty()) return TypeKeys(id, L"\b");
    return TypeKeys(id, text);
}

bool HeadlessDialog::TypeKeys(int id, const std::wstring& keys) {
    if (!CanType(id)) return false;
    focus_ = id;
    for (wchar_t key : keys) {
        // A handler that moved the focus elsewhere gets the remaining keys sent somewhere else.
        if (!IsRunning() || !enabled_ || focus_ != id) break;
        TypeKey(id, key);
    }
    return true;
}

bool HeadlessDialog::PlaceCaret(int id, int pos) {
    if (!CanType(id)) return false;
    focus_ = id;
    panel_.UserPlaceCaret(id, pos);
    return true;
}

bool HeadlessDialog::PasteText(int id, const std::wstring& text) {
    if (!CanType(id)) return false;
    focus_ = id;
    panel_.UserTypeText(id, text);
    Command(id, Notification::TextChanged);
    return true;
}

bool HeadlessDialog::SelectItem(int id, int index) {
    if (!CanAct(id) || panel_.Get(id).kind != res::ControlKind::List) return false;
    if (!panel_.UserSelectItem(id, index)) return false;
    focus_ = id;
    Command(id, Notification::SelectionChanged);
    return true;
}

bool HeadlessDialog::MoveSlider(int id, int pos) {
    if (!CanAct(id) || panel_.Get(id).kind != res::ControlKind::Slider) return false;
    if (!panel_.UserMoveSlider(id, pos)) return false;
    focus_ = id;
    // Sent even when the thumb was already there, as the end of a drag is.
    if (logic_) logic_->OnHScroll(id);
    return true;
}

bool HeadlessDialog::PressEnter() {
    if (!IsRunning() || !enabled_ || busy_) return false;
    logic_->OnOK();
    return true;
}

bool HeadlessDialog::PressEsc() {
    if (!IsRunning() || !enabled_ || busy_) return false;
    logic_->OnCancel();
    return true;
}

bool HeadlessDialog::CloseBox() { return PressEsc(); }

bool HeadlessDialog::Notify(int id, Notification what) {
    if (!IsRunning() || !panel_.HasControl(id)) return false;
    Command(id, what);
    return true;
}

bool HeadlessDialog::Tick(std::uintptr_t timerId) {
    if (!IsRunning() || timers_.count(timerId) == 0) return false;
    logic_->OnTimer(timerId);
    return true;
}

int HeadlessDialogFramework::RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) {
    HeadlessDialog* owner = running_.empty() ? nullptr : running_.back();
    dialogs_.push_back(std::make_unique<HeadlessDialog>(*this, dialog, logic, owner));
    HeadlessDialog& window = *dialogs_.back();
    running_.push_back(&window);
    if (owner) owner->enabled_ = false;
    Record("open " + std::to_string(dialog.id));

    window.Create();
    if (window.IsRunning() && !sessions_.empty()) {
        Session session = std::move(sessions_.front());
        sessions_.pop_front();
        session(window);
    }
    if (window.IsRunning()) window.CloseBox();
    if (window.IsRunning()) {
        ++stuck_;
        window.EndDialog(-1);
    }
    window.Destroy();

    running_.pop_back();
    if (owner) owner->enabled_ = true;
    return window.EndCode();
}

void HeadlessDialogFramework::ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    ShowMessage(HeadlessMessage{text, caption, icon, 0});
}

void HeadlessDialogFramework::ShowMessage(HeadlessMessage message) {
    Record("message " + Owner(message.ownerDialogId) + " " + Narrow(message.text) + " | " + Narrow(message.caption) +
           " | " + (message.icon == MessageIcon::Warning ? "warning" : "none"));
    messages_.push_back(message);
    if (messageHook_) messageHook_(message);
}
