#pragma once
// What the window schemes set on every visual element unless their tables
// say otherwise.

#include "visual/win.h"

inline constexpr TColor ButtonFace = SystemColor(15);
inline constexpr TColor WindowBackground = SystemColor(5);

template <class T>
T* Placed(T* element, int left, int top, int width, int height, const TFontRec& font = TFontRec()) {
    element->Left = left;
    element->Top = top;
    element->Width = width;
    element->Height = height;
    element->Font = font;
    element->Visible = true;
    element->Enabled = true;
    element->Align = 0;
    element->TabOrder = 0;
    element->InheritFont = false;
    element->Cursor = nullptr;
    element->EdgeKind = 0;
    element->Color = ButtonFace;
    element->BorderKind = 1;
    return element;
}
