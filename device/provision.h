// Provisioning the phone: the device folder with the phone's defaults, made on first use.
#pragma once

namespace device {

// Creates whatever of the device folder is missing, with the phone's defaults; never overwrites
// what exists. Returns false, after a line on the debug output, when it cannot.
bool EnsureProvisioned();

}  // namespace device
