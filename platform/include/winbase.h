// kernel32: the subset of the Windows kernel API that the program calls, with the Windows
// semantics it relies on. Paths are UTF-8 ("ANSI") strings with '/' as the separator.
#pragma once

#include "windef.h"
#include "winerror.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- errors -------------------------------------------------------------------------------
// The calling thread's last error code, as set by the functions below.
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

// ---- private-profile (INI) files ----------------------------------------------------------
// Sections and keys match case-insensitively. A missing file, section or key gives the default.
// Returns the value of the key as an integer (leading decimal digits with an optional sign;
// a value that does not start with a number gives 0), or nDefault when the key is missing.
UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// Copies the key's value (blanks around it and one pair of enclosing quotes removed), or the
// default, into the buffer, cut to nSize - 1 characters and terminated. Returns the number of
// characters copied, without the terminator.
DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// Sets key=value in the section. Creates the file and the section when missing; replaces an
// existing key's line in place; every other line (sections, keys, comments, blank lines,
// lines that are not key=value) is kept as it was, in order. Returns FALSE when the file
// cannot be written; only non-null section, key and value are supported.
BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);

// ---- files ----------------------------------------------------------------------------------
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define MOVEFILE_REPLACE_EXISTING 0x00000001

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// Starts a search for "folder/pattern" ('*' any run, '?' one character). Matching is
// case-insensitive, and a name whose extension is longer than three characters also matches
// through its short-name form (extension cut to three), so "*.doc" finds "x.docx" as on a
// volume with 8.3 names. Returns the search handle and the first match, or
// INVALID_HANDLE_VALUE (ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND).
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
// Next match in directory order; FALSE with ERROR_NO_MORE_FILES at the end.
BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);

// Copies contents, permissions and last-write time. With bFailIfExists an existing target
// fails with ERROR_FILE_EXISTS. The target is never reached through a symbolic link, and
// only a regular file is replaced: a link or anything else at the new name fails
// (ERROR_ACCESS_DENIED) and is left as it is, its target untouched.
BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
// Renames a file; with MOVEFILE_REPLACE_EXISTING an existing file at the new name is replaced
// in one step (a symbolic link there is replaced, not its target).
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
// Deletes a file; a folder or a missing file fails.
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
// Opens a file (never a folder). Share mode 0 takes an exclusive lock: the open fails with
// ERROR_SHARING_VIOLATION while another handle holds the file with a lock, and holds it
// against later opens until CloseHandle. With FILE_FLAG_OPEN_REPARSE_POINT a symbolic link
// at the name is not followed: the open fails (there is no writing into a link here), and
// so does one of anything but a regular file. A file is truncated only once it is known to
// be what the name opened.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Creation (birth time where the file system keeps one, else status change), last access
// and last write times as UTC FILETIMEs; null outputs are skipped.
BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime);
// Writes all of the bytes or fails (ERROR_DISK_FULL when the disk is full).
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPVOID lpOverlapped);
BOOL WINAPI CloseHandle(HANDLE hObject);

// ---- process --------------------------------------------------------------------------------
DWORD WINAPI GetCurrentProcessId(void);

// ---- time -----------------------------------------------------------------------------------
typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

// UTC to local time, with the local zone's offset in force at that instant.
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
// Calendar fields of a FILETIME (100 ns since 1601-01-01); FALSE for values past 30827.
BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
void WINAPI Sleep(DWORD dwMilliseconds);

// ---- memory ---------------------------------------------------------------------------------
#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define PAGE_READWRITE 0x04

// Page allocator: reserve and commit give zero-filled, page-aligned read/write memory.
// Only lpAddress NULL, MEM_COMMIT (with or without MEM_RESERVE) and PAGE_READWRITE are served.
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
// MEM_RELEASE with size 0 of a block VirtualAlloc returned; anything else fails.
BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);

// ---- global memory ----------------------------------------------------------------------------
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// A block of dwBytes (zero-filled with GMEM_ZEROINIT); NULL when out of memory.
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// The block's memory; NULL for an invalid handle.
LPVOID WINAPI GlobalLock(HGLOBAL hMem);
// FALSE once the lock count of a moveable block reaches zero (last error NO_ERROR).
BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
// NULL on success, the handle on failure.
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
// The block's size in bytes; 0 for an invalid handle.
SIZE_T WINAPI GlobalSize(HGLOBAL hMem);

// ---- modules --------------------------------------------------------------------------------
// "Name.dll" (or "Name") is the platform's library file "libName.so" in the program's folder;
// the system search path is never used. A name with a '/' is loaded from exactly that path.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
// The module of the running program for NULL.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
// Full path of the module's file (NULL: the running program). Returns the length copied; when
// the buffer is too small the path is cut and terminated, nSize is returned and the last error
// is ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// ---- text -----------------------------------------------------------------------------------
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008

// The ANSI code page is UTF-8; wide strings are UTF-16. cbMultiByte / cchWideChar -1 means
// "terminated, terminator included". A zero output size returns the size needed. Invalid
// input becomes U+FFFD. Returns 0 with ERROR_INSUFFICIENT_BUFFER when the output is too small.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);

#ifdef __cplusplus
}
#endif
