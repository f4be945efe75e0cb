#pragma once
// The dialog framework without a window system. A dialog is a HeadlessPanel built from its
// template; the test acts as the user while it runs, through one scripted session per modal run,
// and the framework delivers the events as Win32 would: a click on a check box toggles it before
// the command arrives, every keystroke that changes an edit field and every new text the program
// puts into one sends a change notification, moving a slider sends a scroll notification. Keys go
// in at the field's caret, and a text the program puts into a field puts the caret back at the
// start, as Windows does; so a program that rewrites the field under the user's typing gets the
// keys in the wrong order here too. Message boxes, timers
// and end codes are recorded. A dialog opened from a handler runs nested, its owner disabled.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dialog/DialogFramework.h"
#include "headless/HeadlessPanel.h"
#include "res/DialogTemplates.h"

class HeadlessDialogFramework;

struct HeadlessMessage {
    std::wstring text;
    std::wstring caption;
    MessageIcon icon = MessageIcon::None;
    int ownerDialogId = 0;  // template ID of the owning window; 0 for none
};

class HeadlessDialog final : public DialogWindow {
public:
    HeadlessDialog(HeadlessDialogFramework& framework, const res::DialogTemplate& dialog, DialogLogic& logic,
                   HeadlessDialog* owner);
    ~HeadlessDialog() override;
    HeadlessDialog(const HeadlessDialog&) = delete;
    HeadlessDialog& operator=(const HeadlessDialog&) = delete;

    // DialogWindow, for the program.
    ControlPanel& Controls() override;
    std::wstring GetText(int id) const override;
    void FocusAndSelectAll(int id) override;
    void EndDialog(int code) override;
    std::uintptr_t SetTimer(std::uintptr_t id, unsigned periodMs) override;
    void KillTimer(std::uintptr_t id) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;
    void SetAppIcon() override;
    void SetBusy(bool busy) override;

    // What the user sees.
    int TemplateId() const { return template_.id; }
    const HeadlessPanel& Panel() const { return panel_; }
    std::wstring Text(int id) const { return GetText(id); }
    HeadlessDialog* Owner() const { return owner_; }
    // Until the program ends it; the user can act only meanwhile.
    bool IsRunning() const { return !ended_ && !destroyed_; }
    bool IsDestroyed() const { return destroyed_; }
    // False while a dialog it owns runs.
    bool IsEnabled() const { return enabled_; }
    int EndCode() const { return endCode_; }
    bool HasAppIcon() const { return appIcon_; }
    int FocusedControl() const { return focus_; }
    // The focused field's whole text is selected, so the next key replaces it.
    bool FocusTextSelected() const;
    bool IsTimerRunning(std::uintptr_t id) const { return timers_.count(id) != 0; }
    // While an operation runs: the wait cursor shows and the user's input is dropped.
    bool IsBusy() const { return busy_; }
    // How many operations have run so far.
    int BusySpells() const { return busySpells_; }

    // What the user does. Each returns false when the window would not take the action: it has
    // ended, is disabled or busy, or the control is missing, hidden, disabled or of another kind.
    bool Click(int id);                                // push button or check box
    // Selects the field's whole text and types over it, key by key at the caret; an empty text
    // is the Delete key on the selection.
    bool TypeText(int id, const std::wstring& text);
    // Keys into the field at its caret, as they come (L'\b' is Backspace).
    bool TypeKeys(int id, const std::wstring& keys);
    // A click into the field's text: the focus, and the caret at pos.
    bool PlaceCaret(int id, int pos);
    bool PasteText(int id, const std::wstring& text);  // replaces the text at once, digits-only fields too
    bool SelectItem(int id, int index);                // picks a list item
    bool MoveSlider(int id, int pos);
    bool PressEnter();
    bool PressEsc();
    bool CloseBox();
    // A notification as Windows may send it without the user's part, e.g. a list reporting a
    // selection change while nothing is selected, or another program sending a click; it arrives
    // also while the window is busy.
    bool Notify(int id, Notification what);
    // One tick of a running timer; ticks arrive also while the window is disabled or busy.
    bool Tick(std::uintptr_t timerId);

private:
    friend class HeadlessDialogFramework;
    class NotifyingControls;

    void Create();
    void Destroy();
    bool CanAct(int id) const;
    bool CanType(int id) const;
    void TypeKey(int id, wchar_t key);
    void Command(int id, Notification what);
    static bool IsEdit(res::ControlKind kind);

    HeadlessDialogFramework& framework_;
    const res::DialogTemplate& template_;
    DialogLogic* logic_;
    HeadlessDialog* owner_;
    HeadlessPanel panel_;
    std::unique_ptr<NotifyingControls> controls_;
    bool ended_ = false;
    bool destroyed_ = false;
    bool enabled_ = true;
    bool busy_ = false;
    int busySpells_ = 0;
    int endCode_ = 0;
    bool appIcon_ = false;
    int focus_ = 0;
    std::set<std::uintptr_t> timers_;
};

class HeadlessDialogFramework final : public DialogFramework {
public:
    using Session = std::function<void(HeadlessDialog&)>;

    // The user's part in a modal run, given the running dialog after OnInitDialog. Sessions are
    // taken one per dialog that is still running after its initialisation, in the order the
    // dialogs open, nested ones included. When a session ends with its dialog still running, or
    // no session is left, the user closes the dialog with its close box.
    void AddSession(Session session) { sessions_.push_back(std::move(session)); }
    std::size_t PendingSessions() const { return sessions_.size(); }

    // Called while a message box is on screen, before the user closes it.
    void OnMessageBox(std::function<void(const HeadlessMessage&)> hook) { messageHook_ = std::move(hook); }
    // Makes SetTimer fail, as it may when the system is out of timers.
    void FailTimers(bool fail = true) { failTimers_ = fail; }

    int RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;

    const std::vector<HeadlessMessage>& Messages() const { return messages_; }
    // Every dialog opened so far, in opening order; they stay readable after they closed.
    std::size_t DialogCount() const { return dialogs_.size(); }
    const HeadlessDialog& Dialog(std::size_t index) const { return *dialogs_.at(index); }
    // What happened, in order: "open 104", "message 104 Device not support. | RTX Halvorn
    // Controller | none", "timer 104 set 6281 1000", "end 104 2", "destroy 104", ...
    const std::vector<std::string>& Journal() const { return journal_; }
    // Dialogs that would not close when the user closed them.
    int StuckDialogs() const { return stuck_; }

private:
    friend class HeadlessDialog;
    void Record(std::string line) { journal_.push_back(std::move(line)); }
    void ShowMessage(HeadlessMessage message);

    std::deque<Session> sessions_;
    std::function<void(const HeadlessMessage&)> messageHook_;
    bool failTimers_ = false;
    std::vector<std::unique_ptr<HeadlessDialog>> dialogs_;
    std::vector<HeadlessDialog*> running_;
    std::vector<HeadlessMessage> messages_;
    std::vector<std::string> journal_;
    int stuck_ = 0;
};
