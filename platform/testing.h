// Driving the real windows from tests and tools, as a person would: clicks, keys and pointer
// moves go through the window system's own event delivery. Nothing here replaces behaviour.
#pragma once

#include <functional>
#include <string>

#include "platform/mfc.h"

namespace afxtest {

// Brings up the window system (headless when QT_QPA_PLATFORM=offscreen) and the resources.
void Init(const AFX_RESOURCE_TABLE* resources);
// Runs `script` with the dialog's handle once the next modal dialog is up and running its loop.
void OnNextModal(std::function<void(HWND)> script);
// Lets the window system deliver what is pending; with a time, keeps doing so for that long.
void ProcessEvents(int milliseconds = 0);
// Processes events until `done` is true or the time runs out; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);
// Runs `fn` from the event loop after `milliseconds` (for answering a popup that blocks the caller).
void RunLater(std::function<void()> fn, int milliseconds = 0);
// Closes the window as its caption's close box does.
void CloseWindow(HWND hWnd);
// The dialog that is modal now, if any.
HWND ActiveModal();

void Click(HWND hWnd);
void ClickAt(HWND hWnd, int x, int y);
void RightClickAt(HWND hWnd, int x, int y);
void MoveMouse(HWND hWnd, int x, int y);
// Gives the control the keyboard focus, then presses and releases the key there.
void Key(HWND hWnd, UINT vk, bool alt = false);
void TypeText(HWND hWnd, const CString& text);
// Presses a key wherever the keyboard focus is now (in a window of ours or not, such as a message
// box), and closes whatever modal window is up (as a watchdog does). Returns false when none is.
void KeyToFocus(UINT vk);
bool RejectActiveModal();
// Clicks an entry of a list box, as a person selects it.
void ClickListBoxItem(HWND hWnd, int index);
// The popup menu open now: its item texts and whether it is showing. Chooses an item by text.
bool IsPopupMenuOpen();
bool ChoosePopupMenuItem(const CString& text);

// What is on screen: the window painted into an image.
bool SaveScreenshot(HWND hWnd, const std::string& pngPath);
// Without children: what the window paints itself (a minimised window shows no controls).
COLORREF PixelAt(HWND hWnd, int x, int y, bool withChildren = true);
// The window's font as painted: its face, pixel size and whether it is underlined.
bool IsFontUnderlined(HWND hWnd);
CString FontFamily(HWND hWnd);
// The pointer shape over the window, as one of IDC_ARROW, IDC_HAND, IDC_WAIT, IDC_IBEAM.
LPCWSTR CursorOf(HWND hWnd);
bool HasFocus(HWND hWnd);
bool IsMinimized(HWND hWnd);
void Minimize(HWND hWnd);

// Makes a resource unavailable (kind 'B' bitmap, 'I' icon, 'S' string, 'D' dialog) until shown again.
void HideResource(char kind, WORD id, bool hidden);
// Binds another resource table (a test's own templates); Init binds the first.
void UseResources(const AFX_RESOURCE_TABLE* resources);
// Whether the window's timer with this ID is running.
bool HasTimer(HWND hWnd, UINT_PTR nIDEvent);
// The text of the tooltip on screen now; empty when none is showing.
CString ShownToolTipText();

} // namespace afxtest
