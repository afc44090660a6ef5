#include "app/messages.h"

#include "base/boxes.h"
#include "base/text.h"

#include <strsafe.h>

const WCHAR errorCaption[] = L"Firmware Upgrade Error";

namespace {

const WCHAR cancelledEnding[] = L"Firmware upgrade cancelled.";

}  // namespace

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

bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const PartialJobReport &report)
{
    const WCHAR *queue = upgradeState.selectedQueue.printerName;
    WCHAR number[64];
    switch (report.what) {
    case NoPartialJob:
        return true;
    case PartialJobGone:
        return appendText(text, L" No part of the file is left in the print queue.");
    case PartialJobRemoved:
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" Its unfinished document (job %lu) was deleted",
                                          static_cast<unsigned long>(report.job))) &&
               appendText(text, number) && appendText(text, L" from the print queue ") && appendText(text, queue) &&
               appendText(text, L"; no other document was touched.");
    case PartialJobUnclear:
        // None of them is asked to be deleted: the one to delete cannot be
        // named, and the others may be anybody's.
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" received %lu document(s) during the copy",
                                          static_cast<unsigned long>(report.added))) &&
               appendText(text, L"\nThe print queue ") && appendText(text, queue) && appendText(text, number) &&
               appendText(text, L", and none of them could be told to be the firmware's, so none was deleted.");
    case PartialJobLeft:
        break;
    }
    return appendText(text, L"\nThe print queue ") && appendText(text, queue) &&
           appendText(text, L" may still hold the rest of it: delete that document in the queue's window before you "
                            L"switch the printer off and on.");
}
