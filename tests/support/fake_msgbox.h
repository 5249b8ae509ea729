#pragma once
// A message-box service for tests: records every box instead of showing it.
// Installs itself while it lives and puts the previous service back after.
//
//   FakeMessageBox boxes;
//   boxes.WhileShown = [&] { clock.Advance(1000); };  // what the modal loop would pump
//   ...
//   EXPECT_EQ(boxes.Last().Caption, "String-Debug");

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "winlib/msgbox.h"

class FakeMessageBox final : public TMessageBoxService {
public:
    struct Box {
        std::string Text;     // Windows-1251 bytes, as given
        std::string Caption;
        std::uint32_t Flags = 0;
        void* Owner = nullptr;
    };

    FakeMessageBox();
    ~FakeMessageBox() override;
    FakeMessageBox(const FakeMessageBox&) = delete;
    FakeMessageBox& operator=(const FakeMessageBox&) = delete;

    // Every box shown, oldest first.
    std::vector<Box> Boxes;
    // Runs while a box is "open" (after it was recorded), as messages pumped
    // by the modal loop would.
    std::function<void()> WhileShown;
    // What Show returns.
    int Answer = idOk;

    std::size_t Count() const { return Boxes.size(); }
    const Box& Last() const { return Boxes.back(); }

    int Show(std::string_view text, std::string_view caption, std::uint32_t flags, void* owner) override;

private:
    TScopedOverride<TMessageBoxSeam, TMessageBoxService> installed_;
};
