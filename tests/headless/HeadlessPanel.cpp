#include "headless/HeadlessPanel.h"

#include <algorithm>
#include <stdexcept>

HeadlessPanel::HeadlessPanel(const res::DialogTemplate& dialog) {
    for (const res::ControlTemplate& t : dialog.controls) {
        if (t.id < 0) continue;
        Control control;
        control.kind = t.kind;
        control.text = t.text;
        control.visible = t.visible;
        controls_[t.id] = control;
    }
}

HeadlessPanel::Control* HeadlessPanel::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const HeadlessPanel::Control* HeadlessPanel::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const HeadlessPanel::Control& HeadlessPanel::Get(int id) const {
    const Control* control = Find(id);
    if (!control) throw std::out_of_range("no control " + std::to_string(id));
    return *control;
}

bool HeadlessPanel::HasControl(int id) const { return Find(id) != nullptr; }

namespace {

int Length(const HeadlessPanel::Control& c) { return static_cast<int>(c.text.size()); }

void SetCaret(HeadlessPanel::Control& c, int anchor, int caret) {
    c.anchor = std::max(0, std::min(anchor, Length(c)));
    c.caret = std::max(0, std::min(caret, Length(c)));
}

}  // namespace

void HeadlessPanel::SetText(int id, const std::wstring& text) {
    Control* c = Find(id);
    if (!c) return;
    c->text = text;
    // WM_SETTEXT leaves an edit control's caret at the start, with nothing selected.
    SetCaret(*c, 0, 0);
}

void HeadlessPanel::Show(int id, bool visible) {
    if (Control* c = Find(id)) c->visible = visible;
}

void HeadlessPanel::Enable(int id, bool enabled) {
    if (Control* c = Find(id)) c->enabled = enabled;
}

void HeadlessPanel::SetRange(int id, int min, int max) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::Slider) return;
    c->min = min;
    c->max = max;
    // A thumb left outside the new range is pulled to its nearest end.
    c->pos = std::max(c->min, std::min(c->pos, c->max));
}

void HeadlessPanel::SetPos(int id, int pos) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::Slider) return;
    c->pos = std::max(c->min, std::min(pos, c->max));
}

int HeadlessPanel::GetPos(int id) const {
    const Control* c = Find(id);
    return c && c->kind == res::ControlKind::Slider ? c->pos : 0;
}

void HeadlessPanel::ClearList(int id) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::List) return;
    c->items.clear();
    c->selection = -1;
    c->text.clear();
    SetCaret(*c, 0, 0);
}

void HeadlessPanel::InsertItem(int id, int index, const std::wstring& text) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::List) return;
    const int count = static_cast<int>(c->items.size());
    if (index < 0) index = count;   // -1 appends
    if (index > count) return;      // CB_ERR
    c->items.insert(c->items.begin() + index, text);
    if (c->selection >= index) ++c->selection;
}

void HeadlessPanel::SetSelection(int id, int index) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::List) return;
    if (index < 0 || index >= static_cast<int>(c->items.size())) {
        c->selection = -1;
        c->text.clear();
        SetCaret(*c, 0, 0);
        return;
    }
    c->selection = index;
    c->text = c->items[static_cast<std::size_t>(index)];
    // The combo box shows the chosen item selected in its field.
    SetCaret(*c, 0, Length(*c));
}

int HeadlessPanel::GetSelection(int id) const {
    const Control* c = Find(id);
    return c && c->kind == res::ControlKind::List ? c->selection : -1;
}

void HeadlessPanel::SetCheck(int id, bool checked) {
    if (Control* c = Find(id)) c->checked = checked;
}

bool HeadlessPanel::IsChecked(int id) const {
    const Control* c = Find(id);
    return c && c->checked;
}

bool HeadlessPanel::UserMoveSlider(int id, int pos) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::Slider || !c->visible || !c->enabled) return false;
    c->pos = std::max(c->min, std::min(pos, c->max));
    return true;
}

bool HeadlessPanel::UserSelectItem(int id, int index) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::List || !c->visible || !c->enabled) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    SetSelection(id, index);
    return true;
}

bool HeadlessPanel::WholeTextSelected(int id) const {
    const Control& c = Get(id);
    return std::min(c.anchor, c.caret) == 0 && std::max(c.anchor, c.caret) == Length(c);
}

void HeadlessPanel::UserTypeText(int id, const std::wstring& text) {
    Control* c = Find(id);
    if (!c) return;
    c->text = text;
    SetCaret(*c, Length(*c), Length(*c));
    if (c->kind == res::ControlKind::List) c->selection = -1;
}

bool HeadlessPanel::UserTypeKey(int id, wchar_t key) {
    Control* c = Find(id);
    if (!c) return false;
    int from = std::min(c->anchor, c->caret);
    const int to = std::max(c->anchor, c->caret);
    std::wstring text = c->text;
    if (key == L'\b') {
        if (from == to) {
            if (from == 0) return false;
            --from;
        }
        text.erase(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    } else {
        text.replace(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from), 1, key);
        ++from;
    }
    c->text = text;
    SetCaret(*c, from, from);
    if (c->kind == res::ControlKind::List) c->selection = -1;
    return true;
}

void HeadlessPanel::UserSelectAll(int id) {
    if (Control* c = Find(id)) SetCaret(*c, 0, Length(*c));
}

void HeadlessPanel::UserPlaceCaret(int id, int pos) {
    if (Control* c = Find(id)) SetCaret(*c, pos, pos);
}

bool HeadlessPanel::UserClickCheck(int id) {
    Control* c = Find(id);
    if (!c || c->kind != res::ControlKind::CheckBox) return false;
    c->checked = !c->checked;
    return c->checked;
}
