// Plays the user for the start-up check of the built tool, from outside its
// process:
//   app_window_driver wait <caption> <seconds>   waits for a visible window
//   app_window_driver press <caption> <id>       presses a button of it
// Exit code 0 when done, 1 when there is no such window.
#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace {

HWND findVisible(const wchar_t *caption)
{
    HWND window = FindWindowW(nullptr, caption);
    return window && IsWindowVisible(window) ? window : nullptr;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4)
        return 2;
    const wchar_t *caption = argv[2];
    long number = std::wcstol(argv[3], nullptr, 10);
    if (std::wcscmp(argv[1], L"wait") == 0) {
        for (long waited = 0; waited <= number * 1000; waited += 100) {
            if (findVisible(caption))
                return 0;
            Sleep(100);
        }
        return 1;
    }
    HWND window = findVisible(caption);
    if (std::wcscmp(argv[1], L"press") != 0 || !window)
        return 1;
    // A command message, not a click: the window need not be in front.
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED), 0) ? 0 : 1;
}
