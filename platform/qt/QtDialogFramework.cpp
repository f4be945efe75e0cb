#include "platform/qt/QtDialogFramework.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <set>

#include "platform/qt/AppIcon.h"
#include "platform/qt/QtBusy.h"

namespace qtfront {

namespace {

using Kind = res::ControlKind;

QString ToQt(const std::wstring& text) { return QString::fromStdWString(text); }
QString ToQt(const wchar_t* text) { return text ? QString::fromWCharArray(text) : QString(); }

// Windows' MulDiv: the product over the divisor, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    if (denominator == 0) return 0;
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

// Controls a user reaches with Tab; static texts are passed over.
bool IsTabStop(Kind kind) { return kind != Kind::Label && kind != Kind::StatusText; }

bool IsEdit(Kind kind) { return kind == Kind::ValueField || kind == Kind::TextField || kind == Kind::DigitField; }

Qt::WindowFlags FlagsOf(const res::DialogTemplate& dialog) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (dialog.minimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

// A trackbar's page is a fifth of its range unless told otherwise.
int TrackbarPage(int min, int max) {
    const long long page = (static_cast<long long>(max) - min) / 5;
    return static_cast<int>(std::clamp<long long>(page, 1, INT_MAX));
}

// The templates were measured in the Windows dialog font; a wider font here would cut a label
// short ("NVVDD" in 23 units), so a label grows to its text. Labels have room to their right.
void FitLabel(QLabel* label) {
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    if (needed > label->width()) label->resize(needed, label->height());
}

}  // namespace

DialogUnits DialogUnits::Of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QString::fromLatin1("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    // Rounded as Windows rounds the average over the 52 letters.
    units.baseX = std::max(1, (letters / 26 + 1) / 2);
    units.baseY = std::max(1, metrics.height());
    return units;
}

int DialogUnits::X(int units) const { return MulDiv(units, baseX, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, baseY, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

void ShowMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, ToQt(caption),
                    ToQt(text), QMessageBox::Ok, owner);
    box.setObjectName(QString::fromLatin1("messageBox"));
    box.exec();
}

// One dialog from its creation to its destruction, and the Win32 control semantics on its widgets.
class QtDialog final : public QDialog, public DialogWindow {
public:
    QtDialog(const res::DialogTemplate& dialog, DialogLogic& logic, QWidget* owner, BusyState& programBusy);
    ~QtDialog() override = default;
    QtDialog(const QtDialog&) = delete;
    QtDialog& operator=(const QtDialog&) = delete;

    // Initialises, runs modally unless the initialisation ended it, destroys; the end code.
    int Run();

    ControlPanel& Controls() override { return panel_; }
    std::wstring GetText(int id) const override;
    void FocusAndSelectAll(int id) override;
    void EndDialog(int code) override;
    std::uintptr_t SetTimer(std::uintptr_t id, unsigned periodMs) override;
    void KillTimer(std::uintptr_t id) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;
    void SetAppIcon() override;
    void SetBusy(bool busy) override;

    // Qt asks these on Esc, the close box and default buttons; the dialog's logic decides.
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Control {
        Kind kind = Kind::Label;
        QWidget* widget = nullptr;
        int selection = -1;  // lists: CB_GETCURSEL, kept apart from what the field shows
    };

    class Panel final : public ControlPanel {
    public:
        explicit Panel(QtDialog& dialog) : dialog_(dialog) {}
        bool HasControl(int id) const override { return dialog_.Find(id) != nullptr; }
        void SetText(int id, const std::wstring& text) override;
        void Show(int id, bool visible) override;
        void Enable(int id, bool enabled) override;
        void SetRange(int id, int min, int max) override;
        void SetPos(int id, int pos) override;
        int GetPos(int id) const override;
        void ClearList(int id) override;
        void InsertItem(int id, int index, const std::wstring& text) override;
        void SetSelection(int id, int index) override;
        int GetSelection(int id) const override;
        void SetCheck(int id, bool checked) override;
        bool IsChecked(int id) const override;

    private:
        QtDialog& dialog_;
    };

