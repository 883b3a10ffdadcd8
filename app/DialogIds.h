// Resource ids of the dialogs and the icon, and the private messages of the
// progress dialog. Included by C++ and by the resource script.
#pragma once

#define IDD_PROGRESS 101
#define IDD_COMPLETION 102
#define IDI_UPDATER 104

#define IDC_SOURCE 1000 /* progress: source text */
#define IDC_REPORT 1000 /* completion: report text */
#define IDC_DESTINATION 1001
#define IDC_FILES 1003
#define IDC_UNITS 1004
#define IDC_COUNTER_FRAME 1005
#define IDC_BYTES 1006
#define IDC_MESSAGE 1007

#define UM_PROGRESS (WM_USER + 51)       /* 0x433 */
#define UM_FILE_UPDATED (WM_USER + 153)  /* 0x499 */
#define UM_BYTES_UPDATED (WM_USER + 154) /* 0x49A */
