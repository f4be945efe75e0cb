// Works the running Windows program the way a user would, with window messages, and prints what
// its windows show, one line per question. Run under Wine beside the program by the Wine tests.
//
//   halvorn_driver COMMAND [ARGS] COMMAND [ARGS] ...
//
// Finding windows (MS: how long to wait, in milliseconds):
//   wait-main MS            the controller window, shown and enabled; it becomes the current window
//   wait-dialog TITLE MS    another dialog of the program, e.g. "Internal Test"; becomes current
//   wait-message MS         a message box; prints "message CAPTION|TEXT|ICON" (ICON: none,
//                           exclamation, hand, asterisk, question, application, other, or
//                           icon when its picture cannot be read from here);
//                           the box becomes current
//   wait-gone MS            until the current window no longer exists
//   use-main                the controller window again, without waiting
//   windows                 prints "windows MAIN DIALOGS MESSAGES": how many of each exist,
//                           "MAIN" counting controller windows whether shown or not
//
// Acting on the current window, as a user would:
//   select ID INDEX         picks a list entry: CB_SETCURSEL, then CBN_SELCHANGE to the dialog
//   slide ID POS            drags a slider: TBM_SETPOS, then WM_HSCROLL TB_THUMBPOSITION and TB_ENDTRACK
//   click ID                BM_CLICK, returning when the program has handled it
//   post-click ID           BM_CLICK without waiting (for buttons that open a modal window)
//   settext ID TEXT         WM_SETTEXT into a text field (the field sends EN_CHANGE itself)
//   press-enter, press-esc  the key, sent to the control that has the focus
//   close                   the close box (WM_CLOSE)
//   minimize                minimises the window
//   ok                      clicks the OK button of the current message box
//
// Questions about the current window:
//   text ID, sel ID, pos ID, range ID, check ID, visible ID, enabled ID, items ID, focus
//   title, shown, iconic, window-enabled, foreground, layout
//
// The program file itself:
//   template EXE ID         the dialog resource ID of EXE as compiled: its styles, font, caption and
//                           every item with class, styles, ID, position in dialog units and text
//   icon EXE ID             the sizes held by icon group ID of EXE
//   manifest EXE            the application manifest of EXE, one "manifest LINE" per line
//   version-info EXE        the version resource of EXE as Windows reads it for the file's
//                           properties: "version-info fixed FILE PRODUCT" (dotted), then
//                           "version-info NAME VALUE" for each string of its US English block
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kMainTitle = L"RTX Halvorn Controller";
constexpr int kDeviceList = 1012;
constexpr int kTestRead = 1024;
constexpr DWORD kSendTimeoutMs = 30000;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                            nullptr);
    return out;
}

// Line breaks and the separator in window texts would break the one-line answers.
std::string Flat(const std::wstring& text) {
    std::string out = Utf8(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '|') c = ' ';
    return out;
}

void Say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
    Say("error " + why);
    std::fprintf(stderr, "halvorn_driver: %s\n", why.c_str());
    std::exit(3);
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT crosses into the program's process, unlike GetWindowTextW on a control.
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

enum class Kind { Main, Dialog, Message };

bool IsDialogClass(HWND window) { return ClassName(window) == L"#32770"; }

