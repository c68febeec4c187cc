#pragma once
// What the window system knows about the user's attention and screen.
//
// On Windows these are questions to the system (the foreground window's
// process, the screen metrics). Here the installer's window lives in a
// browser, so the window engine reports them as the page sees them, and the
// answers are the last reports.

namespace kx::platform {

// True while a window of this process is focused and visible; false until reported.
bool processOwnsForeground();
// Any thread.
void reportForeground(bool foreground);

struct ScreenSize {
  int width = 0;
  int height = 0;
};

// The primary screen in device pixels; 0 x 0 until reported (no display).
ScreenSize screenSize();
// Any thread.
void reportScreenSize(ScreenSize size);

}  // namespace kx::platform
