// An app source as the app's build compiles it: it reaches the Win32 and SDK headers and the
// app's own, and, given PROBE_HEADER, tries one header from inside the platform or the device.
#include <windows.h>
#include <aygshell.h>
#include <winuserm.h>

#include "catalogue.h"
#include "resource.h"
#include "screens.h"
#include "settings.h"

#ifdef PROBE_HEADER
#include PROBE_HEADER
#endif

int ProbeAppBuild() {
    return IDD_MAIN + VK_TBACK;
}
