// Identifiers of the front-end demo's resources (frontend_demo.rc).
#pragma once

#define IDD_DEMO 100
#define IDD_DEMO_ABOUT 200

#define IDC_DEMO_LABEL 101
#define IDC_DEMO_LIST 102
#define IDC_DEMO_SPIN 103
#define IDC_DEMO_FOLDER_LABEL 104
#define IDC_DEMO_EDIT 105
#define IDC_DEMO_ABOUT_TITLE 201
#define IDC_DEMO_ABOUT_TEXT 202

#define IDR_DEMO_MENUBAR 300
#define IDR_DEMO_ABOUT_MENUBAR 310

#define IDM_DONE 40006
#define IDM_PLAY 40009
#define IDM_MENU 40013
#define IDM_ABOUT 40014
#define IDM_MESSAGE 40015
#define IDM_CANCEL 40016

#define IDS_DONE 40005
#define IDS_OK 40011
#define IDS_MENU 40012

#define IDI_DEMO 112
