// Common controls: the up-down control (the phone's spinner) and the tool-bar button values the
// soft-key menu bar is described with.
#pragma once

#ifndef RC_INVOKED
#include <winuser.h>
#endif

// WCHAR is char16_t here, so wide literals are u"...".
#define UPDOWN_CLASSW u"msctls_updown32"
#define UPDOWN_CLASS UPDOWN_CLASSW

#define UDS_WRAP 0x0001
#define UDS_SETBUDDYINT 0x0002
#define UDS_ALIGNRIGHT 0x0004
#define UDS_ALIGNLEFT 0x0008
#define UDS_AUTOBUDDY 0x0010
#define UDS_ARROWKEYS 0x0020
#define UDS_HORZ 0x0040
#define UDS_NOTHOUSANDS 0x0080
// The phone's addition: the action key opens the buddy list whole, to pick from.
#define UDS_EXPANDABLE 0x0200

#define UDM_SETRANGE (WM_USER + 101)
#define UDM_GETRANGE (WM_USER + 102)
#define UDM_SETPOS (WM_USER + 103)
#define UDM_GETPOS (WM_USER + 104)
#define UDM_SETBUDDY (WM_USER + 105)
#define UDM_GETBUDDY (WM_USER + 106)

#ifdef RC_INVOKED
// llvm-rc takes only plain numbers in RCDATA, and a 16-bit -2 is 0xFFFE.
#define I_IMAGENONE 0xFFFE
#else
#define I_IMAGENONE (-2)
#endif

#define TBSTATE_CHECKED 0x01
#define TBSTATE_PRESSED 0x02
#define TBSTATE_ENABLED 0x04
#define TBSTATE_HIDDEN 0x08

#define TBSTYLE_BUTTON 0x0000
#define TBSTYLE_SEP 0x0001
#define TBSTYLE_CHECK 0x0002
#define TBSTYLE_GROUP 0x0004
#define TBSTYLE_DROPDOWN 0x0008
#define TBSTYLE_AUTOSIZE 0x0010
