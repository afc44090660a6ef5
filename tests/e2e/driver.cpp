// Drives the upgrade tool through its window the way a person does, from a
// script of steps, and logs everything the person would have seen, in order.
//
//   e2e_driver <script> <log> <screenshot folder>
//
// The driver watches the tool all the time: the status and detail texts, the
// Ok button, the progress bar and every message box. Each change is logged
// with the time it was first seen. Steps that expect a status text or a box
// take the next one that was seen, so a text or a box that nobody expected
// fails the run instead of passing unnoticed.
//
// Script steps (one per line; strings in double quotes with \n, \" and \\;
// timeouts in seconds; '#' starts a comment line):
//   window [timeout]                     the tool's window appears
//   status "<text>" [timeout]            the next status text is this one
//   detail "<text>"                      the detail text is this one now
//   maybe-status "<text>" [timeout]      takes the next status text only when
//                                        it is this one: for a text that may
//                                        be replaced before it can be seen
//   box "<caption>" "<text>" dialog|none [timeout]
//                                        the next box and its owner
//   answer ok|cancel|yes|no              answers the box taken last
//   list "<line>"...                     the list box of the box taken last
//                                        holds exactly these lines, none
//                                        selected
//   choose <n>                           clicks line n (from 1) of that list
//                                        and then its Ok button with the
//                                        mouse; the box must close
//   choose <n> refused                   clicks line n, finds Ok disabled,
//                                        double-clicks the line and clicks
//                                        Ok; the box must stay open
//   post ok                              posts an Ok command to the tool's
//                                        window, as automation tools send it
//   no-process <name>                    no process of that name runs
//   press ok|ok-greyed|escape|enter      click Ok with the mouse (ok: refused
//                                        while it is disabled; ok-greyed: only
//                                        while it is), or press the
//                                        Escape or Enter key; real input
//                                        events into the display (xdotool)
//   responsive                           the window answers a message within
//                                        2 s, as Windows asks of a window it
//                                        does not mark "Not Responding"
//   program "<command line>" <exit code> [timeout]
//                                        runs a Windows program and expects
//                                        it to end with this code
//   ok enabled|disabled [timeout]        the Ok button's state (now, or
//                                        within the timeout)
//   bar visible|hidden [timeout]         the progress bar's state, likewise
//   queue <name> shared|unshared         the print queue's shared attribute now
//   reboot-wait <min> <max>              seconds since the bar appeared
//   shot <name>                          a screenshot, <name>.bmp
//   picture <name> window|box            the tool's window, or the box taken
//                                        last, alone, once it holds still:
//                                        pictures\<name>.bmp, and beside it
//                                        <name>.mask, the progress bar's place
//                                        when it shows
//   file <name> "<content>"              writes a file (relative to the
//                                        driver's current folder)
//   wait <seconds>
//   gone [timeout]                       the window has gone, and every text
//                                        and box seen was expected
//
// Exit code 0 when every step held; 1 with a FAIL line in the log otherwise;
// 2 for a script that cannot be read.
#include <windows.h>
#include <winspool.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

const WCHAR ToolCaption[] = L"Tarnell Vellumax 350-650 Firmware Upgrade Tool";
const WCHAR TemplateStatus[] = L"Select a Printer to install FW";
const int StatusTextId = 131;
const int DetailTextId = 132;
const int ProgressBarId = 1002;
// The text of a message box is the static control with this id.
const int BoxTextId = 0xFFFF;
const DWORD PollMs = 40;
const double DefaultTimeout = 30.0;

struct SeenBox {
    HWND window;
    std::wstring caption;
    std::wstring text;
    bool ownedByTool;
};

struct Watch {
    FILE *log = nullptr;
    LARGE_INTEGER start = {}, frequency = {};
    HWND tool = nullptr;
    bool toolSeen = false;
    bool toolGone = false;
    std::wstring status, detail;
    bool okEnabled = false, barVisible = false;
    std::string focus;
    double barShownAt = -1;
    std::vector<std::wstring> statuses;  // every distinct status, in order
    size_t statusesTaken = 0;
    std::vector<SeenBox> boxes;          // every box, in the order they appeared
    size_t boxesTaken = 0;
    std::wstring shotFolder;
    int shots = 0;
};

