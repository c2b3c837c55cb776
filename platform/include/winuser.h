// Win32 window services: windows, messages, dialogs, controls, resources, message boxes.
#pragma once

#include <windef.h>