    QWidget* CreateControl(const res::ControlTemplate& control, const DialogUnits& units);
    Control* Find(int id);
    const Control* Find(int id) const;
    Control* Find(int id, Kind kind);
    const Control* Find(int id, Kind kind) const;
    // What the combo box shows for its selection; without one, the given text stays in the field.
    static void ShowSelection(const Control& list, const QString& textWithoutSelection);
    void FocusFirstTabStop();
    bool HandleDialogKey(QKeyEvent* event);
    static bool TrackbarKey(QSlider* slider, QKeyEvent* event);
    void Command(int id, Notification what);
    void HScroll(int id);
    void Destroy();

    const res::DialogTemplate& template_;
    DialogLogic* logic_;
    BusyState& programBusy_;
    Panel panel_{*this};
    std::map<int, Control> controls_;
    std::map<std::uintptr_t, QTimer*> timers_;
    // Ticks that came while busy, delivered once each when the operation has ended.
    std::set<std::uintptr_t> heldTicks_;
    bool busy_ = false;
    QPointer<QWidget> focusBeforeBusy_;
    bool ended_ = false;
    bool destroyed_ = false;
    int endCode_ = 0;
};

QtDialog::QtDialog(const res::DialogTemplate& dialog, DialogLogic& logic, QWidget* owner, BusyState& programBusy)
    : QDialog(owner, FlagsOf(dialog)), template_(dialog), logic_(&logic), programBusy_(programBusy) {
    setObjectName(QString::fromLatin1("dlg") + QString::number(dialog.id));
    setWindowTitle(ToQt(dialog.title));
    setModal(true);
    const DialogUnits units = DialogUnits::Of(font());
    setFixedSize(units.X(dialog.width), units.Y(dialog.height));

    QWidget* previousTabStop = nullptr;
    for (const res::ControlTemplate& control : dialog.controls) {
        QWidget* widget = CreateControl(control, units);
        if (control.id >= 0) {
            widget->setObjectName(QString::fromLatin1("ctl") + QString::number(control.id));
            controls_[control.id] = Control{control.kind, widget, -1};
        }
        widget->setVisible(control.visible);
        if (IsTabStop(control.kind)) {
            if (previousTabStop) setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
            widget->installEventFilter(this);
        }
    }
}

QWidget* QtDialog::CreateControl(const res::ControlTemplate& control, const DialogUnits& units) {
    const int id = control.id;
    QWidget* widget = nullptr;
    switch (control.kind) {
        case Kind::Label:
        case Kind::StatusText: {
            auto* label = new QLabel(ToQt(control.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // Status texts may run onto a second line; a label stays on one (see FitLabel).
            label->setWordWrap(control.kind == Kind::StatusText);
            widget = label;
            break;
        }
        case Kind::Slider: {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setTickPosition(QSlider::NoTicks);
            slider->setRange(0, 100);  // a new trackbar's range
            slider->setSingleStep(1);
            slider->setPageStep(TrackbarPage(0, 100));
            slider->setTracking(true);
            // Only the user's actions arrive here; the position is already the new one (GetPos
            // reads the slider position, which leads the value during the action).
            connect(slider, &QAbstractSlider::actionTriggered, this, [this, id](int) { HScroll(id); });
            connect(slider, &QAbstractSlider::sliderReleased, this, [this, id] { HScroll(id); });
            widget = slider;
            break;
        }
        case Kind::ValueField:
        case Kind::TextField:
        case Kind::DigitField: {
            auto* edit = new QLineEdit(this);
            edit->setReadOnly(control.kind == Kind::ValueField);
            if (control.kind == Kind::DigitField)
                edit->setValidator(
                    new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1("[0-9]*")), edit));
            connect(edit, &QLineEdit::textEdited, this, [this, id](const QString&) {
                Command(id, Notification::TextChanged);
            });
            widget = edit;
            break;
        }
        case Kind::List: {
            auto* combo = new QComboBox(this);
            combo->setEditable(true);
            // The field is free text: nothing typed becomes an item or completes to one.
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            combo->setDuplicatesEnabled(true);
            connect(combo, &QComboBox::activated, this, [this, id](int index) {
                if (Control* list = Find(id, Kind::List)) list->selection = index;
                Command(id, Notification::SelectionChanged);
            });
            if (QLineEdit* field = combo->lineEdit()) {
                field->installEventFilter(this);
                connect(field, &QLineEdit::textEdited, this, [this, id](const QString&) {
                    if (Control* list = Find(id, Kind::List)) list->selection = -1;
                    Command(id, Notification::TextChanged);
                });
            }
            QRect place = units.Rect(control.x, control.y, control.width, control.height);
            // The template's height includes the open list; closed, the box is as high as its field.
            place.setHeight(combo->sizeHint().height());
            combo->setGeometry(place);
            return combo;
        }
        case Kind::CheckBox: {
            auto* box = new QCheckBox(ToQt(control.text), this);
            connect(box, &QCheckBox::clicked, this, [this, id](bool) { Command(id, Notification::Clicked); });
            widget = box;
            break;
        }
        case Kind::PushButton: {
            auto* button = new QPushButton(ToQt(control.text), this);
            button->setAutoDefault(false);
            button->setDefault(false);
            connect(button, &QPushButton::clicked, this, [this, id](bool) { Command(id, Notification::Clicked); });
            widget = button;
            break;
        }
    }
    widget->setGeometry(units.Rect(control.x, control.y, control.width, control.height));
    if (control.kind == Kind::Label) FitLabel(static_cast<QLabel*>(widget));
    return widget;
}

QtDialog::Control* QtDialog::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const QtDialog::Control* QtDialog::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

QtDialog::Control* QtDialog::Find(int id, Kind kind) {
    Control* control = Find(id);
    return control && control->kind == kind ? control : nullptr;
}

const QtDialog::Control* QtDialog::Find(int id, Kind kind) const {
    const Control* control = Find(id);
    return control && control->kind == kind ? control : nullptr;
}

int QtDialog::Run() {
    const bool defaultFocus = logic_->OnInitDialog(*this);
    if (!ended_) {
        if (defaultFocus) FocusFirstTabStop();
        const int result = exec();
        // Hidden by something other than EndDialog: the run is over all the same.
        if (!ended_) endCode_ = result;
    }
    Destroy();
    return endCode_;
}

void QtDialog::FocusFirstTabStop() {
    for (const res::ControlTemplate& control : template_.controls) {
        if (control.id < 0 || !IsTabStop(control.kind)) continue;
        const Control* found = Find(control.id);
        if (!found || found->widget->isHidden() || !found->widget->isEnabled()) continue;
        found->widget->setFocus(Qt::TabFocusReason);
        if (IsEdit(found->kind)) static_cast<QLineEdit*>(found->widget)->selectAll();
        return;
    }
}

void QtDialog::Destroy() {
    if (logic_) {
        DialogLogic* logic = logic_;
        logic->OnDestroy();
    }
    logic_ = nullptr;
    destroyed_ = true;
    // A window's timers die with it.
    for (auto& entry : timers_) {
        entry.second->stop();
        delete entry.second;
    }
    timers_.clear();
}

void QtDialog::Command(int id, Notification what) {
    if (logic_) logic_->OnCommand(id, what);
}

void QtDialog::HScroll(int id) {
    if (logic_) logic_->OnHScroll(id);
}

std::wstring QtDialog::GetText(int id) const {
    const Control* control = Find(id);
    if (!control) return {};
    switch (control->kind) {
        case Kind::Label:
        case Kind::StatusText:
            return static_cast<QLabel*>(control->widget)->text().toStdWString();
        case Kind::ValueField:
        case Kind::TextField:
        case Kind::DigitField:
            return static_cast<QLineEdit*>(control->widget)->text().toStdWString();
        case Kind::List:
            return static_cast<QComboBox*>(control->widget)->currentText().toStdWString();
        case Kind::CheckBox:
        case Kind::PushButton:
            return static_cast<QAbstractButton*>(control->widget)->text().toStdWString();
        case Kind::Slider:
            break;
    }
    return {};
}

void QtDialog::FocusAndSelectAll(int id) {
    const Control* control = Find(id);
    if (!control) return;
    control->widget->setFocus(Qt::OtherFocusReason);
    if (IsEdit(control->kind)) {
        static_cast<QLineEdit*>(control->widget)->selectAll();
    } else if (control->kind == Kind::List) {
        if (QLineEdit* field = static_cast<QComboBox*>(control->widget)->lineEdit()) field->selectAll();
    }
}

void QtDialog::EndDialog(int code) {
    if (destroyed_) return;
    ended_ = true;
    endCode_ = code;
    // During the initialisation the dialog is not shown yet, and Run will not start the modal loop.
    if (isVisible()) QDialog::done(code);
}

std::uintptr_t QtDialog::SetTimer(std::uintptr_t id, unsigned periodMs) {
    if (destroyed_) return 0;
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1("timer") + QString::number(id));
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (busy_) {
                heldTicks_.insert(id);
                return;
            }
            if (logic_) logic_->OnTimer(id);
        });
    }
    // Setting a running timer again restarts it with the new period, as SetTimer does.
    timer->start(static_cast<int>(std::min<unsigned>(periodMs, INT_MAX)));
    return id;
}