Watch watch;

double now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart - watch.start.QuadPart) / double(watch.frequency.QuadPart);
}

std::string utf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

std::wstring wide(const std::string &text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], size);
    result.resize(result.size() - 1);
    return result;
}

// One line per text, with the line breaks visible, as the script writes them.
std::string quoted(const std::wstring &text)
{
    std::string out = "\"";
    for (char c : utf8(text)) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

void logLine(const std::string &line)
{
    std::fprintf(watch.log, "%8.3f %s\n", now(), line.c_str());
    std::fflush(watch.log);
}

[[noreturn]] void failRun(const std::string &why)
{
    logLine("FAIL " + why);
    std::fprintf(stderr, "e2e_driver: %s\n", why.c_str());
    std::exit(1);
}

// Reads a window's text from the window manager's own copy, without sending
// a message: the tool blocks its thread while it copies and waits, and the
// driver must still see what the window shows then.
std::wstring textOf(HWND window)
{
    if (!window)
        return L"";
    WCHAR buffer[2048] = L"";
    InternalGetWindowText(window, buffer, ARRAYSIZE(buffer));
    return buffer;
}

bool isDialogClass(HWND window)
{
    WCHAR className[64] = L"";
    GetClassNameW(window, className, ARRAYSIZE(className));
    return wcscmp(className, L"#32770") == 0;
}

BOOL CALLBACK collectBox(HWND window, LPARAM)
{
    if (window == watch.tool || !isDialogClass(window) || !IsWindowVisible(window))
        return TRUE;
    for (const SeenBox &box : watch.boxes)
        if (box.window == window)
            return TRUE;
    SeenBox box;
    box.window = window;
    box.caption = textOf(window);
    box.text = textOf(GetDlgItem(window, BoxTextId));
    HWND owner = GetWindow(window, GW_OWNER);
    box.ownedByTool = owner != nullptr && owner == watch.tool;
    watch.boxes.push_back(box);
    logLine("box " + quoted(box.caption) + (box.ownedByTool ? " owner=dialog " : " owner=none ") +
            quoted(box.text));
    return TRUE;
}

// Looks at the tool once and logs what changed since the last look.
void poll()
{
    if (!watch.toolGone) {
        HWND tool = FindWindowW(L"#32770", ToolCaption);
        if (tool && !watch.toolSeen) {
            watch.tool = tool;
            watch.toolSeen = true;
            logLine("window " + quoted(ToolCaption));
        } else if (watch.toolSeen && (!tool || !IsWindow(watch.tool))) {
            watch.toolGone = true;
            logLine("window gone");
        }
    }
    if (watch.toolSeen && !watch.toolGone) {
        HWND statusText = GetDlgItem(watch.tool, StatusTextId);
        HWND detailText = GetDlgItem(watch.tool, DetailTextId);
        HWND ok = GetDlgItem(watch.tool, IDOK);
        HWND bar = GetDlgItem(watch.tool, ProgressBarId);
        std::wstring status = textOf(statusText), detail = textOf(detailText);
        bool okEnabled = IsWindowEnabled(ok) != FALSE;
        bool barVisible = IsWindowVisible(bar) != FALSE;
        // A window being destroyed loses its controls first; what is read
        // then is not something the user was shown.
        if (!statusText || !detailText || !ok || !bar || !IsWindow(statusText) || !IsWindow(detailText) ||
            !IsWindow(ok) || !IsWindow(bar)) {
            EnumWindows(collectBox, 0);
            return;
        }
        if (status != watch.status || watch.statuses.empty()) {
            watch.status = status;
            watch.statuses.push_back(status);
            logLine("status " + quoted(status));
        }
        if (detail != watch.detail) {
            watch.detail = detail;
            logLine("detail " + quoted(detail));
        }
        if (okEnabled != watch.okEnabled) {
            watch.okEnabled = okEnabled;
            logLine(okEnabled ? "ok enabled" : "ok disabled");
        }
        // Which of the tool's windows has the keyboard focus, for the log:
        // a key reaches the dialog manager only through a focused control.
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        std::string focus = "none";
        if (GetGUIThreadInfo(GetWindowThreadProcessId(watch.tool, nullptr), &thread) && thread.hwndFocus)
            focus = thread.hwndFocus == watch.tool ? "dialog"
                                                   : "control " + std::to_string(GetDlgCtrlID(thread.hwndFocus));
        if (thread.hwndActive != watch.tool)
            focus += " (dialog inactive)";
        if (focus != watch.focus) {
            watch.focus = focus;
            logLine("focus " + focus);
        }
        if (barVisible != watch.barVisible) {
            watch.barVisible = barVisible;
            logLine(barVisible ? "bar visible" : "bar hidden");
            if (barVisible && watch.barShownAt < 0)
                watch.barShownAt = now();
        }
    }
    EnumWindows(collectBox, 0);
}

void pause(DWORD ms)
{
    DWORD until = GetTickCount() + ms;
    do {
        Sleep(PollMs);
        poll();
    } while (int(until - GetTickCount()) > 0);
}

// --- script reading ---------------------------------------------------------

struct Step {
    int line = 0;
    std::vector<std::string> words;   // unquoted words and decoded strings
};

bool parseLine(const std::string &text, std::vector<std::string> &words)
{
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < text.size()) {
                    char e = text[i++];
                    word += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                } else {
                    word += c;
                }
            }
            if (!closed)
                return false;
        } else {
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r')
                word += text[i++];
        }
        words.push_back(word);
    }
    return true;
}

