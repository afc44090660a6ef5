// The reference for the tool's start-up: a program that creates the tool's
// own dialog template, shows it and runs a message loop, and does nothing
// else. The template's progress bar needs the common controls' class, so that
// registration is part of showing this dialog too.
#include "app/resources/resource.h"

#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK bareDialogProc(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, bareDialogProc, 0);
    if (!dialog)
        return 1;
    ShowWindow(dialog, showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
