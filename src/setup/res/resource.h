// Resource identifiers. The numbers are part of the program's interface:
// result IDs are stored in the run record and string 57345 doubles as the
// system-menu command ID.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_INSTALL 102
#define IDD_UNINSTALL 129
#define IDI_SETUP 128

#define IDC_PROMPT 1001
#define IDC_DESCRIPTION 1002
#define IDC_PROGRESS 1003

#define IDS_ABOUTBOX 101
#define IDS_BUS_INF 105
#define IDS_FUNCTION_INF 106
#define IDS_FUNCTION_SERVICE 107
#define IDS_BUS_SERVICE 108
#define IDS_UNINSTALL_KEY 109
#define IDS_PORT_OPEN_CAPTION 110
#define IDS_PORT_OPEN 111
#define IDS_ANOTHER_INSTANCE 112
#define IDS_NOT_ADMIN 113
#define IDS_INSTALL_PENDING 114
#define IDS_UNSUPPORTED_OS 115
#define IDS_SUCCESS 116
#define IDS_ERROR 117
#define IDS_DISPLAY_VERSION 118
#define IDS_PUBLISHER 119
#define IDS_WRONG_PORT_NUMBER 120
#define IDS_RESTART_NOTE 121
#define IDS_FILES_MISSING 207
#define IDS_MUTEX_NAME 3000
#define IDS_ABOUT_MENU 57345

#define IDM_ABOUT 0xE001
