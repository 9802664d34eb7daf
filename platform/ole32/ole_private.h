// ole32 internals shared between its sources and its tests.
#pragma once

#include <ole2.h>

#include <string>

namespace platform {

// UTF-16 to the ANSI (UTF-8) code page; false when the text does not convert.
bool WideToAnsi(LPCOLESTR szWide, std::string& out);

// Adds a class to the compiled-in class table for this process: an in-process server module
// (loaded by name with LoadLibraryA) and optionally a ProgID. Lets tests exercise module loading
// with a module of their own; the program never calls it.
void AddModuleClass(REFCLSID clsid, const char* szProgId, const char* szModule);

} // namespace platform
