// The tool's main dialog.
#pragma once

#include <windows.h>

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the main dialog from its template, shows it with the show command
// the process was started with and runs the message loop until the dialog
// has been destroyed. Returns the process exit code: 0 after the dialog is
// gone, -1 when the message loop fails, 1 when the dialog cannot be created
// (after an error box; the loop is then never entered, since no window would
// ever end it). The model catalogue must be built before.
int runMainDialog(HINSTANCE instance, int showCommand);
