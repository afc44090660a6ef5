// The status text says what the tool is doing; the details say what it is
// about to send where, so that a user can notice the wrong printer or the
// wrong files before agreeing. Plain lines, one fact each.
#include "app/details.h"

#include "app/chooser.h"
#include "base/state.h"
#include "base/text.h"
#include "delivery/firmware_files.h"

#include <strsafe.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

// One line of the details: a name of up to 255 characters and the words
// around it.
struct DetailLine {
    WCHAR text[2 * nameCapacity + 128];
};

// The digits of a size grouped as the user's locale groups them
// ("3,145,805" or "3.145.805"), as Explorer shows sizes; the plain digits
// when the locale cannot be read.
template <size_t N>
void groupedDigits(ULONGLONG value, WCHAR (&text)[N])
{
    WCHAR digits[32];
    StringCchPrintfW(digits, ARRAYSIZE(digits), L"%llu", value);
    WCHAR decimal[8] = L"", thousand[8] = L"", grouping[16] = L"";
    NUMBERFMTW format = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, ARRAYSIZE(decimal)) &&
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, ARRAYSIZE(thousand)) &&
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, grouping, ARRAYSIZE(grouping))) {
        // "3;0" groups by three throughout, "3;2;0" by three then by two,
        // "3" once only; NUMBERFMTW writes these as 3, 32 and 30.
        UINT groups = 0;
        for (const WCHAR *c = grouping; *c; ++c) {
            if (*c >= L'0' && *c <= L'9')
                groups = groups * 10 + static_cast<UINT>(*c - L'0');
        }
        const size_t length = std::wcslen(grouping);
        format.Grouping = length >= 2 && grouping[length - 2] == L';' && grouping[length - 1] == L'0' ? groups / 10
                                                                                                     : groups * 10;
        format.lpDecimalSep = decimal;
        format.lpThousandSep = thousand;
        format.NegativeOrder = 1;
        if (GetNumberFormatW(LOCALE_USER_DEFAULT, 0, digits, &format, text, static_cast<int>(N)))
            return;
    }
    StringCchCopyW(text, N, digits);
}

// "<lead><file> (<size> bytes)", the size of the file as it is held, which
// is what is sent; a file that was not held has no size here, and the box
// that follows says what is wrong with it.
bool fileLine(DetailLine &detail, const WCHAR *lead, const WCHAR *file)
{
    ULONGLONG bytes = 0;
    WCHAR size[64] = L"";
    if (heldFirmwareSize(file, bytes)) {
        WCHAR digits[48];
        groupedDigits(bytes, digits);
        StringCchPrintfW(size, ARRAYSIZE(size), L" (%ls bytes)", digits);
    }
    return copyText(detail.text, lead) && appendText(detail.text, file) && appendText(detail.text, size);
}

// The words around the queue's share: shared before the run; to be shared,
// before the user agrees; shared by the tool while the upgrade runs; and
// once it is over, put back or not.
struct SharingWords {
    const WCHAR *lead;
    const WCHAR *end;
};

SharingWords sharingWords()
{
    if (upgradeState.selectedQueue.isShared)
        return {L", shared as \\\\", L""};
    if (upgradeState.sharedByTool)
        return {L", shared as \\\\", L" for the upgrade, to be unshared afterwards"};
    if (upgradeState.phase != PhaseFinished)
        return {L", to be shared as \\\\", L" for the upgrade, unshared afterwards"};
    if (upgradeState.sharingNotPutBack)
        return {L", still shared as \\\\", L": the tool could not stop sharing it"};
    return {L", shared as \\\\", L" for the upgrade, unshared again"};
}

// Whether the printer gets a stage only once all of it is in the queue.
const WCHAR *holdLine()
{
    switch (upgradeState.stageHold) {
    case HoldPlanned:
        break;
    case HoldNotAllowed:
        return L"Not held in the queue (no right to manage it): each file prints as it arrives";
    case HoldJobsUnlisted:
        return L"Not held in the queue (its jobs cannot be listed): each file prints as it arrives";
    case HoldRefused:
        return L"Not held in the queue (pausing it was refused): each file prints as it arrives";
    }
    return L"Held in the queue until all files of a stage are in it whole";
}

