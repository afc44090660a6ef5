// Nothing is chosen for the user: the list starts without a selection and
// Ok does nothing until a line is selected, because the wrong choice sends
// one model's firmware to the other's queue.
#include "app/chooser.h"

#include "app/phase.h"
#include "app/resources/resource.h"
#include "app/state.h"
#include "app/text.h"
#include "app/wait.h"
#include "identify/queues.h"

#include <vector>

namespace {

struct ChoiceLine {
    WCHAR text[3 * nameCapacity + 32];
};

// "<model> on USB port <port>, print queue <queue>", or that it has none: a
// printer without a queue cannot be upgraded, and the user should see why
// before choosing it. The lookup is the one the run makes afterwards, on
// that printer's port.
bool describePrinter(const FoundPrinter &printer, ChoiceLine &line)
{
    if (!copyText(upgradeState.portName, printer.portName))
        return false;
    std::vector<PrintQueueRecord> queues = findPrintQueues();
    bool composed = copyText(line.text, printer.model) && appendText(line.text, L" on USB port ") &&
                    appendText(line.text, printer.portName);
    if (queues.empty())
        return composed && appendText(line.text, L", no print queue installed");
    return composed && appendText(line.text, L", print queue ") &&
           appendText(line.text, upgradeState.selectedQueue.printerName);
}

// The chosen line's number + 1 through EndDialog; 0 for Cancel.
void chooseSelectedLine(HWND window)
{
    LRESULT selected = SendDlgItemMessageW(window, IDC_PRINTER_LIST, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR)
        EndDialog(window, selected + 1);
}

INT_PTR CALLBACK chooserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const auto *lines = reinterpret_cast<const std::vector<ChoiceLine> *>(lParam);
        for (const ChoiceLine &line : *lines)
            SendDlgItemMessageW(window, IDC_PRINTER_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.text));
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
            if (HIWORD(wParam) == LBN_DBLCLK)
                chooseSelectedLine(window);
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
    if (answer <= 0 || static_cast<size_t>(answer) > printers.size() || !IsWindow(dialog))
        return false;
    const FoundPrinter &chosen = printers[answer - 1];
    if (!copyText(upgradeState.portName, chosen.portName))
        return false;
    upgradeState.firmwareKind = chosen.firmwareKind;
    enterPhase(PhaseSearching);
    return true;
}