void QtDialog::KillTimer(std::uintptr_t id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // The timer may be the one whose tick runs right now.
    it->second->deleteLater();
    timers_.erase(it);
}

void QtDialog::ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    ShowMessageBox(this, text, caption, icon);
}

void QtDialog::SetAppIcon() { setWindowIcon(AppIcon()); }

void QtDialog::SetBusy(bool busy) {
    if (busy) {
        // Disabling the focused button moves the focus on; it comes back at the end.
        focusBeforeBusy_ = focusWidget();
        busy_ = true;
        programBusy_.Begin();
        return;
    }
    programBusy_.End();
    busy_ = false;
    if (focusBeforeBusy_ && focusBeforeBusy_->isEnabled() && focusBeforeBusy_->isVisible())
        focusBeforeBusy_->setFocus(Qt::OtherFocusReason);
    focusBeforeBusy_.clear();
    // Held ticks arrive from the event loop, after the handler that ran the operation.
    for (std::uintptr_t id : heldTicks_)
        QTimer::singleShot(0, this, [this, id] {
            if (logic_ && timers_.count(id) != 0) logic_->OnTimer(id);
        });
    heldTicks_.clear();
}

void QtDialog::accept() {
    if (logic_ && !ended_) logic_->OnOK();
}

void QtDialog::reject() {
    if (logic_ && !ended_) logic_->OnCancel();
}

