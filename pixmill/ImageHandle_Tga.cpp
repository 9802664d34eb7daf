// The library's own Truevision TGA codec.
#include <cstring>
#include <memory>
#include <vector>

#include "ByteOrder.h"
#include "Codecs.h"
#include "FileWriter.h"

using namespace pixmill;

namespace {

const char kImageId[12] = {'V', 'e', 'x', 'a', 'l', ' ', '-', '-', ' ', 'T', 'G', 'A'};

inline void CopyPixel(BYTE* d, const BYTE* s, int b)
{
    switch (b) {
    case 1: *d = *s; break;
    case 2: memcpy(d, s, 2); break;
    case 3: memcpy(d, s, 3); break;
    case 4: memcpy(d, s, 4); break;
    default: memcpy(d, s, (size_t)b); break;
    }
}

inline bool SamePixel(const BYTE* a, const BYTE* b, int n)
{
    switch (n) {
    case 1: return *a == *b;
    case 2: return memcmp(a, b, 2) == 0;
    case 3: return memcmp(a, b, 3) == 0;
    case 4: return memcmp(a, b, 4) == 0;
    default: return memcmp(a, b, (size_t)n) == 0;
    }
}

// Run-length packets of one image. A packet may run on into the next row, as many writers
// produce them; its remainder is carried over instead of being written past the row's end.
class RleReader {
public:
    RleReader(const BYTE* pData, size_t nSize, size_t nPos, int nBytes)
        : m_pData(pData), m_nSize(nSize), m_nPos(nPos), m_nBytes(nBytes)
    {
    }
    // Fills nPixels pixels at pDst; false when the data ends first (the rest stays as it was).
    bool Fill(BYTE* pDst, int nPixels)
    {
        int x = 0;
        while (x < nPixels) {
            if (m_nLeft == 0) {
                if (m_nPos >= m_nSize)
                    return false;
                const BYTE h = m_pData[m_nPos++];
                m_nLeft = (h & 0x7F) + 1;
                m_bRun = (h & 0x80) != 0;
                if (m_bRun) {
                    if (m_nSize - m_nPos < (size_t)m_nBytes)
                        return false;
                    memcpy(m_Value, m_pData + m_nPos, (size_t)m_nBytes);
                    m_nPos += m_nBytes;
                }
            }
            const int k = m_nLeft < nPixels - x ? m_nLeft : nPixels - x;
            if (m_bRun) {
                for (int i = 0; i < k; ++i, pDst += m_nBytes)
                    CopyPixel(pDst, m_Value, m_nBytes);
            } else {
                const size_t nWant = (size_t)k * m_nBytes;
                if (m_nSize - m_nPos < nWant) {
                    const size_t nWhole = (m_nSize - m_nPos) / m_nBytes * m_nBytes;
                    memcpy(pDst, m_pData + m_nPos, nWhole);
                    m_nPos = m_nSize;
                    return false;
                }
                memcpy(pDst, m_pData + m_nPos, nWant);
                m_nPos += nWant;
                pDst += nWant;
            }
            m_nLeft -= k;
            x += k;
        }
        return true;
    }

private:
    const BYTE* m_pData;
    size_t m_nSize;
    size_t m_nPos;
    int m_nBytes;
    int m_nLeft = 0;
    bool m_bRun = false;
    BYTE m_Value[4] = {};
};

// Encodes one row as run packets only (a lone pixel is a run of one); returns the bytes used.
size_t EncodeRow(const BYTE* pRow, int nWidth, int b, BYTE* pOut)
{
    BYTE* p = pOut;
    int x = 0;
    while (x < nWidth) {
        const BYTE* pPixel = pRow + (size_t)x * b;
        int n = 1;
        while (n < 128 && x + n < nWidth && SamePixel(pPixel, pPixel + (size_t)n * b, b))
            ++n;
        *p++ = (BYTE)((n - 1) | 0x80);
        CopyPixel(p, pPixel, b);
        p += b;
        x += n;
    }
    return (size_t)(p - pOut);
}

}  // namespace

