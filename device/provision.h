// Provisioning the phone: the device folder with the phone's defaults, made on first use.
#pragma once

namespace device {

// Makes the phone's file system whole: a new phone gets its folders and every tone it comes with;
// any phone gets back the files of "\Windows\" that are missing, as its ROM would give them back,
// and the player of this build. Nothing else that exists is overwritten. Returns false, after a
// line on the debug output, when it cannot.
bool EnsureFileSystem();

// EnsureFileSystem, then the registry, which a new phone gets with its own keys and their
// defaults (an existing registry is only opened, never completed): what `init` makes.
bool EnsureProvisioned();

// Puts back each of the phone's own sound values that the registry lacks, keeping those it has:
// what `init --reset` does once it has erased them. Returns false, after a line on the debug
// output, when it cannot.
bool AddPhoneDefaults();

// EnsureFileSystem until it succeeds once for the device folder in this process: what the
// program and the platform's services call before their first use of the phone's files.
bool ProvisionOnce();

}  // namespace device
