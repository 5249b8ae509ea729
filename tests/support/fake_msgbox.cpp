#include "tests/support/fake_msgbox.h"

FakeMessageBox::FakeMessageBox() : installed_(this) {}

FakeMessageBox::~FakeMessageBox() = default;

int FakeMessageBox::Show(std::string_view text, std::string_view caption, std::uint32_t flags, void* owner) {
    Boxes.push_back(Box{std::string(text), std::string(caption), flags, owner});
    if (WhileShown) {
        // A copy: the callback may replace itself.
        auto pump = WhileShown;
        pump();
    }
    return Answer;
}
