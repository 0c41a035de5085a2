// Drives a program's windows from outside, as a person would: finds them by process, class and
// caption, reads their texts and sends real keys and clicks.
#pragma once

#include "support/utf8.h"

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

// Visible top-level windows of a process.
std::vector<HWND> TopWindowsOf(DWORD process_id);
// Waits up to `timeout_ms` for a visible top-level window of the process with that class (null
// for any) and caption (null for any).
HWND WaitForWindow(DWORD process_id, const wchar_t* class_name, const wchar_t* caption,
                   DWORD timeout_ms);
// Child windows of `parent` with that class.
std::vector<HWND> ChildrenOf(HWND parent, const wchar_t* class_name);

// Waits up to `timeout_ms` until `parent` has `count` children of that class; returns them.
std::vector<HWND> WaitForChildren(HWND parent, const wchar_t* class_name, size_t count,
                                  DWORD timeout_ms);

// The text of a message box (its static text control).
std::wstring MessageBoxText(HWND box);
// Whether a message box shows an icon.
bool MessageBoxHasIcon(HWND box);

// The focused control of the thread that owns `window`.
HWND FocusOf(HWND window);
// A point of the window's close box in screen coordinates (false when it has none).
bool CloseBoxPoint(HWND window, POINT* point);
// Waits until the window's visibility is `visible`.
bool WaitForVisibility(HWND window, bool visible, DWORD timeout_ms);
// Saves the whole screen as a 24-bit BMP file.
bool SaveScreenBmp(const std::wstring& path);

// Real input through SendInput.
void PressKey(WORD key, bool with_shift = false);
void ClickAt(int x, int y);
void ClickCentre(HWND window);
// Closes a message box with a real Return key and waits until it is gone.
void Acknowledge(HWND box, DWORD timeout_ms);
bool BringToFront(HWND window);

// A child process started by a test; killed if it is still running when the owner goes.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Start(const std::wstring& command_line, const wchar_t* folder = nullptr);
    // The exit code, or -1 when it did not end in time.
    long WaitForExit(DWORD timeout_ms);
    DWORD id() const { return info_.dwProcessId; }
    HANDLE handle() const { return info_.hProcess; }

  private:
    PROCESS_INFORMATION info_{};
};

// Handles a process holds. Wine answers GetProcessHandleCount with 0, so the system's handle
// table is counted there instead.
DWORD HandleCountOf(HANDLE process);
// Windows (top-level and their descendants) that belong to a process.
DWORD WindowCountOf(DWORD process_id);

// The whole content of a file, or nothing when it cannot be read.
std::string FileBytes(const std::wstring& path);

// Folder of the running test executable, with a final backslash.
std::wstring OwnFolder();
// Where the build put the program (KESTREVEL_EXE) or the stand-in tool (KESTREVEL_STANDIN):
// CTest names each file, so that every generator's layout works; a test started by hand finds
// it from the single-configuration layout, where test executables sit in <build>\tests\<group>.
std::wstring ProgramFile();
std::wstring StandinFile();
// A library that only leaves a trace when it is loaded (KESTREVEL_PLANTED).
std::wstring PlantedLibraryFile();
// The Windows version Wine reports to programs of that file name ("win10", "win7", ...), for as
// long as the owner lives: the setting goes with it.
class WineVersionFor {
  public:
    WineVersionFor(const std::wstring& exe_name, const std::wstring& setting);
    ~WineVersionFor();
    WineVersionFor(const WineVersionFor&) = delete;
    WineVersionFor& operator=(const WineVersionFor&) = delete;
    bool applied() const { return applied_; }

  private:
    std::wstring key_;
    bool applied_ = false;
};

bool RunningUnderWine();

} // namespace driver
