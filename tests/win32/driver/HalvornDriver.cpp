// Works the running Windows program the way a user would, with real keyboard and mouse input
// (SendInput, into the system's input queue like a keyboard's and a mouse's) or with window
// messages, and prints what its windows show, one line per question. Run under Wine beside the
// program by the Wine tests.
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
// Real input into the current window, which is brought to the foreground first; each returns once
// the program has taken every event it caused:
//   type TEXT               the keys of TEXT, into the control that has the focus
//   key NAME [COUNT]        a key COUNT times (default 1): enter, esc, tab, backspace, delete,
//                           left, right, up, down, pageup, pagedown, home, end
//   mouse-click ID          a left click in the middle of a control (a combo box's field, a
//                           slider's channel)
//   click-thumb ID          a left click on a slider's thumb, which takes the focus
//   drag-thumb ID DX        presses on a slider's thumb, moves DX pixels in steps, releases
//
// Acting on the current window with window messages:
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
//   text ID, sel ID, pos ID, range ID, check ID, visible ID, enabled ID, items ID, focus,
//   caret ID (an edit field's or a combo box's selection: "caret ID START END")
//   title, shown, iconic, window-enabled, foreground, layout
//   fit                     "fit-base X Y DPI": the dialog base units of the dialog font (8 pt MS
//                           Shell Dlg) at the driver's DPI; then for every visible label, button
//                           and edit field with a text "fit ID CLASS need=W,H have=W,H text=T":
//                           the pixels its text needs drawn in that font, the control's own
//                           margins included, beside the client area it has
//
// Watching a long operation:
//   answer-watch ID MS AGAIN
//                           posts a click on button ID, then asks the current window for an
//                           answer every 100 ms (WM_NULL, SendMessageTimeout of 500 ms) until the
//                           button, once disabled, is enabled again, or MS have passed; AGAIN ms
//                           after the first click it posts a second one (0: none). Prints
//                           "answer-watch ASKED UNANSWERED LONGEST ENDED": LONGEST the longest
//                           time in ms the window went without answering, ENDED 1 when the
//                           button came back
//
// The program file itself:
//   template EXE ID         the dialog resource ID of EXE as compiled: its styles, font, caption and
//                           every item with class, styles, ID, position in dialog units and text
//   icon EXE ID             the sizes held by icon group ID of EXE
//   manifest EXE            the application manifest of EXE, one "manifest LINE" per line
//
// Named mutexes, as another process of another user would find them:
//   try-mutex NAME          opens NAME for waiting and release only and takes it without waiting:
//                           "try-mutex none" (no such mutex), "denied", "held" (another process
//                           holds it), "taken" (given back at once) or "abandoned"
//   mutex-dacl NAME         the mutex's access list in SDDL: "mutex-dacl D:(...)"
//   version-info EXE        the version resource of EXE as Windows reads it for the file's
//                           properties: "version-info fixed FILE PRODUCT" (dotted), then
//                           "version-info NAME VALUE" for each string of its US English block
#include <windows.h>

#include <aclapi.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kMainTitle = L"RTX Halvorn Controller";
constexpr int kDeviceList = 1012;
constexpr int kTestRead = 1024;
constexpr DWORD kSendTimeoutMs = 30000;
// The controller window's Apply button: disabled while an operation runs.
constexpr int kApplyButton = 1013;

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
void TryMutex(const std::wstring& name) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    if (!mutex) {
        Say(GetLastError() == ERROR_ACCESS_DENIED ? "try-mutex denied" : "try-mutex none");
        return;
    }
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_TIMEOUT:
            Say("try-mutex held");
            break;
        case WAIT_OBJECT_0:
            Say("try-mutex taken");
            ReleaseMutex(mutex);
            break;
        case WAIT_ABANDONED:
            Say("try-mutex abandoned");
            ReleaseMutex(mutex);
            break;
        default:
            Fail("cannot wait on the mutex: error " + std::to_string(GetLastError()));
    }
    CloseHandle(mutex);
}

void MutexDacl(const std::wstring& name) {
    HANDLE mutex = OpenMutexW(READ_CONTROL, FALSE, name.c_str());
    if (!mutex) Fail("cannot open the mutex to read its security: error " + std::to_string(GetLastError()));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor);
    CloseHandle(mutex);
    if (error != ERROR_SUCCESS) Fail("cannot read the mutex's security: error " + std::to_string(error));
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        Fail("cannot write the mutex's security as SDDL");
    Say("mutex-dacl " + Utf8(text));
    LocalFree(text);
    LocalFree(descriptor);
}

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

