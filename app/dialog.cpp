#include "app/dialog.h"
INT_PTR CALLBACK mainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
