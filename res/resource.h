// Resource IDs shared by res/update.rc and the program. Plain #defines so that
// both the resource compiler and C++ can read them.
#pragma once

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_WELCOME 102
#define IDD_PHASE_TWO 130
#define IDD_FAILURE 131
#define IDD_SUCCESS 132
#define IDD_DISKETTE 133
#define IDD_DISKETTE_WAIT 135
#define IDD_DISKETTE_RETRY 136

// The program icon (an icon group with a 32x32 and a 16x16 image).
#define IDI_UPDATE 128

// System-menu command of the About item; its low four bits must stay 0
// because the system masks them off before the command reaches us.
#define IDM_ABOUT 0x0010

// The message catalogue. A result code is the ID of the string that
// describes it, so these numbers are also the program's result codes.
#define IDS_ABOUT_MENU 101
#define IDS_DLL_MISSING 102
#define IDS_DISK_READ_FAILED 103
#define IDS_NO_SERVICE_PARTITION 104
#define IDS_DRIVE_NOT_DETECTED 105
#define IDS_PARTITION_UPDATE_FAILED 106
#define IDS_PARTITION_TABLE_CORRUPT 107
#define IDS_INSTALL_OK 108
#define IDS_VERSION_NOT_DETECTED 109
#define IDS_PARAMETER_MISSING 110
#define IDS_SERVICE_CONTENTS_UNEXPECTED 111
#define IDS_REGISTRY_ACCESS_FAILED 112
#define IDS_REGISTRY_KEYS_NOT_DELETED 113
#define IDS_FILES_NOT_DELETED 114
#define IDS_FOLDERS_NOT_REMOVED 115
#define IDS_FILES_NOT_REPLACED 116
#define IDS_INSTALL_UNSUCCESSFUL 117
#define IDS_INSTALL_NOT_POSSIBLE 118
#define IDS_INSTALL_INCOMPLETE 119
#define IDS_RUNONCE_FAILED 120
#define IDS_START_MENU_NOT_CLEANED 121
#define IDS_INSTALLER_NOT_FOUND 122
#define IDS_OLD_VERSION_ABSENT 123
#define IDS_MAKER_KEY_NOT_DELETED 124
#define IDS_FAILED_BECAUSE 125
#define IDS_NEWER_VERSION_INSTALLED 126
#define IDS_USER_CANCELLED 127
#define IDS_DOS_FILES_MISSING 128
#define IDS_FORMAT_FAILED 129
#define IDS_THREAD_FAILED 130
#define IDS_FLOPPY_IN_USE 131
#define IDS_FLOPPY_WRITE_PROTECTED 132
#define IDS_NO_DISKETTE 133
#define IDS_DISKETTE_UNUSABLE 134
#define IDS_RESTART_FROM_FLOPPY 135

// Controls. The step labels of the progress dialog are 1000 + step number.
#define IDC_STEP_1 1001
#define IDC_STEP_2 1002
#define IDC_STEP_3 1003
#define IDC_STEP_4 1004
#define IDC_STEP_5 1005
#define IDC_STEP_DONE 1006
#define IDC_FAILURE_TEXT 1009
#define IDC_COMPLETION_NOTE 1010
#define IDC_RETRY_TEXT 1012
#define IDC_RESTART_NOTE 1013

// The resource compiler sees no SDK header, so it gets the few style bits the
// templates use from here. The spelling matches the SDK's, and each is
// guarded, so a C++ file that includes this next to the SDK stays quiet.
#ifdef RC_INVOKED
#ifndef WS_POPUP
#define WS_POPUP 0x80000000L
#endif
#ifndef WS_CHILD
#define WS_CHILD 0x40000000L
#endif
#ifndef WS_VISIBLE
#define WS_VISIBLE 0x10000000L
#endif
#ifndef WS_CAPTION
#define WS_CAPTION 0x00C00000L
#endif
#ifndef WS_SYSMENU
#define WS_SYSMENU 0x00080000L
#endif
#ifndef WS_GROUP
#define WS_GROUP 0x00020000L
#endif
#ifndef WS_TABSTOP
#define WS_TABSTOP 0x00010000L
#endif
#ifndef WS_EX_APPWINDOW
#define WS_EX_APPWINDOW 0x00040000L
#endif
#ifndef DS_MODALFRAME
#define DS_MODALFRAME 0x80L
#endif
#ifndef DS_SETFONT
#define DS_SETFONT 0x40L
#endif
#ifndef SS_LEFT
#define SS_LEFT 0x00000000L
#endif
#ifndef SS_ICON
#define SS_ICON 0x00000003L
#endif
#ifndef SS_NOPREFIX
#define SS_NOPREFIX 0x00000080L
#endif
#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#endif  // RC_INVOKED
