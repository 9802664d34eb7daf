// The concrete codecs.
#pragma once

#include "ImageHandle.h"

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
