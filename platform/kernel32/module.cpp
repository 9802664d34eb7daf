// Dynamic loading. Modules are found beside the program only, so a library of the same name
// elsewhere on the system is never picked up in its place.
#include "kernel_private.h"

#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

namespace {

// The folder of the running program, with a trailing '/'.
std::string ProgramFolder()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "./";
    path[n] = '\0';
    std::string s(path);
    return s.substr(0, s.rfind('/') + 1);
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name(lpLibFileName);
    std::string file;
    if (name.find('/') != std::string::npos) {
        file = name;
    } else {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && strcasecmp(name.c_str() + dot, ".dll") == 0)
            name.erase(dot);
        file = ProgramFolder() + "lib" + name + ".so";
    }
    void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(h);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* p = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (!p) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(p);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (!hLibModule || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName) {  // only the program's own module is asked for
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD));
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::string path;
    void* self = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    bool isProgram = !hModule || reinterpret_cast<void*>(hModule) == self;
    if (self)
        dlclose(self);
    if (isProgram) {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path.assign(buf, (size_t)n);
    } else {
        struct link_map* map = nullptr;
        if (dlinfo(reinterpret_cast<void*>(hModule), RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = map->l_name;
    }
    if (path.size() >= nSize) {
        memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)path.size();
}
