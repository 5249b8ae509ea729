// The program: "/iq" shows who made it; otherwise the main window runs
// until the user closes it.
#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string_view>

#include "app/win32/mainform.h"
#include "framework/events.h"
#include "visual/hint.h"
#include "winlib/cp1251.h"
#include "winlib/msgbox.h"
#include "winlib/win32/control.h"

namespace {

// The first argument exactly as given, case and all.
bool FirstArgumentIs(std::wstring_view expected) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return false;
    const bool match = count >= 2 && expected == arguments[1];
    LocalFree(arguments);
    return match;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (FirstArgumentIs(L"/iq")) {
        ShowMessage("Сделано в Quvex."_cp1251, "Quvex Info", mbOk, nullptr);
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