// The program's own dialogs carry a control only they have; every other dialog is a message box.
Kind KindOf(HWND window) {
    if (GetDlgItem(window, kDeviceList)) return Kind::Main;
    if (GetDlgItem(window, kTestRead)) return Kind::Dialog;
    return Kind::Message;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (IsDialogClass(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelDialogs() {
    std::vector<HWND> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindMain(bool shownOnly) {
    for (HWND window : TopLevelDialogs())
        if (KindOf(window) == Kind::Main && WindowText(window) == kMainTitle && (!shownOnly || IsWindowVisible(window)))
            return window;
    return nullptr;
}

HWND FindDialog(const std::wstring& title) {
    for (HWND window : TopLevelDialogs())
        if (KindOf(window) == Kind::Dialog && IsWindowVisible(window) && WindowText(window) == title) return window;
    return nullptr;
}

HWND FindMessage() {
    for (HWND window : TopLevelDialogs())
        if (KindOf(window) == Kind::Message && IsWindowVisible(window)) return window;
    return nullptr;
}

template <typename Find>
HWND WaitFor(Find find, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = find()) return window;
        if (GetTickCount64() >= deadline) return nullptr;
        Sleep(25);
    }
}

// Icon handles are the program's own, so the picture is compared, drawn in this process.
std::vector<COLORREF> Picture(HICON icon) {
    constexpr int kSize = 32;
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kSize, kSize);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all{0, 0, kSize, kSize};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(memory, &all, magenta);
    DeleteObject(magenta);
    if (DrawIconEx(memory, 0, 0, icon, kSize, kSize, 0, nullptr, DI_NORMAL))
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::string IconName(HICON icon) {
    const std::vector<COLORREF> picture = Picture(icon);
    if (picture.empty()) return "icon";
    const struct {
        LPCWSTR id;
        const char* name;
    } system[] = {{IDI_EXCLAMATION, "exclamation"}, {IDI_HAND, "hand"}, {IDI_ASTERISK, "asterisk"},
                  {IDI_QUESTION, "question"}, {IDI_APPLICATION, "application"}};
    for (const auto& candidate : system)
        if (Picture(LoadIconW(nullptr, candidate.id)) == picture) return candidate.name;
    return "other";
}

struct MessageBoxView {
    std::wstring text;
    std::string icon = "none";
};

MessageBoxView ReadMessageBox(HWND box) {
    MessageBoxView view;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) != L"Static") continue;
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (!IsWindowVisible(child)) continue;
            const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            if (!icon) continue;
            view.icon = IconName(icon);
        } else if (static_cast<WORD>(GetDlgCtrlID(child)) == 0xFFFF) {
            view.text = WindowText(child);
        }
    }
    return view;
}

// ---------------------------------------------------------------------------------------------
// Resources of the program file, read as data.

HMODULE LoadResources(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) Fail("cannot open " + Utf8(exe) + " for its resources");
    return module;
}

const BYTE* FindResourceData(HMODULE module, int id, LPCWSTR type, DWORD& size) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) Fail("no resource " + std::to_string(id));
    size = SizeofResource(module, resource);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
}

// Reads a resource's little-endian fields one after the other.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}
    WORD Word() {
        Need(2);
        const WORD value = static_cast<WORD>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return value;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() {
        Need(1);
        return data_[at_++];
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word()) text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    // A name or an ordinal: 0 for none, 0xFFFF and a number, else a string.
    std::wstring NameOrOrdinal() {
        const WORD first = Word();
        if (first == 0) return std::wstring();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring text(1, static_cast<wchar_t>(first));
        for (WORD c = Word(); c != 0; c = Word()) text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    void AlignDword() { at_ = (at_ + 3) & ~static_cast<DWORD>(3); }
    void Skip(DWORD bytes) {
        Need(bytes);
        at_ += bytes;
    }

private:
    void Need(DWORD bytes) const {
        if (at_ + bytes > size_) Fail("the resource ends too early");
    }
    const BYTE* data_;
    DWORD size_;
    DWORD at_ = 0;
};

// The predefined window classes are stored as ordinals.
std::wstring ClassOrdinalName(const std::wstring& name) {
    static const struct {
        const wchar_t* ordinal;
        const wchar_t* name;
    } known[] = {{L"#128", L"Button"}, {L"#129", L"Edit"},      {L"#130", L"Static"},
                 {L"#131", L"ListBox"}, {L"#132", L"ScrollBar"}, {L"#133", L"ComboBox"}};
    for (const auto& k : known)
        if (name == k.ordinal) return k.name;
    return name;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

void DumpTemplate(const std::wstring& exe, int id) {
    HMODULE module = LoadResources(exe);
    DWORD size = 0;
    const BYTE* data = FindResourceData(module, id, MAKEINTRESOURCEW(5), size);  // RT_DIALOG
    TemplateReader in(data, size);
    if (in.Word() != 1 || in.Word() != 0xFFFF) Fail("dialog " + std::to_string(id) + " is not a DIALOGEX");
    in.Dword();  // help ID
    const DWORD exStyle = in.Dword();
    const DWORD style = in.Dword();
    const WORD count = in.Word();
    const short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
    const std::wstring menu = in.NameOrOrdinal();
    const std::wstring windowClass = in.NameOrOrdinal();
    const std::wstring caption = in.String();
    std::string font = "none";
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        const WORD points = in.Word();
        const WORD weight = in.Word();
        const BYTE italic = in.Byte();
        const BYTE charset = in.Byte();
        font = std::to_string(points) + "," + Utf8(in.String()) + "," + std::to_string(weight) + "," +
               std::to_string(italic) + "," + std::to_string(charset);
    }
    Say("template " + std::to_string(id) + " style=" + Hex(style) + " exstyle=" + Hex(exStyle) + " rect=" +
        std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(cx) + "," + std::to_string(cy) +
        " menu=" + Utf8(menu) + " class=" + Utf8(windowClass) + " font=" + font + " items=" + std::to_string(count) +
        " caption=" + Flat(caption));
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        in.Dword();  // help ID
        const DWORD itemExStyle = in.Dword();
        const DWORD itemStyle = in.Dword();
        const short ix = in.Short(), iy = in.Short(), icx = in.Short(), icy = in.Short();
        const auto itemId = static_cast<int>(in.Dword());
        const std::wstring itemClass = ClassOrdinalName(in.NameOrOrdinal());
        const std::wstring text = in.NameOrOrdinal();
        in.Skip(in.Word());  // creation data
        Say("item " + std::to_string(itemId) + " " + Utf8(itemClass) + " style=" + Hex(itemStyle) +
            " exstyle=" + Hex(itemExStyle) + " rect=" + std::to_string(ix) + "," + std::to_string(iy) + "," +
            std::to_string(icx) + "," + std::to_string(icy) + " text=" + Flat(text));
    }
    FreeLibrary(module);
}

