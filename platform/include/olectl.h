// OLE controls: loading pictures from streams.
#pragma once

#include "ocidl.h"

#define PICTYPE_UNINITIALIZED (-1)
#define PICTYPE_NONE 0
#define PICTYPE_BITMAP 1
#define PICTYPE_METAFILE 2
#define PICTYPE_ICON 3
#define PICTYPE_ENHMETAFILE 4

#define CTL_E_INVALIDPICTURE _HRESULT_TYPEDEF_(0x800A01E1L)

// Loads a BMP, JPEG, GIF (first frame), PNG or TIFF picture from lSize bytes of the stream
// (0: up to its end) into a bitmap picture that owns its HBITMAP (a 32-bit GDI bitmap,
// transparency dropped). fRunmode is not used. CTL_E_INVALIDPICTURE for bytes no decoder
// takes, E_NOINTERFACE for an interface other than IPicture or IUnknown.
extern "C" HRESULT WINAPI OleLoadPicture(LPSTREAM lpstream, LONG lSize, BOOL fRunmode, REFIID riid, LPVOID* lplpvObj);
