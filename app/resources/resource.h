// Ids shared by the resource script and the code.
#pragma once

#define IDD_MAIN            129
#define IDI_APP             107
#define IDI_APP_ALT         108
#define IDI_SMALL           110
// The one icon image that the three groups share.
#define IDR_ICON_IMAGE      1

#define IDC_STATUS_TEXT     131
#define IDC_DETAIL_TEXT     132
#define IDC_PROGRESS        1002

// The question which printer to upgrade, when several are connected.
#define IDD_CHOOSE_PRINTER  130
#define IDC_PRINTER_LIST    1003

// The tool's name: the main window's caption, by which a second start finds
// the first, and the program's description.
#define TOOL_NAME           "Tarnell Vellumax 350-650 Firmware Upgrade Tool"

// The dialog's only timer: the reboot wait between the two stages.
#define IDT_REBOOT_WAIT     1