std::vector<Step> readScript(const wchar_t *path)
{
    FILE *file = _wfopen(path, L"rb");
    if (!file) {
        std::fprintf(stderr, "e2e_driver: cannot open the script\n");
        std::exit(2);
    }
    std::vector<Step> steps;
    char buffer[4096];
    int number = 0;
    while (std::fgets(buffer, sizeof buffer, file)) {
        ++number;
        std::string text = buffer;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#')
            continue;
        Step step;
        step.line = number;
        if (!parseLine(text, step.words)) {
            std::fprintf(stderr, "e2e_driver: script line %d: unclosed string\n", number);
            std::exit(2);
        }
        steps.push_back(step);
    }
    std::fclose(file);
    return steps;
}

// --- actions ----------------------------------------------------------------

double timeoutArg(const Step &step, size_t index, double fallback = DefaultTimeout)
{
    return step.words.size() > index ? std::atof(step.words[index].c_str()) : fallback;
}

bool waitFor(double seconds, bool (*done)())
{
    double until = now() + seconds;
    for (;;) {
        poll();
        if (done())
            return true;
        if (now() > until)
            return false;
        Sleep(PollMs);
    }
}

void requireWindow(const std::string &what)
{
    if (!watch.toolSeen)
        failRun(what + ": the tool's window was never seen");
    if (watch.toolGone)
        failRun(what + ": the tool's window has gone");
}

void expectStatus(const std::wstring &expected, double seconds, bool optional = false)
{
    double until = now() + seconds;
    for (;;) {
        poll();
        // The template's text is replaced as soon as the run starts, often
        // before a screen could show it; a script need not expect it.
        if (watch.statusesTaken == 0 && watch.statuses.size() > 0 && expected != TemplateStatus &&
            watch.statuses[0] == TemplateStatus)
            watch.statusesTaken = 1;
        if (watch.statuses.size() > watch.statusesTaken) {
            const std::wstring &seen = watch.statuses[watch.statusesTaken];
            if (seen == expected)
                ++watch.statusesTaken;
            else if (!optional)
                failRun("expected status " + quoted(expected) + " but saw " + quoted(seen));
            return;
        }
        if (watch.toolGone) {
            if (optional)
                return;
            failRun("the window went away while waiting for status " + quoted(expected));
        }
        if (now() > until)
            failRun("timed out waiting for status " + quoted(expected) + "; it shows " +
                    quoted(watch.status));
        Sleep(PollMs);
    }
}