void DumpIconGroup(const std::wstring& exe, int id) {
    HMODULE module = LoadResources(exe);
    DWORD size = 0;
    const BYTE* data = FindResourceData(module, id, MAKEINTRESOURCEW(14), size);  // RT_GROUP_ICON
    TemplateReader in(data, size);
    in.Word();  // reserved
    if (in.Word() != 1) Fail("resource " + std::to_string(id) + " is not an icon group");
    const WORD count = in.Word();
    std::string sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE width = in.Byte();
        in.Byte();   // height
        in.Skip(4);  // colours, reserved, planes
        const WORD bits = in.Word();
        in.Skip(6);  // bytes, image ID
        sizes += (i ? "," : "") + std::to_string(width == 0 ? 256 : width) + "x" + std::to_string(bits);
    }
    Say("icon " + std::to_string(id) + " " + sizes);
    FreeLibrary(module);
}

// The manifest Windows reads at process start: resource 1 of type RT_MANIFEST (24).
void DumpManifest(const std::wstring& exe) {
    HMODULE module = LoadResources(exe);
    DWORD size = 0;
    const BYTE* data = FindResourceData(module, 1, MAKEINTRESOURCEW(24), size);
    std::string line;
    for (DWORD i = 0; i <= size; ++i) {
        const char c = i < size ? static_cast<char>(data[i]) : '\n';
        if (c == '\r') continue;
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        if (!line.empty()) Say("manifest " + line);
        line.clear();
    }
    FreeLibrary(module);
}

// What Explorer's file properties show, read the way they read it.
void DumpVersionInfo(const std::wstring& exe) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (size == 0) Fail("no version resource in " + Utf8(exe));
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) Fail("cannot read the version of " + Utf8(exe));

    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
        Fail("the version resource has no fixed part");
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
               "." + std::to_string(LOWORD(low));
    };
    Say("version-info fixed " + dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
        dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    for (const wchar_t* name : {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion",
                                L"OriginalFilename", L"InternalName", L"LegalCopyright"}) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueW(block.data(), path.c_str(), &value, &length) && length > 0)
            Say("version-info " + Utf8(name) + " " + Flat(static_cast<const wchar_t*>(value)));
    }
}

class Driver {
public:
    Driver(int argc, wchar_t** argv) : args_(argv + 1, argv + argc) {}

    void Run() {
        while (next_ < args_.size()) Command(Take());
    }

private:
    std::wstring Take() {
        if (next_ >= args_.size()) Fail("a command lacks an argument");
        return args_[next_++];
    }
    int TakeInt() {
        const std::wstring text = Take();
        wchar_t* end = nullptr;
        const long value = std::wcstol(text.c_str(), &end, 10);
        if (text.empty() || *end != L'\0') Fail("not a number: " + Utf8(text));
        return static_cast<int>(value);
    }

    HWND Current() const {
        if (!current_ || !IsWindow(current_)) Fail("no current window");
        return current_;
    }
    HWND Control(int id) const {
        HWND control = GetDlgItem(Current(), id);
        if (!control) Fail("no control " + std::to_string(id));
        return control;
    }
    // Returns once the program has handled the message, however long its handler runs.
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result))
            Fail("the program did not answer message " + std::to_string(message));
        return static_cast<LRESULT>(result);
    }
    static std::string Id(int id) { return std::to_string(id); }

    void Command(const std::wstring& name);
    void Layout();
    void PressKey(WPARAM key);

    std::vector<std::wstring> args_;
    std::size_t next_ = 0;
    HWND current_ = nullptr;
    HWND main_ = nullptr;
};

