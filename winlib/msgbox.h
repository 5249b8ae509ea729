#pragma once
// Modal message boxes. Texts are Windows-1251 bytes; the platform
// implementation converts them for display, so Russian reads right
// whatever the system's own code page is.

#include <cstdint>
#include <string_view>

#include "winlib/seam.h"

// Flags and answers use the Win32 MB_* and ID* values.
enum : std::uint32_t {
    mbOk = 0x00000000,
    mbIconError = 0x00000010,
    mbIconWarning = 0x00000030,
    mbIconInformation = 0x00000040,
};
enum : int {
    idOk = 1,
};

class TMessageBoxService {
public:
    virtual ~TMessageBoxService() = default;
    // Shows the box and returns when it is closed: the button pressed, or 0
    // when no box could be shown. owner is a window handle or nullptr.
    virtual int Show(std::string_view text, std::string_view caption, std::uint32_t flags, void* owner) = 0;
};

// The platform's own service: MessageBoxW on Windows, stderr natively.
TMessageBoxService& PlatformMessageBox();

// The service in use now: the platform's own, or a test's stand-in.
using TMessageBoxSeam = TSeam<TMessageBoxService, PlatformMessageBox>;
inline TMessageBoxService& CurrentMessageBox() { return TMessageBoxSeam::Current(); }
// nullptr selects the platform's own; gives back the stand-in that was in
// force (nullptr: none).
inline TMessageBoxService* SetMessageBox(TMessageBoxService* service) { return TMessageBoxSeam::Set(service); }

// The window that owns the boxes: the application window once the window
// layer has made one; nullptr until then. The layer sets it; every box
// shown through ShowMessage gets it.
void* MessageOwner();
void SetMessageOwner(void* window);

inline int ShowMessage(std::string_view text, std::string_view caption, std::uint32_t flags = mbOk) {
    return CurrentMessageBox().Show(text, caption, flags, MessageOwner());
}
