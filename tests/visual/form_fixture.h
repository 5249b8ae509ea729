#pragma once
// Elements on a real main form, built the way the schemes build them: the
// form first (it makes the application window), then its elements, then
// the framework starts and the form's start-up shows it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/events.h"
#include "tests/support/probes.h"
#include "tests/support/window_fixture.h"
#include "visual/hint.h"
#include "visual/mainform.h"

// Position, size and the look every element of these tests shares.
template <class T>
T* Place(T* element, int left, int top, int width, int height) {
    element->Left = left;
    element->Top = top;
    element->Width = width;
    element->Height = height;
    element->Color = SystemColor(15);
    element->Font = MakeFontRec("MS Sans Serif", 8, 0, 0, 1);
    return element;
}

// The main form of a test; its key-down handler can be made to swallow a key.
class TTestForm : public TQXMainForm {
public:
    using TQXMainForm::TQXMainForm;
    int SwallowedKey = 0;
    void keyDown(TControl* sender, int& key, std::uint32_t shift) override {
        if (key == SwallowedKey)
            key = 0;
        else
            TQXMainForm::keyDown(sender, key, shift);
    }
};

class TFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Application(), nullptr) << "an earlier test left its application window";
        InitHints();
        Form = Make<TTestForm>(10, 10, 780, 560, nullptr);
        Form->SetFrameKind(2);
        Form->initControl();
    }
    void TearDown() override {
        StopFramework();
        while (!elements_.empty()) elements_.pop_back();  // the form goes last
        Pump(0);
    }
    // An element of the test, placed; freed in reverse order of making.
    template <class T>
    T* Make(int left, int top, int width, int height, TControl* parent) {
        elements_.push_back(std::make_unique<T>(parent));
        return Place(static_cast<T*>(elements_.back().get()), left, top, width, height);
    }
    template <class T>
    T* Make(int left, int top, int width, int height) {
        return Make<T>(left, top, width, height, Form->control);
    }
    // The start-up shows the form; then it has time to paint.
    void Start() {
        StartFramework();
        Pump(100);
    }

    TTestForm* Form = nullptr;

private:
    std::vector<std::unique_ptr<TQXWin>> elements_;
};

inline void Fire(const TQX_Event& event, TData value) { FireEvent(event, value); }

// What arrived on a link, one line per value: NULL, a number, or 'text'.
inline std::vector<std::string> Received(const TRecorder& recorder) {
    std::vector<std::string> out;
    for (const TData& v : recorder.Seen)
        out.push_back(v.Kind == dtNull ? "NULL" : v.Kind == dtString ? "'" + v.TextValue.str() + "'" : AsText(v).str());
    return out;
}
