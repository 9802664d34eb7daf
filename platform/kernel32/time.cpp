// File times and calendar conversion.
#include "kernel_private.h"

#include <ctime>
#include <time.h>

namespace {

const int64_t kTicksPerSecond = 10000000LL;
const int64_t kEpochDelta = 116444736000000000LL;  // 1601 -> 1970 in 100 ns ticks

int64_t Ticks(const FILETIME* ft) { return (int64_t)(((uint64_t)ft->dwHighDateTime << 32) | ft->dwLowDateTime); }

}  // namespace

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime)
{
    if (!lpFileTime || !lpLocalFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t ticks = Ticks(lpFileTime);
    if (ticks < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    time_t secs = (time_t)((ticks - kEpochDelta) / kTicksPerSecond);
    struct tm local;
    if (!localtime_r(&secs, &local)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t shifted = ticks + (int64_t)local.tm_gmtoff * kTicksPerSecond;
    if (shifted < 0)
        shifted = 0;
    lpLocalFileTime->dwLowDateTime = (DWORD)((uint64_t)shifted & 0xffffffffu);
    lpLocalFileTime->dwHighDateTime = (DWORD)((uint64_t)shifted >> 32);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (!lpFileTime || !lpSystemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t ticks = Ticks(lpFileTime);
    if (ticks < 0) {  // Windows refuses values with the top bit set
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Civil date from days since 1601-01-01 (a Monday), proleptic Gregorian.
    int64_t totalSecs = ticks / kTicksPerSecond;
    int64_t days = totalSecs / 86400;
    int64_t rem = totalSecs % 86400;
    // Shift to days since 0000-03-01 for the era algorithm.
    int64_t z = days + 584694;  // 1601-01-01 is day 584694 after 0000-03-01
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    if (y > 30827) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpSystemTime->wYear = (WORD)y;
    lpSystemTime->wMonth = (WORD)m;
    lpSystemTime->wDay = (WORD)d;
    lpSystemTime->wDayOfWeek = (WORD)((days + 1) % 7);  // 1601-01-01 was a Monday (1)
    lpSystemTime->wHour = (WORD)(rem / 3600);
    lpSystemTime->wMinute = (WORD)((rem / 60) % 60);
    lpSystemTime->wSecond = (WORD)(rem % 60);
    lpSystemTime->wMilliseconds = (WORD)((ticks / 10000) % 1000);
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}
