// Provisioning the phone: the device folder with the phone's defaults, made on first use.
#pragma once

namespace device {

// Creates whatever of the device folder is missing, with the phone's defaults; never overwrites
// what exists. Returns false, after a line on the debug output, when it cannot.
bool EnsureProvisioned();

// EnsureProvisioned until it succeeds once for the device folder in this process: what the
// program and the platform's services call before their first use of the phone.
bool ProvisionOnce();

}  // namespace device
