// Resource and control ids of the two dialogs. Included by the resource script too,
// so it holds nothing but #defines.
#pragma once

#define IDI_MAIN 128
#define IDD_MAIN 129
#define IDD_OFFER 202
#define IDB_LOGO 203
// The logo drawn for 120, 144 and 192 DPI (125, 150 and 200 %); 203 is the one for 96.
#define IDB_LOGO_120 204
#define IDB_LOGO_144 205
#define IDB_LOGO_192 206

// Main dialog (129)
#define IDC_START_STOP 1008
#define IDC_LINK_TOPIC 1009
#define IDC_LINK_SITE 1011
#define IDC_LINK_COMMUNITY 1012
#define IDC_PATH 1014
#define IDC_BROWSE 1015
#define IDC_CURRENT_FILE 1016
#define IDC_PROGRESS 1017
// The prompt label is the dialog's only control without an id of its own.
#define IDC_PROMPT (-1)

// Download-offer dialog (202)
#define IDC_SUMMARY 1019
