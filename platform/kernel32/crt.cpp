// The C runtime's path splitter.
#include <wincrt.h>

#include <cstring>

namespace {

// Copies [b, e) into out, cut to cap - 1 bytes, terminated.
void CopyPart(char* out, size_t cap, const char* b, const char* e)
{
    if (!out)
        return;
    size_t n = (size_t)(e - b);
    if (n > cap - 1)
        n = cap - 1;
    memcpy(out, b, n);
    out[n] = '\0';
}

}  // namespace

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    if (!path)
        path = "";
    const char* end = path + strlen(path);
    const char* slash = strrchr(path, '/');
    const char* nameStart = slash ? slash + 1 : path;
    const char* dot = strrchr(nameStart, '.');
    if (!dot)
        dot = end;
    CopyPart(drive, _MAX_DRIVE, path, path);  // no drive letters on this platform
    CopyPart(dir, _MAX_DIR, path, nameStart);
    CopyPart(fname, _MAX_FNAME, nameStart, dot);
    CopyPart(ext, _MAX_EXT, dot, end);
}
