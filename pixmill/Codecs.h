// The concrete codecs.
#pragma once

#include "ImageHandle.h"

// Pictures read from files are refused above this pixel block size (256 MiB, a 600 dpi A4
// page at 32 bits), so that a few header bytes cannot claim gigabytes; the platform's
// decoders keep the same bound.
const int64_t kMaxDecodedBlock = int64_t(1) << 28;
inline bool DecodableSize(int nWidth, int nHeight, int nBitCount)
{
    if (nWidth <= 0 || nHeight <= 0 || nBitCount <= 0 || nBitCount > 32)
        return false;
    const int64_t nPitch = ((int64_t)nBitCount * nWidth + 31) / 32 * 4;  // below 2^35
    return nPitch <= kMaxDecodedBlock && (nPitch + 8) * nHeight <= kMaxDecodedBlock;
}

class FCImageHandle_Bmp : public FCImageHandle {
public:
    bool DecodeMemory(const BYTE* pData, int nSize) override;
    bool EncodeFile(const char* szFileName, int nFlag) override;
};

class FCImageHandle_Tga : public FCImageHandle {
public:
    bool DecodeMemory(const BYTE* pData, int nSize) override;
    bool EncodeFile(const char* szFileName, int nFlag) override;
};

class FCImageHandle_Gdiplus : public FCImageHandle {
public:
    FCImageHandle_Gdiplus();
    ~FCImageHandle_Gdiplus() override;
    bool DecodeFile(const char* szFileName) override;
    bool DecodeMemory(const BYTE* pData, int nSize) override;
    bool EncodeFile(const char* szFileName, int nFlag) override;

private:
    bool DecodeBitmap(void* pBitmap);
    ULONG_PTR m_nToken = 0;
};

class FCImageHandle_IPicture : public FCImageHandle {
public:
    bool DecodeMemory(const BYTE* pData, int nSize) override;
};