HWND lastBox = nullptr;

void expectBox(const Step &step)
{
    if (step.words.size() < 4)
        failRun("box needs a caption, a text and an owner");
    std::wstring caption = wide(step.words[1]), text = wide(step.words[2]);
    const std::string &owner = step.words[3];
    double until = now() + timeoutArg(step, 4);
    while (watch.boxes.size() <= watch.boxesTaken) {
        if (now() > until)
            failRun("timed out waiting for box " + quoted(caption) + " " + quoted(text));
        Sleep(PollMs);
        poll();
    }
    const SeenBox box = watch.boxes[watch.boxesTaken++];
    if (box.caption != caption || box.text != text)
        failRun("expected box " + quoted(caption) + " " + quoted(text) + " but saw " +
                quoted(box.caption) + " " + quoted(box.text));
    if ((owner == "dialog") != box.ownedByTool)
        failRun("box " + quoted(caption) + " should have owner " + owner);
    lastBox = box.window;
}

void answerBox(const std::string &answer)
{
    if (!lastBox || !IsWindow(lastBox))
        failRun("answer " + answer + ": no box is open");
    // From another process, a posted command is more dependable than a click
    // on a window that may not be active.
    WPARAM button = answer == "ok" ? IDOK : answer == "cancel" ? IDCANCEL : answer == "yes" ? IDYES
                                                                          : answer == "no"    ? IDNO
                                                                                              : 0;
    if (!button)
        failRun("unknown answer " + answer);
    logLine("answer " + answer);
    PostMessageW(lastBox, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    double closeBy = now() + 10;
    while (IsWindow(lastBox)) {
        if (now() > closeBy)
            failRun("the box did not close after the answer");
        Sleep(PollMs);
        poll();
    }
    lastBox = nullptr;
}

void realInput(const std::string &arguments);

HWND lastBoxList()
{
    const int PrinterListId = 1003;
    HWND list = lastBox && IsWindow(lastBox) ? GetDlgItem(lastBox, PrinterListId) : nullptr;
    if (!list)
        failRun("no box with a list is open");
    return list;
}

// Sent with a time-out: the tool's thread may be busy. Wine marshals these
// list box messages between processes.
LRESULT askList(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(list, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result))
        failRun("the list box did not answer");
    return LRESULT(result);
}

void expectList(const std::vector<std::string> &expected)
{
    HWND list = lastBoxList();
    std::vector<std::wstring> lines;
    LRESULT count = askList(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring line(size_t(askList(list, LB_GETTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
        askList(list, LB_GETTEXT, WPARAM(i), LPARAM(&line[0]));
        line.resize(wcslen(line.c_str()));
        lines.push_back(line);
        logLine("list " + quoted(line));
    }
    bool same = lines.size() == expected.size();
    for (size_t i = 0; same && i < lines.size(); ++i)
        same = lines[i] == wide(expected[i]);
    if (!same)
        failRun("the list does not hold the expected lines");
    if (askList(list, LB_GETCURSEL, 0, 0) != LB_ERR)
        failRun("a line of the list was selected before the user chose");
}

void clickAt(HWND window, const RECT &clientRect)
{
    POINT centre = {(clientRect.left + clientRect.right) / 2, (clientRect.top + clientRect.bottom) / 2};
    ClientToScreen(window, &centre);
    realInput("mousemove " + std::to_string(centre.x) + " " + std::to_string(centre.y) + " click 1");
}

void choose(int line, bool refused)
{
    HWND list = lastBoxList();
    HWND box = lastBox;
    RECT item = {};
    if (askList(list, LB_GETITEMRECT, WPARAM(line - 1), LPARAM(&item)) == LB_ERR)
        failRun("the list has no line " + std::to_string(line));
    logLine("choose " + std::to_string(line) + (refused ? " refused" : ""));
    clickAt(list, item);
    if (askList(list, LB_GETCURSEL, 0, 0) != line - 1)
        failRun("the click did not select line " + std::to_string(line));
    HWND ok = GetDlgItem(box, IDOK);
    RECT button;
    GetClientRect(ok, &button);
    if (refused) {
        if (IsWindowEnabled(ok))
            failRun("Ok is enabled for line " + std::to_string(line));
        POINT centre = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
        ClientToScreen(list, &centre);
        realInput("mousemove " + std::to_string(centre.x) + " " + std::to_string(centre.y) +
                  " click --repeat 2 --delay 80 1");
        clickAt(ok, button);
        pause(2000);
        if (!IsWindow(box))
            failRun("the box closed for line " + std::to_string(line));
        return;
    }
    clickAt(ok, button);
    double closeBy = now() + 10;
    while (IsWindow(box)) {
        if (now() > closeBy)
            failRun("the box did not close after Ok");
        pause(PollMs);
    }
    lastBox = nullptr;
}

// Starts a program; false when it cannot be started. Wine gives no process
// handle for a Unix program: `processHandle` is then null.
bool startProgram(const std::wstring &commandLine, HANDLE &processHandle)
{
    std::vector<WCHAR> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hThread)
        CloseHandle(process.hThread);
    processHandle = process.hProcess;
    return true;
}

// Runs a program and waits for it, watching the tool meanwhile; its exit
// code, or -1 when it could not be started or did not end in time.
long runProgram(const std::wstring &commandLine, double seconds)
{
    HANDLE process = nullptr;
    if (!startProgram(commandLine, process) || !process)
        return -1;
    double until = now() + seconds;
    DWORD exitCode = STILL_ACTIVE;
    while (WaitForSingleObject(process, PollMs) == WAIT_TIMEOUT && now() < until)
        poll();
    if (!GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE) {
        TerminateProcess(process, 1);
        exitCode = DWORD(-1);
    }
    CloseHandle(process);
    return long(int(exitCode));
}

// Input as a person makes it: xdotool sends X events through the XTEST
// extension into the display, and Wine routes them to the focused window or
// to the one under the pointer, so the dialog manager takes part. A key
// message posted to a window would skip that routing and hide focus faults.
// Wine starts a Unix program named by its Z: path but gives no handle to
// wait for it; a shell around it leaves xdotool's exit code in a file.
void realInput(const std::string &arguments)
{
    static int count = 0;
    std::string marker = "/tmp/e2e-input-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    std::wstring markerPath = L"Z:" + wide(marker);
    for (WCHAR &c : markerPath)
        if (c == L'/')
            c = L'\\';
    HANDLE process = nullptr;
    if (!startProgram(L"Z:\\bin\\sh -c \"xdotool " + wide(arguments) + L"; echo $? >" + wide(marker) + L".new && mv " +
                          wide(marker) + L".new " + wide(marker) + L"\"",
                      process))
        failRun("cannot run xdotool (error " + std::to_string(GetLastError()) + ")");
    if (process)
        CloseHandle(process);
    double until = now() + 10;
    for (;;) {
        FILE *file = _wfopen(markerPath.c_str(), L"rb");
        if (file) {
            int code = -1;
            if (std::fscanf(file, "%d", &code) != 1)
                code = -1;
            std::fclose(file);
            DeleteFileW(markerPath.c_str());
            if (code != 0)
                failRun("xdotool " + arguments + " failed with " + std::to_string(code));
            break;
        }
        if (now() > until)
            failRun("xdotool " + arguments + " did not finish");
        pause(PollMs);
    }
    // The events reach the tool through Wine a moment later.
    pause(200);
}

void press(const std::string &key)
{
    requireWindow("press " + key);
    if (key == "ok" || key == "ok-greyed") {
        HWND ok = GetDlgItem(watch.tool, IDOK);
        // A person clicks a greyed-out Ok too; the script says when it expects that.
        if ((key == "ok") != (IsWindowEnabled(ok) != FALSE))
            failRun(key == "ok" ? "Ok cannot be clicked: it is disabled" : "Ok is not greyed out");
        RECT place;
        GetWindowRect(ok, &place);
        logLine("press ok");
        realInput("mousemove " + std::to_string((place.left + place.right) / 2) + " " +
                  std::to_string((place.top + place.bottom) / 2) + " click 1");
    } else if (key == "escape" || key == "enter") {
        logLine("press " + key);
        // Keys go to the X window that has the input focus. Wine gives it to
        // the active window's own X window, but not always back after a box
        // closes, where a window manager would; so the tool's window gets it
        // first, as a window manager gives it to the window the user works in.
        // The key itself goes to whatever has the focus: named with the window,
        // xdotool sends the key's release to that window, and fails when the
        // press has already closed it, as Escape does on a busy machine.
        realInput("search --name '^" + utf8(ToolCaption) + "$' windowfocus --sync");
        realInput(key == "escape" ? "key Escape" : "key Return");
    } else {
        failRun("unknown key " + key);
    }
}

void expectResponsive()
{
    requireWindow("responsive");
    DWORD_PTR result = 0;
    double start = now();
    if (!SendMessageTimeoutW(watch.tool, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &result))
        failRun("the window did not answer a message within 2 s");
    char text[64];
    std::snprintf(text, sizeof text, "responsive (answered in %.2f s)", now() - start);
    logLine(text);
}

void checkQueue(const std::string &queue, const std::string &expected)
{
    std::wstring name = wide(queue);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(&name[0], &printer, nullptr))
        failRun("cannot open queue " + queue);
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    BOOL read = needed && GetPrinterW(printer, 2, buffer.data(), needed, &needed);
    ClosePrinter(printer);
    if (!read)
        failRun("cannot read queue " + queue);
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
    std::string state = (info->Attributes & PRINTER_ATTRIBUTE_SHARED) ? "shared" : "unshared";
    logLine("queue " + queue + " " + state);
    if (state != expected)
        failRun("queue " + queue + " is " + state + ", expected " + expected);
}

// A part of the screen as the rows of a 24-bit bottom-up BMP; false when it
// cannot be copied.
bool capture(const RECT &area, std::vector<BYTE> &rows)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (copied) {
        const BYTE *first = static_cast<const BYTE *>(bits);
        rows.assign(first, first + ((size_t(width) * 3 + 3) & ~size_t(3)) * size_t(height));
    }
    if (bitmap)
        DeleteObject(bitmap);
    return copied;
}

