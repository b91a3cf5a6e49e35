// Resource numbers of QelScript: dialogs, pictures and control ids. The
// string ids are the numbers of strings_en.inc.
#pragma once

// Dialogs (wizard pages, in page order).
#define IDD_PAGE1 107
#define IDD_PAGE2 108
#define IDD_PAGE3 109
#define IDD_PAGE_FINISH 110

// Pictures.
#define IDB_SIDE 134
#define IDI_QEL 135
#define IDR_SEARCH_AVI 150
#define IDB_TREE 153

// Page 1 (107).
#define IDC_RADIO_ADD 1005
#define IDC_RADIO_REMOVE 1007

// Page 2 (108).
#define IDC_ANIMATE 1001
#define IDC_ACCOUNT 1002
#define IDC_STOP 1003
#define IDC_EXIST_CHECK 1004
#define IDC_TREE 1018
#define IDC_SEARCH 1019
#define IDC_DISPLAY_NAME 1020

// Page 3 (109).
#define IDC_PACKAGE 1000
#define IDC_CENTER_IP 1012
#define IDC_CENTER_LABEL 1013
#define IDC_BROWSE 1015
#define IDC_TEST 1016

// Progress page (110).
#define IDC_PROGRESS 1000
#define IDC_ACTION 1004
#define IDC_HEADING 1005
#define IDC_LIST 1017

// String ids used by name in the program.
#define IDS_CAPTION 103
#define IDS_COPY_ERROR 106
#define IDS_DELETE_ERROR 107
#define IDS_COMPLETED 110
#define IDS_CONFIRM_EXIT 111
#define IDS_PACKAGE_NAME 112
#define IDS_NOT_DC 121
#define IDS_NO_DC 122
#define IDS_SEARCHING 125
#define IDS_NOT_FOUND 126
#define IDS_SET_SCRIPT_HEADING 127
#define IDS_REMOVE_SCRIPT_HEADING 128
#define IDS_COPY_HEADING 129
#define IDS_DELETE_HEADING 130
#define IDS_COPY_ITEM 131
#define IDS_SET_SCRIPT_ITEM 132
#define IDS_REMOVE_SCRIPT_ITEM 133
#define IDS_DELETE_ITEM 134
#define IDS_RESULT 135
#define IDS_NO_COPY_CHECK 136
#define IDS_AUTO_DELETE_CHECK 137
#define IDS_TREE_TIP 138
// The terminal wizard's hint on host paths for the package.
#define IDS_TERMINAL_HOST_PATH 260
#define IDS_SCRIPTS_FOLDER_MISSING 200
#define IDS_SCRIPTS_FOLDER_UNKNOWN 201
#define IDS_WRITE_ERROR 202
#define IDS_WHATIF_HEADING 240
#define IDS_RUN_RECORD 241
#define IDS_RECORD_FAILED 242
#define IDS_UNDO_HEADING 243
#define IDS_WHATIF_DONE 244
#define IDS_WHATIF_UNAVAILABLE 245

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Names and answers outside the code page, and the code page of a locale (220-222).
#define IDS_NAME_OUTSIDE_CODE_PAGE 220
#define IDS_ANSWER_OUTSIDE_CODE_PAGE 221
#define IDS_TRADITIONAL_AS_936 222
