/* The statically linked program's dlopen, which loads nothing (the link wraps dlopen to it). */
/* SQLite can load extensions, which the registry never does, and a static program could not load
   a shared library safely anyway: so the C library's loader, and its warning that it needs the
   shared libraries at run time, stay out of the program. */
#include <stddef.h>

void* __wrap_dlopen(const char* file, int mode) {
    (void)file;
    (void)mode;
    return NULL;
}