bool writeBmp(const std::wstring &path, int width, int height, const std::vector<BYTE> &rows)
{
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = DWORD(header.bfOffBits + rows.size());
    FILE *file = _wfopen(path.c_str(), L"wb");
    bool written = file && std::fwrite(&header, sizeof header, 1, file) == 1 &&
                   std::fwrite(&info, sizeof info, 1, file) == 1 &&
                   std::fwrite(rows.data(), rows.size(), 1, file) == 1;
    if (file)
        written = std::fclose(file) == 0 && written;
    return written;
}

// A copy of the whole screen; the bash side turns it into PNG.
void screenshot(const std::string &name)
{
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    std::vector<BYTE> rows;
    if (!capture(screen, rows))
        failRun("screenshot " + name + " could not be taken");
    WCHAR number[16];
    swprintf(number, ARRAYSIZE(number), L"%02d-", ++watch.shots);
    if (!writeBmp(watch.shotFolder + L"\\" + number + wide(name) + L".bmp", screen.right, screen.bottom, rows))
        failRun("screenshot " + name + " could not be written");
    logLine("shot " + name);
}

// Whether two captures of one area agree outside `moving` (in the area's
// coordinates, top-down; empty for none).
bool sameOutside(const std::vector<BYTE> &a, const std::vector<BYTE> &b, int width, int height, const RECT &moving)
{
    if (a.size() != b.size())
        return false;
    size_t rowBytes = a.size() / size_t(height);
    for (int y = 0; y < height; ++y) {
        size_t row = size_t(height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            if (y >= moving.top && y < moving.bottom && x >= moving.left && x < moving.right)
                continue;
            size_t at = row + size_t(x) * 3;
            if (a[at] != b[at] || a[at + 1] != b[at + 1] || a[at + 2] != b[at + 2])
                return false;
        }
    }
    return true;
}

