// Identifiers of the resources: dialog templates, menu bars, controls, commands, strings, icon.
// Plain #defines only: this file is read by C++ and by the resource compilers alike.
#ifndef TAVONNE_RES_RESOURCE_H
#define TAVONNE_RES_RESOURCE_H

// Dialog templates
#define IDD_MAIN 102
#define IDD_ABOUT 107
#define IDD_SETTINGS 110

// Soft-key menu bars, each with the menu of the same identifier
#define IDR_MAIN_MENUBAR 104
#define IDR_ABOUT_MENUBAR 108
#define IDR_SETTINGS_MENUBAR 109

// Icon
#define IDI_APP 112

// Controls of the main screen
#define IDC_RING_LABEL 103
#define IDC_RING_LIST 108
#define IDC_RING_SPIN 109
#define IDC_SMS_LIST 110
#define IDC_SMS_LABEL 111
#define IDC_SMS_SPIN 112

// Controls of the About screen
#define IDC_ABOUT_TITLE 1007
#define IDC_ABOUT_TEXT 1008

// Controls of the settings screen
#define IDC_FOLDER_EDIT 1010
#define IDC_FOLDER_LABEL 1011
#define IDC_REPEAT_LIST 1012
#define IDC_REPEAT_LABEL 1013
#define IDC_REPEAT_SPIN 109

// Commands (the About screen's soft key sends IDOK)
#define IDM_DONE 40006
#define IDM_PLAY 40009
#define IDM_MENU 40013
#define IDM_ABOUT 40014
#define IDM_SETTINGS 40015
#define IDM_CANCEL 40016

// Strings: soft-key labels
#define IDS_DONE 40005
#define IDS_OK 40011
#define IDS_MENU 40012
#define IDS_CANCEL 40017

#endif  // TAVONNE_RES_RESOURCE_H
