#include "ObjImage.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ByteOrder.h"

namespace {

// The flat form's fixed part: header, masks, and the position after the pixels.
const int kTransferOverhead = 60;

bool IsKnownDepth(int bpp)
{
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

// Size of the pixel block, or 0 when pitch x height (plus the flat form's overhead) does not
// fit in a signed 32-bit count.
int64_t BlockSize(int nPitch, int nHeight)
{
    int64_t n = (int64_t)nPitch * nHeight;
    return (nPitch <= 0 || n > INT32_MAX - kTransferOverhead) ? 0 : n;
}

}  // namespace

int FCObjImage::CalcPitch(int nWidth, int nBitCount)
{
    int64_t p = ((int64_t)nBitCount * nWidth + 31) / 32 * 4;
    return (p <= 0 || p > INT32_MAX) ? 0 : (int)p;
}

FCObjImage::FCObjImage()
{
    memset(&m_DibInfo, 0, sizeof(m_DibInfo));
}

FCObjImage::FCObjImage(const FCObjImage& img) : FCObjImage()
{
    CopyFrom(img);
}

FCObjImage::~FCObjImage()
{
    Clear();
}

bool FCObjImage::CreateFromInfo(const BITMAPINFOHEADER* pInfo)
{
    if (!pInfo)
        return false;
    BITMAPINFOHEADER in;
    memcpy(&in, pInfo, sizeof(in));
    if (in.biHeight <= 0 || in.biWidth <= 0 || (in.biCompression != BI_RGB && in.biCompression != BI_BITFIELDS) ||
        !IsKnownDepth(in.biBitCount))
        return false;
    const int nPitch = CalcPitch(in.biWidth, in.biBitCount);
    const int64_t nBlock = BlockSize(nPitch, in.biHeight);
    if (nBlock == 0)
        return false;

    // Everything new is obtained first, so that a failed allocation leaves the image as it was.
    BYTE* pByte = static_cast<BYTE*>(VirtualAlloc(nullptr, (SIZE_T)nBlock, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    BYTE** ppLine = new (std::nothrow) BYTE*[in.biHeight];
    RGBQUAD* pPalette = nullptr;
    if (in.biBitCount <= 8)
        pPalette = new (std::nothrow) RGBQUAD[1 << in.biBitCount];
    if (!pByte || !ppLine || (in.biBitCount <= 8 && !pPalette)) {
        if (pByte)
            VirtualFree(pByte, 0, MEM_RELEASE);
        delete[] ppLine;
        delete[] pPalette;
        return false;
    }
    Clear();

    m_DibInfo.biSize = sizeof(BITMAPINFOHEADER);
    m_DibInfo.biWidth = in.biWidth;
    m_DibInfo.biHeight = in.biHeight;
    m_DibInfo.biPlanes = 1;
    m_DibInfo.biBitCount = in.biBitCount;
    m_DibInfo.biCompression = in.biCompression;
    m_DibInfo.biXPelsPerMeter = in.biXPelsPerMeter;
    m_DibInfo.biYPelsPerMeter = in.biYPelsPerMeter;
    if (in.biBitCount == 16) {
        m_dwRedMask = 0x7C00;
        m_dwGreenMask = 0x03E0;
        m_dwBlueMask = 0x001F;
        if (in.biCompression == BI_BITFIELDS) {
            const BYTE* pMasks = reinterpret_cast<const BYTE*>(pInfo) + sizeof(BITMAPINFOHEADER);
            m_dwRedMask = pixmill::ReadLE32(pMasks);
            m_dwGreenMask = pixmill::ReadLE32(pMasks + 4);
            m_dwBlueMask = pixmill::ReadLE32(pMasks + 8);
        }
    } else {
        // Bit fields mean something only at 16 bits; a 32-bit one is plain 32-bit.
        m_DibInfo.biCompression = BI_RGB;
    }

    m_nPitch = nPitch;
    m_pByte = pByte;
    m_ppLine = ppLine;
    // Bottom-up: the top row is the last one of the block.
    m_ppLine[0] = m_pByte + (size_t)(in.biHeight - 1) * nPitch;
    for (int i = 1; i < in.biHeight; ++i)
        m_ppLine[i] = m_ppLine[i - 1] - nPitch;

    if (pPalette) {
        m_pPalette = pPalette;
        SetGreyPalette();
    }
    return true;
}

bool FCObjImage::Create(int nWidth, int nHeight, WORD wBitCount)
{
    BITMAPINFOHEADER bmih;
    memset(&bmih, 0, sizeof(bmih));
    bmih.biSize = sizeof(bmih);
    bmih.biWidth = nWidth;
    bmih.biHeight = nHeight;
    bmih.biPlanes = 1;
    bmih.biBitCount = wBitCount;
    bmih.biCompression = BI_RGB;
    return CreateFromInfo(&bmih);
}

void FCObjImage::Clear()
{
    delete[] m_ppLine;
    if (m_pByte)
        VirtualFree(m_pByte, 0, MEM_RELEASE);
    delete[] m_pPalette;
    memset(&m_DibInfo, 0, sizeof(m_DibInfo));
    m_dwRedMask = m_dwGreenMask = m_dwBlueMask = 0;
    m_dwReserved = 0;
    m_pByte = nullptr;
    m_ppLine = nullptr;
    m_pPalette = nullptr;
    m_nPitch = 0;
}

BITMAPINFO* FCObjImage::NewBitmapInfo() const
{
    if (!IsValid())
        return nullptr;
    const int bpp = m_DibInfo.biBitCount;
    size_t nSize = 56 + (bpp <= 8 ? 4u << bpp : 0);
    BYTE* p = static_cast<BYTE*>(calloc(1, nSize));
    if (!p)
        return nullptr;
    memcpy(p, &m_DibInfo, sizeof(m_DibInfo));
    if (bpp <= 8) {
        memcpy(p + 40, m_pPalette, 4u << bpp);
    } else {
        pixmill::WriteLE32(p + 40, m_dwRedMask);
        pixmill::WriteLE32(p + 44, m_dwGreenMask);
        pixmill::WriteLE32(p + 48, m_dwBlueMask);
    }
    return reinterpret_cast<BITMAPINFO*>(p);
}

BYTE* FCObjImage::PixelAddress(int x, int y) const
{
    const int bpp = m_DibInfo.biBitCount;
    if (bpp == 32)
        return m_ppLine[y] + x * 4;
    if (bpp == 8)
        return m_ppLine[y] + x;
    return m_ppLine[y] + x * bpp / 8;
}

bool FCObjImage::GetPalette(RGBQUAD* pPal, int nCount) const
{
    if (!IsValid() || m_DibInfo.biBitCount > 8 || !pPal || !m_pPalette)
        return false;
    for (int i = 0; i < nCount && i < (1 << m_DibInfo.biBitCount); ++i)
        pPal[i] = m_pPalette[i];
    return true;
}

bool FCObjImage::SetPalette(const RGBQUAD* pPal, int nCount)
{
    if (!IsValid() || m_DibInfo.biBitCount > 8 || !pPal || !m_pPalette)
        return false;
    for (int i = 0; i < nCount && i < (1 << m_DibInfo.biBitCount); ++i)
        m_pPalette[i] = pPal[i];
    return true;
}

void FCObjImage::CopyPaletteFrom(const FCObjImage& img)
{
    if (!IsValid() || m_DibInfo.biBitCount > 8 || m_DibInfo.biBitCount != img.m_DibInfo.biBitCount)
        return;
    RGBQUAD pal[256];
    const int n = 1 << m_DibInfo.biBitCount;
    if (img.GetPalette(pal, n))
        SetPalette(pal, n);
}

void FCObjImage::SetGreyPalette()
{
    if (!IsValid() || m_DibInfo.biBitCount > 8)
        return;
    const int n = 1 << m_DibInfo.biBitCount;
    const int nStep = 255 / (n - 1);
    for (int i = 0; i < n; ++i) {
        const BYTE c = (BYTE)(nStep * i);
        m_pPalette[i].rgbBlue = m_pPalette[i].rgbGreen = m_pPalette[i].rgbRed = c;
        m_pPalette[i].rgbReserved = 0;
    }
}

void FCObjImage::MakeOpaque()
{
    if (!IsValid() || m_DibInfo.biBitCount != 32)
        return;
    for (int y = 0; y < Height(); ++y) {
        BYTE* p = m_ppLine[y] + 3;
        for (int x = 0; x < Width(); ++x, p += 4)
            *p = 0xFF;
    }
}

FCObjImage& FCObjImage::CopyFrom(const FCObjImage& img)
{
    if (!img.IsValid() || &img == this)
        return *this;
    BITMAPINFO* pInfo = img.NewBitmapInfo();
    if (pInfo && CreateFromInfo(&pInfo->bmiHeader)) {
        memcpy(m_pByte, img.m_pByte, (size_t)m_nPitch * Height());
        if (ColorBits() <= 8)
            CopyPaletteFrom(img);
        m_dwReserved = img.m_dwReserved;
        m_nPosX = img.m_nPosX;
        m_nPosY = img.m_nPosY;
    }
    free(pInfo);
    return *this;
}

bool FCObjImage::GetSubBlock(FCObjImage* pDest, int nLeft, int nTop, int nRight, int nBottom) const
{
    if (!IsValid() || !pDest || pDest == this || ColorBits() < 8)
        return false;
    RECT rcImage = {0, 0, Width(), Height()};
    RECT rcWant = {nLeft, nTop, nRight, nBottom};
    RECT rc;
    if (!IntersectRect(&rc, &rcImage, &rcWant))
        return false;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (!pDest->Create(w, h, ColorBits()))
        return false;
    const size_t nSpan = (size_t)ColorBits() * w / 8;
    for (int i = 0; i < h; ++i)
        memcpy(pDest->m_ppLine[i], PixelAddress(rc.left, rc.top + i), nSpan);
    if (ColorBits() == 8)
        pDest->CopyPaletteFrom(*this);
    pDest->m_nPosX = rc.left;
    pDest->m_nPosY = rc.top;
    return true;
}

namespace {

// Moves one pixel of a fixed size, so the compiler emits a plain load and store.
inline void CopyPixel(BYTE* d, const BYTE* s, int nBytes)
{
    switch (nBytes) {
    case 1: *d = *s; break;
    case 2: memcpy(d, s, 2); break;
    case 3: memcpy(d, s, 3); break;
    case 4: memcpy(d, s, 4); break;
    default: memcpy(d, s, (size_t)nBytes); break;
    }
}

}  // namespace

void FCObjImage::Stretch(int nNewWidth, int nNewHeight)
{
    if (!IsValid() || nNewWidth <= 0 || nNewHeight <= 0 || ColorBits() < 8 ||
        (nNewWidth == Width() && nNewHeight == Height()))
        return;
    FCObjImage old(*this);
    if (!old.IsValid())
        return;
    int* pCol = new (std::nothrow) int[nNewWidth];
    if (!pCol || !Create(nNewWidth, nNewHeight, old.ColorBits())) {
        delete[] pCol;
        return;
    }
    if (ColorBits() == 8)
        CopyPaletteFrom(old);

    // Products in 64 bits: the source index is below the old size, so it fits again in 32.
    const int b = ColorBits() / 8;
    for (int x = 0; x < nNewWidth; ++x)
        pCol[x] = (int)((int64_t)x * old.Width() / nNewWidth);
    for (int x = 0; x < nNewWidth - 1; ++x)
        pCol[x] = (pCol[x + 1] - pCol[x]) * b;

    for (int y = 0; y < nNewHeight; ++y) {
        const BYTE* pSrc = old.m_ppLine[(int)((int64_t)y * old.Height() / nNewHeight)];
        BYTE* pDst = m_ppLine[y];
        for (int x = 0; x < nNewWidth; ++x, pDst += b) {
            CopyPixel(pDst, pSrc, b);
            if (x < nNewWidth - 1)
                pSrc += pCol[x];
        }
    }
    delete[] pCol;
}

int FCObjImage::Transfer(bool bStore, BYTE* pBuffer)
{
    if (!pBuffer)
        return 0;
    if (bStore) {
        if (!IsValid())
            return 0;
        const size_t nBlock = (size_t)m_nPitch * Height();
        memcpy(pBuffer, &m_DibInfo, 40);
        pixmill::WriteLE32(pBuffer + 40, m_dwRedMask);
        pixmill::WriteLE32(pBuffer + 44, m_dwGreenMask);
        pixmill::WriteLE32(pBuffer + 48, m_dwBlueMask);
        memcpy(pBuffer + 52, m_pByte, nBlock);
        pixmill::WriteLE32(pBuffer + 52 + nBlock, (DWORD)m_nPosX);
        pixmill::WriteLE32(pBuffer + 56 + nBlock, (DWORD)m_nPosY);
        return (int)(kTransferOverhead + nBlock);
    }
    // A refused header loads nothing: no pixel is written and the image stays as it was.
    if (!CreateFromInfo(reinterpret_cast<const BITMAPINFOHEADER*>(pBuffer)))
        return 0;
    const size_t nBlock = (size_t)m_nPitch * Height();
    memcpy(m_pByte, pBuffer + 52, nBlock);
    m_nPosX = (int)pixmill::ReadLE32(pBuffer + 52 + nBlock);
    m_nPosY = (int)pixmill::ReadLE32(pBuffer + 56 + nBlock);
    return (int)(kTransferOverhead + nBlock);
}
