// Identifiers of the window system tests' own resources (window_test.rc).
#pragma once

// The commands and soft-key labels are the program's own.
#include "res/resource.h"

// Dialogs
#define IDD_SPINNERS 100
#define IDD_EXTENDED 200
#define IDD_UNKNOWN_CLASS 300
#define IDD_FORM 400
#define IDD_TEXTS 500
#define IDD_EMPTY 600

// Controls
#define IDC_LABEL 101
#define IDC_WRAP_LIST 102
#define IDC_WRAP_SPIN 103
#define IDC_STOP_LIST 104
#define IDC_STOP_SPIN 105
#define IDC_EDIT 106
#define IDC_HIDDEN_LIST 107
#define IDC_BUTTON 108
#define IDC_MULTILINE 109
#define IDC_ICON 110

// Menus and menu bars (each menu bar with the menu of the same id)
#define IDR_POPUP_BAR 700
#define IDR_PLAIN_BAR 710
#define IDR_BAD_POPUP_BAR 720
#define IDR_SHORT_BAR 730
#define IDR_NO_MENU_BAR 740
#define IDR_THREE_BAR 750
#define IDR_MISSING_BAR 799

// Commands
#define IDM_GRAYED 40020

// Strings
#define IDS_ONE 1
#define IDS_SEVENTEEN 17
#define IDS_LONG 40030

// Icon
#define IDI_TEST 112