// ---------------------------------------------------------------------------------------------
// Real input. SendInput only queues the events; the program takes them in its own time. The
// driver shares the program's input state (AttachThreadInput), and a closing key nothing reacts
// to (F24), pressed and released after the events, shows when the program has taken them all.

constexpr WORD kSettleKey = VK_F24;
constexpr DWORD kSettleMs = 10000;

void Queue(std::vector<INPUT>& inputs) {
    if (inputs.empty()) return;
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size()) Fail("SendInput took " + std::to_string(sent) + " of " + std::to_string(inputs.size()));
    inputs.clear();
}

void AddKey(std::vector<INPUT>& inputs, WORD key, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    switch (key) {
        case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_PRIOR: case VK_NEXT:
        case VK_HOME: case VK_END: case VK_DELETE:
            input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
            break;
        default:
            break;
    }
    inputs.push_back(input);
}

void AddPress(std::vector<INPUT>& inputs, WORD key) {
    AddKey(inputs, key, true);
    AddKey(inputs, key, false);
}

// The keys that make one character on the keyboard layout, Shift included.
void AddCharacter(std::vector<INPUT>& inputs, wchar_t c) {
    const SHORT scan = VkKeyScanW(c);
    if (scan == -1 || (HIBYTE(scan) & ~1)) Fail("no plain key makes the character " + std::to_string(int(c)));
    const bool shift = HIBYTE(scan) & 1;
    if (shift) AddKey(inputs, VK_SHIFT, true);
    AddPress(inputs, LOBYTE(scan));
    if (shift) AddKey(inputs, VK_SHIFT, false);
}

// An absolute move, in the normalised coordinates SendInput maps onto the primary screen.
INPUT MoveTo(POINT to) {
    const LONG width = GetSystemMetrics(SM_CXSCREEN);
    const LONG height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(to.x) * 65536 + width - 1) / width);
    input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(to.y) * 65536 + height - 1) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return input;
}

void AddMove(std::vector<INPUT>& inputs, POINT to) { inputs.push_back(MoveTo(to)); }

// The button goes down or up at the point itself, not wherever the mouse is by then: Wine turns
// the X server's own pointer events (a window mapped under the pointer, a warp) into mouse moves
// of the program's, and one of those taken between the move and the button would put the click
// elsewhere.
void AddButton(std::vector<INPUT>& inputs, POINT at, bool down) {
    INPUT input = MoveTo(at);
    input.mi.dwFlags |= down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    inputs.push_back(input);
}

