#include "common/misc/GdipEncoder.h"

#include <gdiplusflat.h>

#include <string>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

bool GetEncoderClsid(const char16_t* mime, CLSID* pClsid)
{
    UINT nCount = 0, nBytes = 0;
    if (GdipGetImageEncodersSize(&nCount, &nBytes) != Ok || nBytes == 0)
        return false;
    std::vector<BYTE> block(nBytes);
    auto* pInfo = reinterpret_cast<ImageCodecInfo*>(block.data());
    if (GdipGetImageEncoders(nCount, nBytes, pInfo) != Ok)
        return false;
    for (UINT i = 0; i < nCount; ++i)
        if (pInfo[i].MimeType && std::u16string(pInfo[i].MimeType) == mime) {
            *pClsid = pInfo[i].Clsid;
            return true;
        }
    return false;
}