// The printer and its port, the queue and its share, whether the stages are
// held, then the files in sending order. False when a line cannot be composed.
bool detailLines(std::vector<DetailLine> &lines)
{
    const FoundPrinter *printer = runPrinter();
    std::vector<const WCHAR *> first = firstStageFiles(upgradeState.firmwareKind);
    std::vector<const WCHAR *> second = secondStageFiles(upgradeState.firmwareKind);
    lines.resize(3 + first.size() + second.size());
    // The first stage has gone out once all of its files have (a 650's
    // reboot wait), or once the upgrade is over.
    const std::vector<const WCHAR *> &sent = upgradeState.filesSent;
    const bool firstStageSent = upgradeState.phase == PhaseFinished ||
                                std::all_of(first.begin(), first.end(), [&](const WCHAR *file) {
                                    return std::find(sent.begin(), sent.end(), file) != sent.end();
                                });
    const SharingWords sharing = sharingWords();
    bool composed = copyText(lines[0].text, L"Printer: ") && (!printer || appendModel(lines[0].text, *printer)) &&
                    appendText(lines[0].text, L" on USB port ") && appendText(lines[0].text, upgradeState.portName) &&
                    copyText(lines[1].text, L"Print queue: ") &&
                    appendText(lines[1].text, upgradeState.selectedQueue.printerName) &&
                    appendText(lines[1].text, sharing.lead) && appendText(lines[1].text, upgradeState.computerName) &&
                    appendText(lines[1].text, L"\\") && appendText(lines[1].text, upgradeState.targetShareName) &&
                    appendText(lines[1].text, sharing.end) && copyText(lines[2].text, holdLine());
    size_t next = 3;
    const WCHAR *lead = firstStageSent ? L"Sent " : L"Sends ";
    for (const WCHAR *file : first) {
        composed = composed && fileLine(lines[next++], lead, file);
        lead = L"then ";
    }
    lead = L"after the printer's reboot, ";
    for (const WCHAR *file : second) {
        composed = composed && fileLine(lines[next++], lead, file);
        lead = L"then ";
    }
    return composed;
}

// The control does not wrap its lines (a wrapped line would push the last
// ones out of sight); a line wider than the control is cut to fit, with
// "..." at its end. The line keeps room for the three dots.
void fitLine(HDC dc, int width, DetailLine &detail)
{
    WCHAR (&line)[ARRAYSIZE(detail.text)] = detail.text;
    const int length = static_cast<int>(std::wcslen(line));
    SIZE size = {};
    if (!GetTextExtentPoint32W(dc, line, length, &size) || size.cx <= width)
        return;
    SIZE dots = {};
    int fit = 0;
    if (!GetTextExtentPoint32W(dc, L"...", 3, &dots) ||
        !GetTextExtentExPointW(dc, line, length, width - dots.cx, &fit, nullptr, &size) || fit < 0)
        fit = 0;
    const size_t kept = static_cast<size_t>(fit) < ARRAYSIZE(line) - 4 ? static_cast<size_t>(fit) : ARRAYSIZE(line) - 4;
    StringCchCopyW(line + kept, ARRAYSIZE(line) - kept, L"...");
}

}  // namespace

void refreshUpgradeDetails()
{
    if (upgradeState.detailText && GetWindowTextLengthW(upgradeState.detailText) > 0)
        showUpgradeDetails();
}

void showUpgradeDetails()
{
    HWND control = upgradeState.detailText;
    std::vector<DetailLine> lines;
    if (!control || !detailLines(lines))
        return;
    RECT area = {};
    GetClientRect(control, &area);
    HDC dc = GetDC(control);
    if (dc) {
        HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
        HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
        for (DetailLine &line : lines)
            fitLine(dc, area.right - area.left, line);
        if (previous)
            SelectObject(dc, previous);
        ReleaseDC(control, dc);
    }
    WCHAR text[confirmationCapacity] = L"";
    for (size_t i = 0; i < lines.size(); ++i) {
        if ((i > 0 && !appendText(text, L"\n")) || !appendText(text, lines[i].text))
            return;
    }
    SetWindowTextW(control, text);
}