WORD NamedKey(const std::wstring& name) {
    static const struct {
        const wchar_t* name;
        WORD key;
    } keys[] = {{L"enter", VK_RETURN}, {L"esc", VK_ESCAPE},  {L"tab", VK_TAB},     {L"backspace", VK_BACK},
                {L"delete", VK_DELETE}, {L"left", VK_LEFT},  {L"right", VK_RIGHT}, {L"up", VK_UP},
                {L"down", VK_DOWN},    {L"pageup", VK_PRIOR}, {L"pagedown", VK_NEXT}, {L"home", VK_HOME},
                {L"end", VK_END}};
    for (const auto& k : keys)
        if (name == k.name) return k.key;
    Fail("unknown key " + Utf8(name));
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
    void AnswerWatch();
    void Layout();
    void Fit();
    void PressKey(WPARAM key);

    // Real input.
    void Foreground();
    void Deliver(std::vector<INPUT>& inputs);
    static void AwaitTaken();
    void AwaitIdle();
    POINT Middle(HWND control) const;
    RECT ThumbRect(HWND slider) const;
    bool ComboInfo(HWND combo, COMBOBOXINFO& info) const;
    template <typename T>
    bool AskInProgram(HWND control, UINT message, T& value, bool (*answered)(LRESULT)) const;
    void MouseClick(POINT at);

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
        AwaitIdle();
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
    } else if (name == L"type") {
        const std::wstring text = Take();
        std::vector<INPUT> inputs;
        for (wchar_t c : text) AddCharacter(inputs, c);
        Deliver(inputs);
    } else if (name == L"key") {
        const WORD key = NamedKey(Take());
        int count = 1;
        if (next_ < args_.size() && !args_[next_].empty() && std::iswdigit(args_[next_][0])) count = TakeInt();
        // One press at a time, as a user who waits for the window: a press that starts an operation
        // would see the next one dropped.
        std::vector<INPUT> inputs;
        for (int i = 0; i < count; ++i) {
            AddPress(inputs, key);
            Deliver(inputs);
        }
    } else if (name == L"mouse-click") {
        MouseClick(Middle(Control(TakeInt())));
    } else if (name == L"click-thumb" || name == L"drag-thumb") {
        HWND slider = Control(TakeInt());
        const int dx = name == L"drag-thumb" ? TakeInt() : 0;
        RECT thumb = ThumbRect(slider);
        POINT at{(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2};
        ClientToScreen(slider, &at);
        std::vector<INPUT> inputs;
        AddMove(inputs, at);
        AddButton(inputs, at, true);
        Deliver(inputs);
        // In steps, as a hand moves, each taken before the next; the screen's edge stops the mouse.
        constexpr int kSteps = 8;
        const LONG right = GetSystemMetrics(SM_CXSCREEN) - 1;
        POINT to = at;
        for (int step = 1; dx != 0 && step <= kSteps; ++step) {
            to = POINT{std::max(0L, std::min(right, at.x + dx * step / kSteps)), at.y};
            AddMove(inputs, to);
            Deliver(inputs);
        }
        AddButton(inputs, to, false);
        Deliver(inputs);
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
    } else if (name == L"caret") {
        const int id = TakeInt();
        HWND control = Control(id);
        const bool combo = ClassName(control) == L"ComboBox";
        const auto selection = static_cast<DWORD>(Send(control, combo ? CB_GETEDITSEL : EM_GETSEL, 0, 0));
        Say("caret " + Id(id) + " " + std::to_string(LOWORD(selection)) + " " + std::to_string(HIWORD(selection)));
    } else if (name == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(Current(), nullptr), &info);
        HWND focus = info.hwndFocus;
        // A combo box's field is a child window of its own; the user sees the combo box focused.
        if (focus && ClassName(GetParent(focus)) == L"ComboBox") focus = GetParent(focus);
        Say("focus " + (focus ? std::to_string(GetDlgCtrlID(focus)) : std::string("none")));
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
    } else if (name == L"fit") {
        Fit();
    } else if (name == L"template") {
        const std::wstring exe = Take();
        DumpTemplate(exe, TakeInt());
    } else if (name == L"icon") {
        const std::wstring exe = Take();
        DumpIconGroup(exe, TakeInt());
    } else if (name == L"manifest") {
        DumpManifest(Take());
    } else if (name == L"try-mutex") {
        TryMutex(Take());
    } else if (name == L"mutex-dacl") {
        MutexDacl(Take());
    } else if (name == L"answer-watch") {
        AnswerWatch();
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

// Keyboard input goes to the foreground window's focus; a program started from a test has no
// window manager to make it the foreground, so the driver does, sharing the program's input.
void Driver::Foreground() {
    HWND window = Current();
    const DWORD program = GetWindowThreadProcessId(window, nullptr);
    MSG ignored;
    PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);  // a message queue of our own to attach
    if (!AttachThreadInput(GetCurrentThreadId(), program, TRUE)) Fail("cannot share the program's input");
    if (GetForegroundWindow() != window) SetForegroundWindow(window);
    if (GetForegroundWindow() != window) Fail("the window does not come to the foreground");
}

void Driver::Deliver(std::vector<INPUT>& inputs) {
    Foreground();
    HWND window = Current();
    Queue(inputs);
    AwaitTaken();
    // The last event is taken; its handling ends before the program answers.
    if (IsWindow(window)) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
    }
    AwaitIdle();
}

