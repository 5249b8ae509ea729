// Keyboard navigation between a form's controls (Tab, arrows, page keys)
// and the default and cancel buttons that Enter and Escape click.
#include <algorithm>
#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/layer.h"

void TControl::Navigate(TControl* focused, int& key, UINT message) {
    TControl* form = focused->ParentForm();
    if (form == nullptr || !form->navigation_) return;
    std::uint8_t group = 0;
    bool forwards = true;
    if (IsCharMessage(message)) {
        // Only the character of a Tab press; other characters are text.
        if (key == '\t') group = nkTab;
    } else {
        switch (key) {
        case VK_TAB: group = nkTab; forwards = !KeyDown(VK_SHIFT); break;
        case VK_LEFT: group = nkLeftRight; forwards = false; break;
        case VK_RIGHT: group = nkLeftRight; break;
        case VK_UP: group = nkUpDown; forwards = false; break;
        case VK_DOWN: group = nkUpDown; break;
        case VK_PRIOR: group = nkPage; forwards = false; break;
        case VK_NEXT: group = nkPage; break;
        default: break;
        }
    }
    if (group == 0 || (focused->navigationKeys_ & group) == 0) return;
    key = 0;
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) MoveFocus(form, forwards);
}

void TControl::CollectTabStops(TControl* control, std::vector<TControl*>& out) {
    std::vector<TControl*> children = control->children_;
    std::stable_sort(children.begin(), children.end(),
                     [](const TControl* a, const TControl* b) { return a->tabOrder_ < b->tabOrder_; });
    for (TControl* child : children) {
        if (child->isForm_ || !child->visible_ || !child->enabled_ || child->handle_ == nullptr) continue;
        if (child->tabStop_ && (child->Style() & WS_TABSTOP)) out.push_back(child);
        CollectTabStops(child, out);
    }
}

void TControl::MoveFocus(TControl* form, bool forwards) {
    std::vector<TControl*> stops;
    CollectTabStops(form, stops);
    if (stops.empty()) return;
    const auto at = std::find(stops.begin(), stops.end(), form->currentControl_);
    TControl* next = nullptr;
    if (at == stops.end())
        next = forwards ? stops.front() : stops.back();
    else if (forwards)
        next = at + 1 == stops.end() ? stops.front() : *(at + 1);
    else
        next = at == stops.begin() ? stops.back() : *(at - 1);
    SetFocus(next->handle_);
    form->currentControl_ = next;
}

// --- Default and cancel buttons ---

void TControl::MarkButton(TControl* button, bool on, bool cancel) {
    TControl* form = button->ParentForm();
    if (form == nullptr) return;
    TControl*& slot = cancel ? form->cancelButton_ : form->defaultButton_;
    const bool wasMarked = slot == button;
    if (on == wasMarked) return;
    // One default button a form: the one it replaces loses its look.
    if (on && slot != nullptr) MarkButton(slot, false, cancel);
    if (on) {
        if (slot == nullptr) ++Layer().MarkedButtons;
        slot = button;
    } else {
        slot = nullptr;
        --Layer().MarkedButtons;
    }
    if (!cancel) button->SetStyle(on ? button->Style() | BS_DEFPUSHBUTTON : button->Style() & ~DWORD{BS_DEFPUSHBUTTON});
    TControl* app = Layer().Application;
    if (app == nullptr) return;
    const TMessageHook filter{DefaultButtonFilter, nullptr};
    if (Layer().MarkedButtons > 0 && !(app->messageHook == filter)) {
        Layer().HookBeforeFilter = app->messageHook;
        app->messageHook = filter;
    } else if (Layer().MarkedButtons == 0 && app->messageHook == filter) {
        app->messageHook = std::exchange(Layer().HookBeforeFilter, {});
    }
}

// Enter and Escape in the active form click its default or cancel button:
// once per press, on the key going down (repeats and the key going up only
// are swallowed, so the focused control does not see them either).
bool TControl::DefaultButtonFilter(void*, TMsg& msg, LRESULT& result) {
    const bool handled = [&] {
        const bool keyMessage = msg.Message == WM_KEYDOWN || msg.Message == WM_KEYUP || msg.Message == WM_CHAR;
        if (!keyMessage || msg.Window != GetFocus()) return false;
        const bool isChar = msg.Message == WM_CHAR;
        const WPARAM enter = isChar ? '\r' : VK_RETURN, escape = isChar ? 0x1B : VK_ESCAPE;
        if (msg.WParam != enter && msg.WParam != escape) return false;
        TControl* focused = ControlOf(msg.Window);
        TControl* form = focused != nullptr ? focused->ParentForm() : nullptr;
        if (form == nullptr || form->handle_ != GetActiveWindow()) return false;
        // A multi-line edit that wants Return keeps it.
        if (msg.WParam == enter && (focused->Style() & (ES_MULTILINE | ES_WANTRETURN)) == (ES_MULTILINE | ES_WANTRETURN) &&
            focused->kind_.ClassName == std::wstring_view(L"EDIT"))
            return false;
        TControl* button = msg.WParam == enter ? form->defaultButton_ : form->cancelButton_;
        if (button == nullptr || !button->visible_ || !button->enabled_) return false;
        const bool repeat = (msg.LParam & (1 << 30)) != 0;
        if (msg.Message == WM_KEYDOWN && !repeat) button->Click();
        return true;
    }();
    if (handled) {
        result = 0;
        return true;
    }
    return Layer().HookBeforeFilter && Layer().HookBeforeFilter(msg, result);
}

// --- Focus and tab order ---

void TControl::SetTabOrder(int position) {
    if (parent_ != nullptr)
        for (TControl* sibling : parent_->children_)
            if (sibling != this && sibling->tabOrder_ >= position) ++sibling->tabOrder_;
    tabOrder_ = position;
}

bool TControl::Focus() {
    if (handle_ == nullptr || !enabled_ || !tabStop_) return false;
    SetFocus(handle_);
    return true;
}

void TControl::SetDefaultButton(bool on) { TControl::MarkButton(this, on, false); }
void TControl::SetCancelButton(bool on) { TControl::MarkButton(this, on, true); }
