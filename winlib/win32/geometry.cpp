// Where a control is: its bounds, its client area, and the docked layout
// of its children.
#include "winlib/win32/control.h"

#include <algorithm>

void TControl::ReadBoundsFromWindow() {
    if (handle_ == nullptr) return;
    RECT r{};
    GetWindowRect(handle_, &r);
    if (isChild_ && parent_ != nullptr && parent_->handle_ != nullptr)
        MapWindowPoints(nullptr, parent_->handle_, reinterpret_cast<POINT*>(&r), 2);
    bounds_ = r;
}

void TControl::SetBounds(const RECT& bounds) {
    const RECT old = bounds_;
    bounds_ = bounds;
    if (handle_ != nullptr)
        SetWindowPos(handle_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (old.left != bounds.left || old.top != bounds.top || old.right != bounds.right || old.bottom != bounds.bottom) {
        if (parent_ != nullptr && align_ != 0) parent_->RealignChildren();
    }
}

void TControl::SetLeft(int left) {
    positionSet_ = true;
    SetBounds({left, bounds_.top, left + Width(), bounds_.bottom});
}

void TControl::SetTop(int top) {
    positionSet_ = true;
    SetBounds({bounds_.left, top, bounds_.right, top + Height()});
}

void TControl::SetPosition(int left, int top) {
    positionSet_ = true;
    SetBounds({left, top, left + Width(), top + Height()});
}

void TControl::SetWidth(int width) { SetBounds({bounds_.left, bounds_.top, bounds_.left + width, bounds_.bottom}); }
void TControl::SetHeight(int height) { SetBounds({bounds_.left, bounds_.top, bounds_.right, bounds_.top + height}); }

void TControl::SetClientSize(int width, int height) {
    int extraX = 0, extraY = 0;
    if (handle_ != nullptr) {
        RECT window{}, client{};
        GetWindowRect(handle_, &window);
        GetClientRect(handle_, &client);
        extraX = (window.right - window.left) - client.right;
        extraY = (window.bottom - window.top) - client.bottom;
    } else {
        RECT r{0, 0, 0, 0};
        AdjustWindowRectEx(&r, style_, FALSE, exStyle_);
        extraX = r.right - r.left;
        extraY = r.bottom - r.top;
    }
    SetBounds({bounds_.left, bounds_.top, bounds_.left + width + extraX, bounds_.top + height + extraY});
}

RECT TControl::ClientRect() {
    RECT r{0, 0, Width(), Height()};
    if (handle_ != nullptr) GetClientRect(handle_, &r);
    return r;
}

void TControl::SetMargin(int margin) {
    if (margin == margin_) return;
    margin_ = margin;
    RealignChildren();
}

void TControl::SetAlign(std::uint8_t align) {
    if (align == align_) return;
    align_ = align;
    if (parent_ != nullptr) parent_->RealignChildren();
}

// Docked children: top and bottom first, then left and right, then the one
// that takes what remains; each pass in creation order.
void TControl::RealignChildren() {
    if (aligning_ || Freed()) return;
    if (std::none_of(children_.begin(), children_.end(), [](TControl* c) { return c->align_ != 0; })) return;
    // Moving a child runs its resize handlers, which may free controls.
    const TObjHold<TControl> self(this);
    aligning_ = true;
    RECT client = ClientRect();
    RECT r{client.left + margin_, client.top + margin_, client.right - margin_, client.bottom - margin_};
    auto place = [](TControl* child, const RECT& to) {
        const RECT from = child->bounds_;
        if (from.left == to.left && from.top == to.top && from.right == to.right && from.bottom == to.bottom) return;
        const bool resized = (from.right - from.left) != (to.right - to.left) || (from.bottom - from.top) != (to.bottom - to.top);
        child->SetBounds(to);
        if (resized) child->RealignChildren();
    };
    for (int pass = 0; pass < 3 && !Freed(); ++pass) {
        for (const TObjHold<TControl>& held : HeldChildren()) {
            TControl* child = held.get();
            if (Freed()) break;
            if (child->Freed() || child->parent_ != this || !child->visible_ || child->isForm_) continue;
            const std::uint8_t a = child->align_;
            if (pass == 0 && a == 2) {
                place(child, {r.left, r.top, r.right, r.top + child->Height()});
                r.top += child->Height() + margin_;
            } else if (pass == 0 && a == 4) {
                place(child, {r.left, r.bottom - child->Height(), r.right, r.bottom});
                r.bottom -= child->Height() + margin_;
            } else if (pass == 1 && a == 1) {
                place(child, {r.left, r.top, r.left + child->Width(), r.bottom});
                r.left += child->Width() + margin_;
            } else if (pass == 1 && a == 3) {
                place(child, {r.right - child->Width(), r.top, r.right, r.bottom});
                r.right -= child->Width() + margin_;
            } else if (pass == 2 && a == 5) {
                place(child, r);
            }
        }
    }
    aligning_ = false;
}
