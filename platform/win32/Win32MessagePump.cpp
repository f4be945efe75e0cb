#include "platform/win32/Win32MessagePump.h"

#include <windows.h>

namespace win32 {

namespace {

struct MessageRange {
    UINT first;
    UINT last;
};

// Keyboard, mouse in the client area, mouse on the frame (title bar, close box).
constexpr MessageRange kUserInput[] = {
    {WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}, {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};

// Everything but our timers' ticks, which wait in the queue for the operation to end.
constexpr MessageRange kHandled[] = {{0, WM_TIMER - 1}, {WM_TIMER + 1, ~0u}};

// A window that never validates itself would keep one WM_PAINT coming.
constexpr int kMaxMessagesPerRound = 1000;

bool IsUserInput(UINT message) {
    for (const MessageRange& range : kUserInput)
        if (message >= range.first && message <= range.last) return true;
    return false;
}

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Handles what is queued now; messages sent to the thread are delivered inside PeekMessage.
// Returns false once WM_QUIT came, after putting it back for the loop that waits for it.
bool HandleQueued() {
    DropUserInput();
    MSG message;
    for (int handled = 0; handled < kMaxMessagesPerRound; ++handled) {
        bool found = false;
        for (const MessageRange& range : kHandled)
            if ((found = PeekMessageW(&message, nullptr, range.first, range.last, PM_REMOVE) != FALSE)) break;
        if (!found) return true;
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        if (IsUserInput(message.message)) continue;
        DispatchMessageW(&message);
    }
    return true;
}

}  // namespace

void DropUserInput() {
    MSG message;
    for (const MessageRange& range : kUserInput)
        while (PeekMessageW(&message, nullptr, range.first, range.last, PM_REMOVE)) {
        }
}

void PumpMessagesFor(unsigned milliseconds) {
    const double deadline = NowMs() + milliseconds;
    bool pumping = true;
    for (;;) {
        if (pumping) pumping = HandleQueued();
        const double left = deadline - NowMs();
        if (left <= 0) return;
        const DWORD wait = static_cast<DWORD>(left) + 1;
        if (!pumping) {
            ::Sleep(wait);
            continue;
        }
        // Wakes for anything but our timers: sent and posted messages, paint requests, input to drop.
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_INPUT | QS_POSTMESSAGE | QS_PAINT | QS_SENDMESSAGE, 0);
    }
}

}  // namespace win32