// A picture for the user's guide: the tool's window or the box taken last,
// cropped to its frame, written once two looks 300 ms apart agree (a window
// repaints a moment after its text changes, a caption after a box takes the
// focus). The progress bar moves by itself: it is left out of that test, and
// its place goes to <name>.mask, so that the comparison with the guide's copy
// leaves it out as well.
void picture(const std::string &name, const std::string &what)
{
    if (what == "window")
        requireWindow("picture " + name);
    HWND target = what == "window" ? watch.tool : what == "box" ? lastBox : nullptr;
    if (!target || !IsWindow(target))
        failRun("picture " + name + ": no " + what + " is open");
    RECT frame, screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    GetWindowRect(target, &frame);
    IntersectRect(&frame, &frame, &screen);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT moving = {};
    HWND bar = GetDlgItem(target, ProgressBarId);
    if (bar && IsWindowVisible(bar)) {
        GetWindowRect(bar, &moving);
        OffsetRect(&moving, -frame.left, -frame.top);
    }
    std::vector<BYTE> before, after;
    double until = now() + 10;
    bool still = false;
    while (!still && now() < until) {
        pause(300);
        before.swap(after);
        if (!capture(frame, after))
            failRun("picture " + name + " could not be taken");
        still = sameOutside(before, after, width, height, moving);
    }
    if (!still)
        failRun("picture " + name + " did not hold still for 10 s");
    std::wstring folder = watch.shotFolder + L"\\pictures";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!writeBmp(folder + L"\\" + wide(name) + L".bmp", width, height, after))
        failRun("picture " + name + " could not be written");
    std::string log = "picture " + name + " " + std::to_string(width) + "x" + std::to_string(height);
    if (!IsRectEmpty(&moving)) {
        FILE *mask = _wfopen((folder + L"\\" + wide(name) + L".mask").c_str(), L"wb");
        std::string area = std::to_string(moving.left) + "," + std::to_string(moving.top) + " " +
                           std::to_string(moving.right - 1) + "," + std::to_string(moving.bottom - 1);
        if (!mask || std::fprintf(mask, "%s\n", area.c_str()) < 0 || std::fclose(mask) != 0)
            failRun("picture " + name + ": its mask could not be written");
        log += ", the progress bar (" + area + ") left out";
    }
    logLine(log);
}

void writeFile(const std::string &name, const std::string &content)
{
    FILE *file = _wfopen(wide(name).c_str(), L"wb");
    if (!file || std::fwrite(content.data(), 1, content.size(), file) != content.size())
        failRun("cannot write " + name);
    std::fclose(file);
    logLine("file " + name + " " + quoted(wide(content)));
}

void expectNothingUnseen()
{
    for (size_t i = watch.statusesTaken; i < watch.statuses.size(); ++i)
        if (!(i == 0 && watch.statuses[0] == TemplateStatus))
            failRun("status " + quoted(watch.statuses[i]) + " was shown but not expected");
    if (watch.boxes.size() > watch.boxesTaken)
        failRun("box " + quoted(watch.boxes[watch.boxesTaken].caption) + " " +
                quoted(watch.boxes[watch.boxesTaken].text) + " was shown but not expected");
}

