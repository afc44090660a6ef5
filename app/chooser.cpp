// Nothing is chosen for the user: the list starts without a selection and
// Ok is enabled only while a line that can be upgraded is selected, because
// the wrong choice sends one model's firmware to the other's queue. A printer
// that cannot be upgraded stays in the list with the reason, so that the
// user sees it was found, but choosing it does nothing.
#include "app/chooser.h"

#include "app/phase.h"
#include "app/resources/resource.h"
#include "base/state.h"
#include "base/text.h"
#include "base/wait.h"
#include "identify/queues.h"

#include <cwchar>
#include <vector>

namespace {

struct ChoiceLine {
    WCHAR text[3 * nameCapacity + 64];
    bool choosable;
};

// "<model> on USB port <port>, print queue <queue>", or why that printer
// cannot be upgraded: no queue of its own (none, or only pools, which may
// hand the firmware to another port's printer), or records of two models
// on its port. The lookup is the one the run makes afterwards, on that
// printer's port, and changes nothing of the run.
bool describePrinter(const FoundPrinter &printer, ChoiceLine &line)
{
    line.choosable = false;
    if (printer.firmwareKind == FirmwareNone)
        return copyText(line.text, L"Printer on USB port ") && appendText(line.text, printer.portName) &&
               appendText(line.text, L" reports two models, cannot be upgraded");
    PortQueues lookup;
    lookUpPrintQueues(printer.portName, lookup);
    line.text[0] = L'\0';
    bool composed = appendModel(line.text, printer) && appendText(line.text, L" on USB port ") &&
                    appendText(line.text, printer.portName);
    if (!lookup.queues.empty()) {
        line.choosable = true;
        return composed && appendText(line.text, L", print queue ") &&
               appendText(line.text, lookup.queues.back().printerName);
    }
    if (!lookup.pools.empty())
        return composed && appendText(line.text, L", only the pooled print queue ") &&
               appendText(line.text, lookup.pools.back().printerName) &&
               appendText(line.text, L", which cannot take firmware");
    return composed && appendText(line.text, L", no print queue installed");
}

// The printer of the selected line, through its item data; null when no
// line is selected or its printer cannot be upgraded.
const ChoiceLine *selectedLine(HWND window, LRESULT &printer)
{
    const auto *lines = reinterpret_cast<const std::vector<ChoiceLine> *>(GetWindowLongPtrW(window, DWLP_USER));
    LRESULT selected = SendDlgItemMessageW(window, IDC_PRINTER_LIST, LB_GETCURSEL, 0, 0);
    if (lines == nullptr || selected == LB_ERR)
        return nullptr;
    printer = SendDlgItemMessageW(window, IDC_PRINTER_LIST, LB_GETITEMDATA, selected, 0);
    if (printer == LB_ERR || printer < 0 || static_cast<size_t>(printer) >= lines->size())
        return nullptr;
    const ChoiceLine &line = (*lines)[printer];
    return line.choosable ? &line : nullptr;
}

// The chosen printer's number + 1 through EndDialog; 0 for Cancel.
void chooseSelectedLine(HWND window)
{
    LRESULT printer = 0;
    if (selectedLine(window, printer))
        EndDialog(window, printer + 1);
}

// A model name can push the port and the queue, which tell two printers
// apart, past the list's right edge: the list scrolls sideways as far as its
// longest line, measured in its own font.
void fitListWidth(HWND list, const std::vector<ChoiceLine> &lines)
{
    HDC dc = GetDC(list);
    if (!dc)
        return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    LONG widest = 0;
    for (const ChoiceLine &line : lines) {
        SIZE size = {};
        if (GetTextExtentPoint32W(dc, line.text, static_cast<int>(std::wcslen(line.text)), &size) && size.cx > widest)
            widest = size.cx;
    }
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(list, dc);
    // The list draws each line a few pixels in from its left edge.
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 2 * GetSystemMetrics(SM_CXEDGE)), 0);
}

INT_PTR CALLBACK chooserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const auto *lines = reinterpret_cast<const std::vector<ChoiceLine> *>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        HWND list = GetDlgItem(window, IDC_PRINTER_LIST);
        for (size_t i = 0; i < lines->size(); ++i) {
            LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>((*lines)[i].text));
            if (index >= 0)
                SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
        }
        fitListWidth(list, *lines);
        EnableWindow(GetDlgItem(window, IDOK), FALSE);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            chooseSelectedLine(window);
            return TRUE;
        case IDCANCEL:
            EndDialog(window, 0);
            return TRUE;
        case IDC_PRINTER_LIST:
            if (HIWORD(wParam) == LBN_DBLCLK) {
                chooseSelectedLine(window);
            } else if (HIWORD(wParam) == LBN_SELCHANGE || HIWORD(wParam) == LBN_SELCANCEL) {
                LRESULT printer = 0;
                EnableWindow(GetDlgItem(window, IDOK), selectedLine(window, printer) != nullptr);
            }
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

bool choosePrinter(HWND dialog)
{
    const std::vector<FoundPrinter> printers = upgradeState.foundPrinters;
    if (printers.size() < 2)
        return true;
    std::vector<ChoiceLine> lines(printers.size());
    for (size_t i = 0; i < printers.size(); ++i) {
        if (!describePrinter(printers[i], lines[i]))
            return false;
    }

    // One of the run's boxes: nothing the main dialog receives meanwhile
    // means anything, and only input made while the list is shown chooses.
    enterPhase(PhaseAsking);
    discardPendingInput();
    INT_PTR answer = DialogBoxParamW(upgradeState.appInstance, MAKEINTRESOURCEW(IDD_CHOOSE_PRINTER), dialog,
                                     chooserProc, reinterpret_cast<LPARAM>(&lines));
    if (answer <= 0 || static_cast<size_t>(answer) > printers.size() || !lines[answer - 1].choosable ||
        !IsWindow(dialog))
        return false;
    const FoundPrinter &chosen = printers[answer - 1];
    if (!copyText(upgradeState.portName, chosen.portName))
        return false;
    upgradeState.firmwareKind = chosen.firmwareKind;
    enterPhase(PhaseSearching);
    return true;
}

const FoundPrinter *runPrinter()
{
    for (const FoundPrinter &printer : upgradeState.foundPrinters) {
        if (samePortName(printer.portName, upgradeState.portName))
            return &printer;
    }
    return nullptr;
}
