#include "app/messages.h"

#include "base/boxes.h"
#include "base/text.h"

#include <strsafe.h>

const WCHAR errorCaption[] = L"Firmware Upgrade Error";
const WCHAR printerErrorCaption[] = L"Error";
const WCHAR confirmationCaption[] = L"Confirmation";
const WCHAR warningCaption[] = L"Warning";
const WCHAR informationCaption[] = L"Information";

const WCHAR stoppedText[] = L"The firmware upgrade has been stopped.";

namespace {

const WCHAR cancelledEnding[] = L"Firmware upgrade cancelled.";

}  // namespace

bool composeNamingQueue(WCHAR (&text)[confirmationCapacity], const WCHAR *start, const WCHAR *end)
{
    return copyText(text, start) && appendText(text, upgradeState.selectedQueue.printerName) &&
           appendText(text, end);
}

void tellCancelled(const WCHAR *text)
{
    WCHAR whole[2 * confirmationCapacity];
    if (text == nullptr || !copyText(whole, text) || !appendText(whole, L"\n") ||
        !appendText(whole, cancelledEnding))
        copyText(whole, cancelledEnding);
    tellUser(whole, errorCaption, MB_ICONERROR);
}

void tellCancelledNaming(const WCHAR *start, const WCHAR *name, const WCHAR *end)
{
    WCHAR text[2 * nameCapacity + confirmationCapacity];
    const bool composed = copyText(text, start) && appendText(text, name) && appendText(text, end);
    tellCancelled(composed ? text : nullptr);
}

bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const JobRemoval &report)
{
    const WCHAR *queue = upgradeState.selectedQueue.printerName;
    WCHAR number[64];
    switch (report.result) {
    case JobRemoval::NotNeeded:
        return true;
    case JobRemoval::NoneAdded:
    case JobRemoval::Gone:
        return appendText(text, L" No part of the file is left in the print queue.");
    case JobRemoval::Removed:
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" Its unfinished document (job %lu) was deleted",
                                          static_cast<unsigned long>(report.job))) &&
               appendText(text, number) && appendText(text, L" from the print queue ") && appendText(text, queue) &&
               appendText(text, L"; no other document was touched.");
    case JobRemoval::NoneOwn:
    case JobRemoval::Several:
        // None of them is asked to be deleted: the one to delete cannot be
        // named, and the others may be anybody's.
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" received %lu document(s) during the copy",
                                          static_cast<unsigned long>(report.added))) &&
               appendText(text, L"\nThe print queue ") && appendText(text, queue) && appendText(text, number) &&
               appendText(text, L", and none of them could be told to be the firmware's, so none was deleted. Look "
                                L"at them in the queue's window before you switch the printer off and on: delete "
                                L"the one you sent during the copy, which holds part of a firmware file.");
    case JobRemoval::Unlisted:
    case JobRemoval::NotDeleted:
        break;
    }
    return appendText(text, L"\nThe print queue ") && appendText(text, queue) &&
           appendText(text, L" may still hold the rest of it: delete that document in the queue's window before you "
                            L"switch the printer off and on.");
}

bool partialJobUntold(const JobRemoval &removal)
{
    switch (removal.result) {
    case JobRemoval::NoneOwn:
    case JobRemoval::Several:
    case JobRemoval::Unlisted:
    case JobRemoval::NotDeleted:
        return true;
    default:
        return false;
    }
}

bool appendWithdrawal(WCHAR (&text)[confirmationCapacity], const Withdrawal &withdrawal)
{
    WCHAR number[64] = L"";
    bool composed = (text[0] == L'\0' || appendText(text, L"\n")) &&
                    appendText(text, L"The printer received nothing of this stage: it was held in the print queue ") &&
                    appendText(text, upgradeState.selectedQueue.printerName);
    if (withdrawal.notDeleted == 0)
        composed = composed && appendText(text, L", and the tool deleted its firmware documents there.");
    else
        composed = composed &&
                   SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number),
                                              L", and the tool could not delete %lu of its firmware documents there.",
                                              static_cast<unsigned long>(withdrawal.notDeleted))) &&
                   appendText(text, number);
    // Nothing of the queue prints while the box is open: the user can take
    // out what the tool could not.
    if (withdrawal.stillHeld)
        composed = composed &&
                   appendText(text, L"\nThe queue stays paused until you press Ok. Before that, open its window and "
                                    L"delete every document you sent during the upgrade that is still there: it may "
                                    L"hold part of a firmware file.");
    return composed &&
           appendText(text, L"\nRun the upgrade again; there is no need to switch the printer off and on.");
}
