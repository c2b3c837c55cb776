// The Smartphone's keys, as the phone's windows.h names them. Desktop Windows lacks these names,
// so the Windows build of the app takes them from here too.
#pragma once

#define VK_TSOFT1 VK_F1
#define VK_TSOFT2 VK_F2
#define VK_TTALK VK_F3
#define VK_TEND VK_F4
#define VK_THOME VK_LWIN
#define VK_TBACK VK_ESCAPE
#define VK_TACTION VK_RETURN
#define VK_TUP VK_UP
#define VK_TDOWN VK_DOWN
#define VK_TLEFT VK_LEFT
#define VK_TRIGHT VK_RIGHT
#define VK_TSTAR VK_F8
#define VK_TPOUND VK_F9