bool QtDialog::HandleDialogKey(QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            if (logic_ && !ended_) logic_->OnOK();
            return true;
        case Qt::Key_Escape:
            event->accept();
            reject();
            return true;
        default:
            return false;
    }
}

void QtDialog::keyPressEvent(QKeyEvent* event) {
    if (!HandleDialogKey(event)) QDialog::keyPressEvent(event);
}

// A trackbar takes Up and PageUp towards its minimum and Down and PageDown towards its maximum,
// the other way round from a QSlider; Left, Right, Home and End agree.
bool QtDialog::TrackbarKey(QSlider* slider, QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    switch (event->key()) {
        case Qt::Key_Up:
            action = QAbstractSlider::SliderSingleStepSub;
            break;
        case Qt::Key_Down:
            action = QAbstractSlider::SliderSingleStepAdd;
            break;
        case Qt::Key_PageUp:
            action = QAbstractSlider::SliderPageStepSub;
            break;
        case Qt::Key_PageDown:
            action = QAbstractSlider::SliderPageStepAdd;
            break;
        default:
            return false;
    }
    slider->triggerAction(action);
    event->accept();
    return true;
}

// Enter and Esc belong to the dialog whatever control has the focus, as in a Win32 dialog; taken
// here, before a control acts on them itself (a combo box would commit its typed text first).
bool QtDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (HandleDialogKey(key)) return true;
        if (auto* slider = qobject_cast<QSlider*>(watched); slider && slider->isEnabled() && TrackbarKey(slider, key))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void QtDialog::closeEvent(QCloseEvent* event) {
    if (!ended_) reject();
    if (ended_) {
        event->accept();
    } else {
        event->ignore();
    }
}

void QtDialog::ShowSelection(const Control& list, const QString& textWithoutSelection) {
    auto* combo = static_cast<QComboBox*>(list.widget);
    if (list.selection >= 0 && list.selection < combo->count()) {
        combo->setCurrentIndex(list.selection);
        combo->setEditText(combo->itemText(list.selection));
    } else {
        combo->setCurrentIndex(-1);
        combo->setEditText(textWithoutSelection);
    }
}

