// The GDI+ encoder for a MIME type, as GDI+ programs find it: by walking the installed encoders.
#pragma once

#include <windows.h>

// The class id of the encoder of mime ("image/png", "image/jpeg", "image/bmp"); false when no
// encoder has that type, *pClsid left as it was.
bool GetEncoderClsid(const char16_t* mime, CLSID* pClsid);