bool FCImageHandle_Tga::DecodeMemory(const BYTE* pData, int nSize)
{
    if (!pData || nSize < 18)
        return false;
    const size_t nLen = (size_t)nSize;
    const BYTE nIdLength = pData[0];
    const BYTE nColorMapType = pData[1];
    const BYTE nImageType = pData[2];
    const int nMapFirst = ReadLE16(pData + 3);
    const int nMapLength = ReadLE16(pData + 5);
    const BYTE nMapEntrySize = pData[7];
    const int nWidth = ReadLE16(pData + 12);
    const int nHeight = ReadLE16(pData + 14);
    const int nDepth = pData[16] == 15 ? 16 : pData[16];
    const bool bTopDown = (pData[17] & 0x20) != 0;
    if (nMapEntrySize == 15 || nMapEntrySize == 16)
        return false;
    const bool bRle = nImageType == 9 || nImageType == 10 || nImageType == 11;
    // Run-length packets carry whole bytes per pixel.
    if (bRle && nDepth < 8)
        return false;
    if (!DecodableSize(nWidth, nHeight, nDepth))
        return false;

    std::unique_ptr<FCObjImage> img(new FCObjImage);
    if (!img->Create(nWidth, nHeight, (WORD)nDepth))
        return false;
    size_t nPos = 18 + (size_t)nIdLength;
    if (nColorMapType == 1) {
        if (nMapFirst + nMapLength > 256)
            return false;
        const size_t nEntry = nMapEntrySize == 32 ? 4 : 3;
        if (nPos > nLen || (nLen - nPos) / nEntry < (size_t)nMapLength)
            return false;
        RGBQUAD table[256];
        memset(table, 0, sizeof(table));
        for (int i = 0; i < nMapLength; ++i, nPos += nEntry) {
            RGBQUAD& q = table[nMapFirst + i];
            q.rgbBlue = pData[nPos];
            q.rgbGreen = pData[nPos + 1];
            q.rgbRed = pData[nPos + 2];
            if (nEntry == 4)
                q.rgbReserved = pData[nPos + 3];
        }
        if (img->ColorBits() <= 8)
            img->SetPalette(table, 1 << img->ColorBits());
    }

    // A file that ends early loads the rows it has; the others stay black.
    const size_t nRowBytes = (size_t)img->ColorBits() * nWidth / 8;
    RleReader rle(pData, nLen, nPos, img->ColorBits() / 8);
    for (int i = 0; i < nHeight; ++i) {
        BYTE* pRow = img->PixelAddress(0, bTopDown ? i : nHeight - 1 - i);
        if (bRle) {
            if (!rle.Fill(pRow, nWidth))
                break;
        } else {
            if (nPos >= nLen)
                break;
            const size_t n = nLen - nPos < nRowBytes ? nLen - nPos : nRowBytes;
            memcpy(pRow, pData + nPos, n);
            nPos += n;
        }
    }
    Adopt(img.release());
    return true;
}

bool FCImageHandle_Tga::EncodeFile(const char* szFileName, int nFlag)
{
    if (m_SaveImageList.empty())
        return false;
    const FCObjImage& img = *m_SaveImageList[0];
    const int bpp = img.ColorBits();
    if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return false;
    // The size fields have 16 bits; a larger image would be written as a damaged file.
    if (img.Width() > 0xFFFF || img.Height() > 0xFFFF)
        return false;
    // Only these two forms carry the pixels; a file without them would lose the picture.
    if (nFlag != -1 && nFlag != 1)
        return false;

    BYTE header[18] = {};
    header[0] = sizeof(kImageId);
    header[1] = bpp == 8 ? 1 : 0;
    if (nFlag == -1)
        header[2] = bpp == 8 ? 1 : 2;
    else
        header[2] = bpp == 8 ? 9 : 10;
    WriteLE16(header + 5, 256);
    header[7] = 24;
    WriteLE16(header + 12, (WORD)img.Width());
    WriteLE16(header + 14, (WORD)img.Height());
    header[16] = (BYTE)bpp;
    header[17] = 0x20;

    const size_t nRowBytes = (size_t)bpp * img.Width() / 8;
    std::vector<BYTE> buffer;
    if (nFlag == 1)
        buffer.resize(2 * nRowBytes + 4096);

    FileWriter out;
    if (!out.Open(szFileName))
        return false;
    out.Write(header, sizeof(header));
    out.Write(kImageId, sizeof(kImageId));
    if (bpp == 8) {
        RGBQUAD pal[256];
        BYTE map[256 * 3];
        img.GetPalette(pal, 256);
        for (int i = 0; i < 256; ++i) {
            map[i * 3] = pal[i].rgbBlue;
            map[i * 3 + 1] = pal[i].rgbGreen;
            map[i * 3 + 2] = pal[i].rgbRed;
        }
        out.Write(map, sizeof(map));
    }
    for (int y = 0; y < img.Height(); ++y) {
        const BYTE* pRow = img.PixelAddress(0, y);
        if (nFlag == -1)
            out.Write(pRow, nRowBytes);
        else
            out.Write(buffer.data(), EncodeRow(pRow, img.Width(), bpp / 8, buffer.data()));
    }
    return out.Close();
}
