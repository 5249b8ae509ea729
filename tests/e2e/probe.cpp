// Reports what the program under test shows, for the end-to-end tests: run
// under the same Wine server, it lists the program's forms and dialog boxes
// with their controls, positions on the screen and texts (UTF-8), one line
// each. Texts are read with WM_GETTEXT, as the system reads them.
//
//   e2e_probe            list everything
//   e2e_probe close H    posts WM_CLOSE to window H (decimal)
//
// Lines (fields separated by tabs):
//   window  HANDLE CLASS VISIBLE LEFT TOP WIDTH HEIGHT CLIENT_LEFT CLIENT_TOP TEXT
//   control PARENT CLASS VISIBLE LEFT TOP WIDTH HEIGHT SCREEN_LEFT SCREEN_TOP TEXT
// where a control's LEFT/TOP are in its parent's client area.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Control characters shown as escapes, so one window stays one line.
std::string Visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return std::string();
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000,
                        &copied);
    text.resize(copied);
    return Visible(Utf8(text));
}

std::string ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return Utf8(name);
}

void Emit(const std::string& line) {
    const std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

BOOL CALLBACK ListControl(HWND control, LPARAM) {
    HWND parent = GetParent(control);
    RECT r{};
    GetWindowRect(control, &r);
    POINT inParent{r.left, r.top};
    ScreenToClient(parent, &inParent);
    char head[256];
    std::snprintf(head, sizeof head, "control\t%llu\t%s\t%d\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(parent)), ClassOf(control).c_str(),
                  IsWindowVisible(control) ? 1 : 0, inParent.x, inParent.y, r.right - r.left, r.bottom - r.top, r.left,
                  r.top);
    Emit(head + TextOf(control));
    return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
    const std::string cls = ClassOf(window);
    if (cls != "obj_Form" && cls != "#32770" && cls != "tooltips_class32") return TRUE;
    RECT r{};
    GetWindowRect(window, &r);
    POINT client{0, 0};
    ClientToScreen(window, &client);
    char head[256];
    std::snprintf(head, sizeof head, "window\t%llu\t%s\t%d\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)), cls.c_str(),
                  IsWindowVisible(window) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top, client.x, client.y);
    Emit(head + TextOf(window));
    EnumChildWindows(window, ListControl, 0);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "close") {
        HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(argv[2], nullptr, 10)));
        return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (argc != 1) {
        Emit("usage: e2e_probe | e2e_probe close HANDLE");
        return 2;
    }
    EnumWindows(ListWindow, 0);
    return 0;
}