void run(const Step &step)
{
    const std::vector<std::string> &w = step.words;
    const std::string &verb = w[0];
    auto need = [&](size_t count) {
        if (w.size() < count)
            failRun("script line " + std::to_string(step.line) + ": " + verb + " needs more words");
    };
    if (verb == "window") {
        if (!waitFor(timeoutArg(step, 1), [] { return watch.toolSeen; }))
            failRun("the tool's window did not appear");
    } else if (verb == "status") {
        need(2);
        expectStatus(wide(w[1]), timeoutArg(step, 2));
    } else if (verb == "detail") {
        need(2);
        requireWindow("detail");
        poll();
        if (watch.detail != wide(w[1]))
            failRun("detail text is " + quoted(watch.detail) + ", expected " + quoted(wide(w[1])));
    } else if (verb == "maybe-status") {
        need(2);
        expectStatus(wide(w[1]), timeoutArg(step, 2), true);
    } else if (verb == "box") {
        expectBox(step);
    } else if (verb == "answer") {
        need(2);
        answerBox(w[1]);
    } else if (verb == "list") {
        expectList(std::vector<std::string>(w.begin() + 1, w.end()));
    } else if (verb == "choose") {
        need(2);
        choose(std::atoi(w[1].c_str()), w.size() > 2 && w[2] == "refused");
    } else if (verb == "press") {
        need(2);
        press(w[1]);
    } else if (verb == "ok" || verb == "bar") {
        need(2);
        requireWindow(verb);
        bool &state = verb == "ok" ? watch.okEnabled : watch.barVisible;
        bool wanted = w[1] == "enabled" || w[1] == "visible";
        double until = now() + timeoutArg(step, 2, 0);
        for (poll(); state != wanted && !watch.toolGone && now() < until; poll())
            Sleep(PollMs);
        if (state != wanted)
            failRun((verb == "ok" ? "Ok is not " : "the progress bar is not ") + w[1]);
    } else if (verb == "post") {
        need(2);
        requireWindow("post");
        logLine("post " + w[1]);
        PostMessageW(watch.tool, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else if (verb == "no-process") {
        need(2);
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            found = found || _wcsicmp(entry.szExeFile, wide(w[1]).c_str()) == 0;
        CloseHandle(snapshot);
        logLine("no-process " + w[1] + (found ? ": one runs" : ": none"));
        if (found)
            failRun(w[1] + " is still running");
    } else if (verb == "responsive") {
        expectResponsive();
    } else if (verb == "program") {
        need(3);
        logLine("program " + quoted(wide(w[1])));
        long code = runProgram(wide(w[1]), timeoutArg(step, 3));
        logLine("program ended with " + std::to_string(code));
        if (code != std::atol(w[2].c_str()))
            failRun("the program ended with " + std::to_string(code) + ", expected " + w[2]);
    } else if (verb == "queue") {
        need(3);
        checkQueue(w[1], w[2]);
    } else if (verb == "reboot-wait") {
        need(3);
        if (watch.barShownAt < 0)
            failRun("the progress bar was never shown");
        double waited = now() - watch.barShownAt;
        char text[96];
        std::snprintf(text, sizeof text, "reboot wait lasted %.1f s", waited);
        logLine(text);
        if (waited < std::atof(w[1].c_str()) || waited > std::atof(w[2].c_str()))
            failRun(std::string(text) + ", expected " + w[1] + " to " + w[2] + " s");
    } else if (verb == "shot") {
        need(2);
        screenshot(w[1]);
    } else if (verb == "picture") {
        need(3);
        picture(w[1], w[2]);
    } else if (verb == "file") {
        need(3);
        writeFile(w[1], w[2]);
    } else if (verb == "wait") {
        need(2);
        pause(DWORD(std::atof(w[1].c_str()) * 1000));
    } else if (verb == "gone") {
        if (!waitFor(timeoutArg(step, 1), [] { return watch.toolGone; }))
            failRun("the tool's window did not go away");
        pause(300);
        expectNothingUnseen();
    } else {
        failRun("script line " + std::to_string(step.line) + ": unknown step " + verb);
    }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: e2e_driver <script> <log> <screenshot folder>\n");
        return 2;
    }
    std::vector<Step> steps = readScript(argv[1]);
    watch.log = _wfopen(argv[2], L"wb");
    if (!watch.log) {
        std::fprintf(stderr, "e2e_driver: cannot write the log\n");
        return 2;
    }
    watch.shotFolder = argv[3];
    QueryPerformanceFrequency(&watch.frequency);
    QueryPerformanceCounter(&watch.start);
    for (const Step &step : steps)
        run(step);
    expectNothingUnseen();
    logLine("PASS");
    std::fclose(watch.log);
    return 0;
}