void QtDialog::Panel::SetText(int id, const std::wstring& text) {
    Control* control = dialog_.Find(id);
    if (!control) return;
    const QString value = ToQt(text);
    switch (control->kind) {
        case Kind::Label:
        case Kind::StatusText:
            static_cast<QLabel*>(control->widget)->setText(value);
            if (control->kind == Kind::Label) FitLabel(static_cast<QLabel*>(control->widget));
            break;
        case Kind::ValueField:
        case Kind::TextField:
        case Kind::DigitField: {
            auto* field = static_cast<QLineEdit*>(control->widget);
            // An unchanged text is not rewritten, as in the Win32 realization: setText would move
            // the cursor to the end and drop the selection under the user's hands.
            if (field->text() == value) break;
            field->setText(value);
            // WM_SETTEXT on an edit control reports the change like the user's typing.
            dialog_.Command(id, Notification::TextChanged);
            break;
        }
        case Kind::List:
            static_cast<QComboBox*>(control->widget)->setEditText(value);
            break;
        case Kind::CheckBox:
        case Kind::PushButton:
            static_cast<QAbstractButton*>(control->widget)->setText(value);
            break;
        case Kind::Slider:
            break;
    }
}

void QtDialog::Panel::Show(int id, bool visible) {
    if (Control* control = dialog_.Find(id)) control->widget->setVisible(visible);
}

void QtDialog::Panel::Enable(int id, bool enabled) {
    if (Control* control = dialog_.Find(id)) control->widget->setEnabled(enabled);
}

void QtDialog::Panel::SetRange(int id, int min, int max) {
    Control* control = dialog_.Find(id, Kind::Slider);
    if (!control) return;
    auto* slider = static_cast<QSlider*>(control->widget);
    // Keeps a thumb that stays in range and pulls one outside to the nearest end, as a trackbar.
    slider->setRange(min, max);
    slider->setPageStep(TrackbarPage(min, max));
}

void QtDialog::Panel::SetPos(int id, int pos) {
    if (Control* control = dialog_.Find(id, Kind::Slider)) static_cast<QSlider*>(control->widget)->setValue(pos);
}

int QtDialog::Panel::GetPos(int id) const {
    const Control* control = dialog_.Find(id, Kind::Slider);
    return control ? static_cast<QSlider*>(control->widget)->sliderPosition() : 0;
}

void QtDialog::Panel::ClearList(int id) {
    Control* control = dialog_.Find(id, Kind::List);
    if (!control) return;
    auto* combo = static_cast<QComboBox*>(control->widget);
    combo->clear();
    control->selection = -1;
    ShowSelection(*control, QString());
}

void QtDialog::Panel::InsertItem(int id, int index, const std::wstring& text) {
    Control* control = dialog_.Find(id, Kind::List);
    if (!control) return;
    auto* combo = static_cast<QComboBox*>(control->widget);
    const int count = combo->count();
    if (index < 0) index = count;  // -1 appends
    if (index > count) return;     // CB_ERR
    const QString field = combo->currentText();
    combo->insertItem(index, ToQt(text));
    if (control->selection >= index) ++control->selection;
    // Qt selects the first item put into an empty box; a combo box does not.
    ShowSelection(*control, field);
}

void QtDialog::Panel::SetSelection(int id, int index) {
    Control* control = dialog_.Find(id, Kind::List);
    if (!control) return;
    const int count = static_cast<QComboBox*>(control->widget)->count();
    control->selection = index >= 0 && index < count ? index : -1;
    ShowSelection(*control, QString());
}

int QtDialog::Panel::GetSelection(int id) const {
    const Control* control = dialog_.Find(id, Kind::List);
    return control ? control->selection : -1;
}

void QtDialog::Panel::SetCheck(int id, bool checked) {
    if (Control* control = dialog_.Find(id, Kind::CheckBox)) static_cast<QCheckBox*>(control->widget)->setChecked(checked);
}

bool QtDialog::Panel::IsChecked(int id) const {
    const Control* control = dialog_.Find(id, Kind::CheckBox);
    return control && static_cast<QCheckBox*>(control->widget)->isChecked();
}

int QtDialogFramework::RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) {
    QWidget* owner = running_.empty() ? nullptr : running_.back();
    QtDialog window(dialog, logic, owner, busy_);
    running_.push_back(&window);
    const int code = window.Run();
    running_.pop_back();
    return code;
}

void QtDialogFramework::ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
    ShowMessageBox(nullptr, text, caption, icon);
}

QWidget* QtDialogFramework::RunningDialog() const { return running_.empty() ? nullptr : running_.back(); }

}  // namespace qtfront