// An operation of the controller window answers messages during its pauses and drops input, so a
// user waits until its buttons come back before the next key or click; so does the driver. The
// buttons are enabled a moment before the window drops what came during the operation, so the
// window is idle once it has answered a message with them enabled: by then it is back in its
// message loop.
void Driver::AwaitIdle() {
    HWND main = main_ && IsWindow(main_) ? main_ : FindMain(false);
    HWND apply = main ? GetDlgItem(main, kApplyButton) : nullptr;
    if (!apply) return;
    const ULONGLONG deadline = GetTickCount64() + kSendTimeoutMs;
    for (;;) {
        while (!IsWindowEnabled(apply)) {
            if (GetTickCount64() >= deadline) Fail("the controller window stayed busy");
            Sleep(10);
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &ignored);
        if (!IsWindow(apply) || IsWindowEnabled(apply)) return;
    }
}

// While keys wait in the program's queue its key state stays as of the last key it took, so the
// closing key shows down once the program has taken it and up once it has taken its release.
// Wine lets go of keys the X server does not hold down when a window gets the X focus; a closing
// key let go of that way before it was seen down is pressed again.
void Driver::AwaitTaken() {
    const ULONGLONG deadline = GetTickCount64() + kSettleMs;
    auto expire = [deadline](const char* what) {
        if (GetTickCount64() >= deadline)
            Fail(std::string("the program did not take the ") + what + " within " + std::to_string(kSettleMs) + " ms");
    };
    std::vector<INPUT> inputs;
    AddKey(inputs, kSettleKey, true);
    Queue(inputs);
    while (!(GetKeyState(kSettleKey) & 0x8000)) {
        if (!(GetAsyncKeyState(kSettleKey) & 0x8000)) {
            AddKey(inputs, kSettleKey, true);
            Queue(inputs);
        }
        expire("input");
        Sleep(2);
    }
    AddKey(inputs, kSettleKey, false);
    Queue(inputs);
    while (GetKeyState(kSettleKey) & 0x8000) {
        expire("closing key's release");
        Sleep(2);
    }
}

POINT Driver::Middle(HWND control) const {
    RECT rect;
    GetWindowRect(control, &rect);
    // A combo box's window includes its closed list only while it is dropped.
    if (ClassName(control) == L"ComboBox") {
        COMBOBOXINFO info{};
        if (ComboInfo(control, info)) {
            MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&info.rcItem), 2);
            rect = info.rcItem;
        }
    }
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Messages that write a structure through their pointer: the pointer must point into the program's
// memory. Asked with a pointer into this process, Wine lets the program write at that address of
// its own memory, over whatever lives there. value goes in as the question and comes back as the
// answer; answered: whether the message's result counts as an answer.
template <typename T>
bool Driver::AskInProgram(HWND control, UINT message, T& value, bool (*answered)(LRESULT)) const {
    DWORD pid = 0;
    GetWindowThreadProcessId(control, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) Fail("cannot open the program's process");
    void* remote = VirtualAllocEx(process, nullptr, sizeof(T), MEM_COMMIT, PAGE_READWRITE);
    SIZE_T moved = 0;
    const bool ok = remote && WriteProcessMemory(process, remote, &value, sizeof value, &moved) &&
                    moved == sizeof value &&
                    answered(Send(control, message, 0, reinterpret_cast<LPARAM>(remote))) &&
                    ReadProcessMemory(process, remote, &value, sizeof value, &moved) && moved == sizeof value;
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return ok;
}

bool Driver::ComboInfo(HWND combo, COMBOBOXINFO& info) const {
    info = COMBOBOXINFO{};
    info.cbSize = sizeof info;
    return AskInProgram(combo, CB_GETCOMBOBOXINFO, info, [](LRESULT result) { return result != 0; });
}

RECT Driver::ThumbRect(HWND slider) const {
    RECT thumb{};
    // TBM_GETTHUMBRECT's result says nothing.
    if (!AskInProgram(slider, TBM_GETTHUMBRECT, thumb, [](LRESULT) { return true; }) || thumb.right <= thumb.left)
        Fail("cannot find the slider's thumb");
    return thumb;
}

void Driver::MouseClick(POINT at) {
    std::vector<INPUT> inputs;
    AddMove(inputs, at);
    AddButton(inputs, at, true);
    AddButton(inputs, at, false);
    Deliver(inputs);
    POINT cursor{};
    GetCursorPos(&cursor);
    if (cursor.x != at.x || cursor.y != at.y)
        Fail("the mouse went to " + std::to_string(cursor.x) + "," + std::to_string(cursor.y) + ", not " +
             std::to_string(at.x) + "," + std::to_string(at.y));
}

