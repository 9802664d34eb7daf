// The current process.
#include "kernel_private.h"

#include <unistd.h>

DWORD WINAPI GetCurrentProcessId(void) { return (DWORD)getpid(); }
