// Identifiers of the dialogs, their controls and the program's icon. The numbers are part of the
// design: tests and other programs find controls by them.
#pragma once

// Icon (also the picture control at the top left of every dialog)
#define IDI_SETUP 300
#define IDC_PICTURE 300

// Dialogs
#define IDD_DESTINATION 102
#define IDD_PROGRESS 108
#define IDD_EXIT 109
#define IDD_OPTIONS 110

// Buttons shared by the dialogs: the OK-type and Cancel-type ids of the platform
#define IDC_NEXT 1   // Next; "E&xit Setup" in the exit dialog
#define IDC_CANCEL 2 // Cancel; "&Resume" in the exit dialog
#define IDC_BROWSE 1001
#define IDC_BACK 1002

// Destination page
#define IDC_FOLDER_LABEL 1004
#define IDC_INTRODUCTION 1016

// Options page
#define IDC_OPTION1 1008
#define IDC_OPTION2 1009
#define IDC_REQUIRED_CAPTION 1010
#define IDC_AVAILABLE_CAPTION 1011
#define IDC_REQUIRED_VALUE 1012
#define IDC_AVAILABLE_VALUE 1013
#define IDC_OPTION1_SIZE 1014
#define IDC_OPTION2_SIZE 1015

// Progress window
#define IDC_PROGRESS_BAR 1003
#define IDC_UPPER_TEXT 1011
#define IDC_LOWER_TEXT 1012

#define IDC_STATIC_TEXT (-1)