void Driver::AnswerWatch() {
    constexpr DWORD kAskEveryMs = 100;
    constexpr UINT kAnswerWithinMs = 500;
    HWND window = Current();
    HWND button = Control(TakeInt());
    const ULONGLONG limit = static_cast<ULONGLONG>(TakeInt());
    const ULONGLONG againAfter = static_cast<ULONGLONG>(TakeInt());
    const ULONGLONG start = GetTickCount64();
    PostMessageW(button, BM_CLICK, 0, 0);
    bool clickedAgain = againAfter == 0, sawDisabled = false, ended = false;
    int asked = 0, unanswered = 0;
    // A silence runs from the first question left unanswered to the next answer.
    bool silent = false;
    ULONGLONG silentSince = 0, longest = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now - start >= limit) break;
        if (!clickedAgain && now - start >= againAfter) {
            PostMessageW(button, BM_CLICK, 0, 0);
            clickedAgain = true;
        }
        ++asked;
        DWORD_PTR ignored = 0;
        const bool answered =
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerWithinMs, &ignored) != 0;
        const ULONGLONG at = GetTickCount64();
        if (answered) {
            const ULONGLONG silence = at - (silent ? silentSince : now);
            if (silence > longest) longest = silence;
            silent = false;
        } else {
            ++unanswered;
            if (!silent) silentSince = now;
            silent = true;
        }
        // The window's style is read without asking the program.
        if (!IsWindowEnabled(button)) {
            sawDisabled = true;
        } else if (sawDisabled && clickedAgain && answered) {
            ended = true;
            break;
        }
        const ULONGLONG spent = GetTickCount64() - now;
        if (spent < kAskEveryMs) Sleep(static_cast<DWORD>(kAskEveryMs - spent));
    }
    if (silent && GetTickCount64() - silentSince > longest) longest = GetTickCount64() - silentSince;
    Say("answer-watch " + std::to_string(asked) + " " + std::to_string(unanswered) + " " + std::to_string(longest) +
        " " + (ended ? "1" : "0"));
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

// A font handle does not cross processes: the controls' font is made again from the dialog
// template's (every control takes the dialog's), and fit-base lets the test compare its base units
// with the ones the dialog's layout shows.
void Driver::Fit() {
    HWND dialog = Current();
    HDC dc = GetDC(dialog);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    HFONT font = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg");
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE alphabet{};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
    const int baseX = (alphabet.cx / 26 + 1) / 2, baseY = metrics.tmHeight;
    Say("fit-base " + std::to_string(baseX) + " " + std::to_string(baseY) + " " + std::to_string(dpi));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
        const std::wstring kind = ClassName(child), text = WindowText(child);
        if (text.empty()) continue;
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        RECT have;
        GetClientRect(child, &have);
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        int needW = extent.cx, needH = metrics.tmHeight;
        if (!lstrcmpiW(kind.c_str(), L"Static")) {
            // Drawn word-wrapped in its width, as a left-aligned label draws itself.
            RECT wrapped{0, 0, have.right, 0};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
            needW = wrapped.right;
            needH = wrapped.bottom;
        } else if (!lstrcmpiW(kind.c_str(), L"Button")) {
            // A check box's box and the gap after it take 12 dialog units, the layout guidelines'
            // allowance; a push button keeps 2 units of edge and padding on each side.
            const bool checkBox = (style & BS_TYPEMASK) == BS_AUTOCHECKBOX || (style & BS_TYPEMASK) == BS_CHECKBOX;
            needW += MulDiv(checkBox ? 12 : 4, baseX, 4);
        } else if (!lstrcmpiW(kind.c_str(), L"Edit")) {
            const LRESULT margins = SendMessageW(child, EM_GETMARGINS, 0, 0);
            needW += LOWORD(margins) + HIWORD(margins);
        } else {
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "fit %d %s need=%d,%d have=%ld,%ld text=", GetDlgCtrlID(child),
                      Utf8(kind).c_str(), needW, needH, have.right, have.bottom);
        Say(line + Flat(text));
    }
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(dialog, dc);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    // Pixels as the screen has them, not scaled for a program that knows no DPI: the program
    // under test declares itself DPI-aware, and the driver measures its windows.
    SetProcessDPIAware();
    Driver(argc, argv).Run();
    return 0;
}
