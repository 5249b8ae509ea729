// The program: "/iq" shows who made it; otherwise the main window runs
// until the user closes it.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/win32/mainform.h"
#include "framework/events.h"
#include "visual/hint.h"
#include "winlib/cp1251.h"
#include "winlib/msgbox.h"
#include "winlib/win32/control.h"

namespace {

// The first argument exactly as given, case and all. The C runtime has
// already split the command line; parsing it again would need shell32, a
// large library to load for one call.
bool FirstArgumentIs(const char* expected) { return __argc >= 2 && std::strcmp(__argv[1], expected) == 0; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (FirstArgumentIs("/iq")) {
        ShowMessage("Сделано в Quvex."_cp1251, "Quvex Info", mbOk);
        return 0;
    }
    InitHints();
    auto scheme = std::make_unique<TClassMainForm_1667830>();
    if (Application() != nullptr) Application()->SetVisible(scheme->MainForm->Visible);
    StartFramework();
    RunApplication();
    scheme.reset();
    return 0;
}
