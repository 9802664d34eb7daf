// The Microsoft C runtime helpers that the program uses, over the C library.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

#ifdef __cplusplus
extern "C" {
#endif

// Splits a path into drive (always empty here), folder with its trailing '/', file name and
// extension with its dot. Each non-null output receives at most _MAX_DRIVE, _MAX_DIR,
// _MAX_FNAME or _MAX_EXT bytes (longer parts are cut), always terminated.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

#ifdef __cplusplus
}
#endif

// Case-insensitive comparison (ASCII letters), as the C runtime's stricmp.
static inline int stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
static inline int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
static inline int strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }
