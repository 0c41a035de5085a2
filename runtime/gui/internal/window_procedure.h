// The window class procedure of every runtime window: its message handler, the results a
// handler gives, the runtime's own messages and accelerator commands, and the focus steps that
// Tab and Shift+Tab run.
#pragma once

#include "runtime/gui/gui.h"

// A handler leaves the message alone; the default procedure is to run.
constexpr LRESULT NOT_HANDLED = -791621423;
// A user window callback lets the runtime's own handling go on.
constexpr LRESULT USER_DEFAULT = -522133279;

// Commands of every window's accelerator table.
constexpr WORD ID_FOCUS_NEXT = 64001;
constexpr WORD ID_FOCUS_PREVIOUS = 64002;

// Runtime messages besides the Windows ones.
constexpr UINT kTrayCallbackMessage = 12501; // tray icon callback, mouse message in lParam
constexpr UINT kGadgetMessage = 13120;       // addressed to a gadget, its control in lParam

// The window class procedure of every runtime window and the message handler behind it.
LRESULT CALLBACK Window_ClassProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT Window_HandleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the keyboard focus to the next (0) or previous (non-zero) tab stop of the active window.
void Focus_Step(int backwards);
