// The library's own BMP codec: uncompressed DIBs of 1, 4, 8, 16, 24 and 32 bits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ByteOrder.h"
#include "Codecs.h"
#include "FileWriter.h"

using namespace pixmill;

bool FCImageHandle_Bmp::DecodeMemory(const BYTE* pData, int nSize)
{
    if (!pData || nSize <= 14 || pData[0] != 'B' || pData[1] != 'M')
        return false;
    const uint32_t nOffset = ReadLE32(pData + 10);
    if (nOffset >= (uint32_t)nSize)
        return false;
    // The information header must be there in full; the 12-byte core header is not taken.
    if (nSize < 14 + 40)
        return false;
    const uint32_t nHeaderSize = ReadLE32(pData + 14);
    if (nHeaderSize < 40)
        return false;
    const WORD wBitCount = ReadLE16(pData + 14 + 14);
    const DWORD dwCompression = ReadLE32(pData + 14 + 16);
    if (wBitCount == 16 && dwCompression == BI_BITFIELDS && nSize < 66)
        return false;
    if (!DecodableSize((int)ReadLE32(pData + 18), (int)ReadLE32(pData + 22), wBitCount))
        return false;

    std::unique_ptr<FCObjImage> img(new FCObjImage);
    if (!img->CreateFromInfo(reinterpret_cast<const BITMAPINFOHEADER*>(pData + 14)))
        return false;
    if (img->ColorBits() <= 8) {
        const int nColors = 1 << img->ColorBits();
        const uint64_t nPalStart = 14 + (uint64_t)nHeaderSize;
        if (nPalStart + 4u * nColors > (uint64_t)nSize)
            return false;
        RGBQUAD pal[256];
        memcpy(pal, pData + nPalStart, 4u * nColors);
        img->SetPalette(pal, nColors);
    }
    // A short file leaves its missing rows, the top ones, black.
    const uint64_t nBlock = (uint64_t)img->GetPitch() * img->Height();
    const uint64_t nAvail = (uint64_t)nSize - nOffset;
    memcpy(img->GetMemStart(), pData + nOffset, (size_t)(nAvail < nBlock ? nAvail : nBlock));
    Adopt(img.release());
    return true;
}

bool FCImageHandle_Bmp::EncodeFile(const char* szFileName, int nFlag)
{
    if (m_SaveImageList.empty() || !m_SaveImageList[0]->IsValid())
        return false;
    const FCObjImage& img = *m_SaveImageList[0];
    std::unique_ptr<BITMAPINFO, decltype(&free)> info(img.NewBitmapInfo(), &free);
    if (!info)
        return false;
    const int bpp = img.ColorBits();
    uint32_t nHeaderBlock = 40;
    if (bpp <= 8)
        nHeaderBlock += 4u << bpp;
    else if (bpp == 16 && img.GetInfoHeader().biCompression == BI_BITFIELDS)
        nHeaderBlock += 12;
    const uint64_t nPixels = (uint64_t)img.GetPitch() * img.Height();

    BYTE fh[14] = {'B', 'M'};
    WriteLE32(fh + 2, (uint32_t)(nHeaderBlock + 14 + nPixels));
    WriteLE32(fh + 10, 14 + nHeaderBlock);

    FileWriter out;
    if (!out.Open(szFileName))
        return false;
    out.Write(fh, sizeof(fh));
    out.Write(info.get(), nHeaderBlock);
    out.Write(img.GetMemStart(), (size_t)nPixels);
    return out.Close();
}