void Driver::Command(const std::wstring& name) {
    if (name == L"wait-main") {
        const int ms = TakeInt();
        HWND main = WaitFor([] { return FindMain(true); }, static_cast<DWORD>(ms));
        if (!main) Fail("no controller window within " + std::to_string(ms) + " ms");
        // Shown is not yet ready: the window takes input once nothing modal sits on it.
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
        while (!IsWindowEnabled(main) && GetTickCount64() < deadline) Sleep(25);
        main_ = current_ = main;
    } else if (name == L"use-main") {
        main_ = current_ = FindMain(false);
        if (!current_) Fail("no controller window");
    } else if (name == L"wait-dialog") {
        const std::wstring title = Take();
        const int ms = TakeInt();
        current_ = WaitFor([&] { return FindDialog(title); }, static_cast<DWORD>(ms));
        if (!current_) Fail("no dialog \"" + Utf8(title) + "\" within " + std::to_string(ms) + " ms");
    } else if (name == L"wait-message") {
        const int ms = TakeInt();
        current_ = WaitFor(FindMessage, static_cast<DWORD>(ms));
        if (!current_) Fail("no message box within " + std::to_string(ms) + " ms");
        const MessageBoxView view = ReadMessageBox(current_);
        Say("message " + Flat(WindowText(current_)) + "|" + Flat(view.text) + "|" + view.icon);
    } else if (name == L"wait-gone") {
        const int ms = TakeInt();
        HWND window = current_;
        if (!WaitFor([window]() -> HWND { return IsWindow(window) ? nullptr : HWND(1); }, static_cast<DWORD>(ms)))
            Fail("the window still exists after " + std::to_string(ms) + " ms");
    } else if (name == L"windows") {
        int main = 0, dialogs = 0, messages = 0;
        for (HWND window : TopLevelDialogs()) {
            const Kind kind = KindOf(window);
            if (kind == Kind::Main) ++main;
            else if (kind == Kind::Dialog && IsWindowVisible(window)) ++dialogs;
            else if (kind == Kind::Message && IsWindowVisible(window)) ++messages;
        }
        Say("windows " + std::to_string(main) + " " + std::to_string(dialogs) + " " + std::to_string(messages));
    } else if (name == L"select") {
        const int id = TakeInt();
        const int index = TakeInt();
        HWND list = Control(id);
        Send(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        Send(Current(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    } else if (name == L"slide") {
        const int id = TakeInt();
        const int pos = TakeInt();
        HWND slider = Control(id);
        Send(slider, TBM_SETPOS, TRUE, pos);
        Send(Current(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos), reinterpret_cast<LPARAM>(slider));
        Send(Current(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    } else if (name == L"click") {
        Send(Control(TakeInt()), BM_CLICK, 0, 0);
    } else if (name == L"post-click") {
        PostMessageW(Control(TakeInt()), BM_CLICK, 0, 0);
    } else if (name == L"settext") {
        const int id = TakeInt();
        const std::wstring text = Take();
        Send(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    } else if (name == L"press-enter") {
        PressKey(VK_RETURN);
    } else if (name == L"press-esc") {
        PressKey(VK_ESCAPE);
    } else if (name == L"close") {
        PostMessageW(Current(), WM_CLOSE, 0, 0);
    } else if (name == L"minimize") {
        ShowWindow(Current(), SW_MINIMIZE);
        Send(Current(), WM_NULL, 0, 0);
    } else if (name == L"ok") {
        HWND button = GetDlgItem(Current(), IDOK);
        if (button) PostMessageW(button, BM_CLICK, 0, 0);
        else PostMessageW(Current(), WM_COMMAND, IDOK, 0);
    } else if (name == L"text") {
        const int id = TakeInt();
        Say("text " + Id(id) + " " + Flat(WindowText(Control(id))));
    } else if (name == L"sel") {
        const int id = TakeInt();
        Say("sel " + Id(id) + " " + std::to_string(static_cast<int>(Send(Control(id), CB_GETCURSEL, 0, 0))));
    } else if (name == L"pos") {
        const int id = TakeInt();
        Say("pos " + Id(id) + " " + std::to_string(static_cast<int>(Send(Control(id), TBM_GETPOS, 0, 0))));
    } else if (name == L"range") {
        const int id = TakeInt();
        HWND slider = Control(id);
        Say("range " + Id(id) + " " + std::to_string(static_cast<int>(Send(slider, TBM_GETRANGEMIN, 0, 0))) + " " +
            std::to_string(static_cast<int>(Send(slider, TBM_GETRANGEMAX, 0, 0))));
    } else if (name == L"check") {
        const int id = TakeInt();
        Say("check " + Id(id) + " " + std::to_string(static_cast<int>(Send(Control(id), BM_GETCHECK, 0, 0))));
    } else if (name == L"visible") {
        const int id = TakeInt();
        Say("visible " + Id(id) + " " + (IsWindowVisible(Control(id)) ? "1" : "0"));
    } else if (name == L"enabled") {
        const int id = TakeInt();
        Say("enabled " + Id(id) + " " + (IsWindowEnabled(Control(id)) ? "1" : "0"));
    } else if (name == L"items") {
        const int id = TakeInt();
        HWND list = Control(id);
        const int count = static_cast<int>(Send(list, CB_GETCOUNT, 0, 0));
        std::string line = "items " + Id(id) + " " + std::to_string(count);
        for (int i = 0; i < count; ++i) {
            const LRESULT length = Send(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
            std::wstring item(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
            const LRESULT copied = Send(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
            line += (i == 0 ? " " : "|") + Flat(item);
        }
        Say(line);
    } else if (name == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(Current(), nullptr), &info);
        Say("focus " + (info.hwndFocus ? std::to_string(GetDlgCtrlID(info.hwndFocus)) : std::string("none")));
    } else if (name == L"title") {
        Say("title " + Flat(WindowText(Current())));
    } else if (name == L"shown") {
        Say(std::string("shown ") + (IsWindowVisible(Current()) ? "1" : "0"));
    } else if (name == L"iconic") {
        Say(std::string("iconic ") + (IsIconic(Current()) ? "1" : "0"));
    } else if (name == L"window-enabled") {
        Say(std::string("window-enabled ") + (IsWindowEnabled(Current()) ? "1" : "0"));
    } else if (name == L"foreground") {
        Say(std::string("foreground ") + (GetForegroundWindow() == Current() ? "1" : "0"));
    } else if (name == L"layout") {
        Layout();
    } else if (name == L"template") {
        const std::wstring exe = Take();
        DumpTemplate(exe, TakeInt());
    } else if (name == L"icon") {
        const std::wstring exe = Take();
        DumpIconGroup(exe, TakeInt());
    } else if (name == L"manifest") {
        DumpManifest(Take());
    } else if (name == L"version-info") {
        DumpVersionInfo(Take());
    } else {
        Fail("unknown command " + Utf8(name));
    }
}

void Driver::PressKey(WPARAM key) {
    HWND window = Current();
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    // The dialog's message loop hands keys to the dialog manager, as it does typed ones.
    HWND target = info.hwndFocus ? info.hwndFocus : window;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    // Returns once the keys are handled; a key that closed the window has nothing left to answer.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &ignored);
}

// The window as built from its resource: styles, the dialog base units, and every child in
// z-order (the template's order) with its class, styles, visibility and client-relative rectangle.
void Driver::Layout() {
    HWND dialog = Current();
    RECT base{0, 0, 4, 8};
    MapDialogRect(dialog, &base);
    RECT client;
    GetClientRect(dialog, &client);
    char line[512];
    std::snprintf(line, sizeof line, "dialog style=0x%08lX exstyle=0x%08lX base=%ld,%ld client=%ld,%ld",
                  static_cast<unsigned long>(GetWindowLongW(dialog, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongW(dialog, GWL_EXSTYLE)), base.right, base.bottom,
                  client.right, client.bottom);
    Say(line);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        std::snprintf(line, sizeof line, "control %d %s style=0x%08lX exstyle=0x%08lX visible=%d rect=%ld,%ld,%ld,%ld",
                      GetDlgCtrlID(child), Utf8(ClassName(child)).c_str(),
                      static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)),
                      (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) ? 1 : 0, rect.left, rect.top,
                      rect.right - rect.left, rect.bottom - rect.top);
        Say(std::string(line) + " text=" + Flat(WindowText(child)));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    Driver(argc, argv).Run();
    return 0;
}
