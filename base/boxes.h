// The tool's message boxes: every box it shows goes through these two.
//
// Each first throws away the keys and clicks still queued from before it
// (Enter typed ahead while the device library searched, say): the box's own
// message loop would take them as the answer to a question nobody has read.
// While the main dialog exists the box is owned by it, which keeps the
// dialog disabled and the box in front of it; before the dialog exists and
// once it has gone the box has no owner, is task-modal and comes to the
// front. What the dialog's messages mean while a box is open is the run
// phase's to say, so a caller that needs the run to wait sets the phase
// first.
#pragma once

#include <windows.h>

// Tells the user something that needs only Ok; `icon` is MB_ICONERROR,
// MB_ICONWARNING or MB_ICONINFORMATION.
void tellUser(const WCHAR *text, const WCHAR *caption, UINT icon);

// Asks the user a question; `type` gives the buttons, the icon and the
// default button. Returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO),
// or 0 when the box could not be shown.
int askUser(const WCHAR *text, const WCHAR *caption, UINT type);
