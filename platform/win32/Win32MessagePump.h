#pragma once
// Waiting on the user-interface thread without hanging the windows. While an operation of the
// controller window pauses, the thread keeps taking the messages that paint its windows and that
// the system sends it (so Windows never marks it "Not Responding"), drops the user's keyboard and
// mouse input, and leaves our timers' ticks queued until the operation is over.

namespace win32 {

// Returns after at least `milliseconds`, having handled the thread's messages meanwhile.
void PumpMessagesFor(unsigned milliseconds);

// Removes the keyboard and mouse input queued for the thread's windows.
void DropUserInput();

}  // namespace win32
