// The image object of the library: an uncompressed raster in Windows DIB layout (bottom-up
// rows, 4-byte aligned pitch), so that its header, palette and pixels go to GDI and GDI+
// without conversion.
#pragma once

#include <windows.h>

class FCObject {
public:
    virtual ~FCObject() {}
    // Store (true) writes the object's flat form into the buffer, load (false) reads it back;
    // returns the byte count. The base object has no content.
    virtual int Transfer(bool bStore, BYTE* pBuffer) { return 0; }
};

class FCObjGraph : public FCObject {
public:
    int m_nPosX = 0;
    int m_nPosY = 0;
};

class FCObjImage : public FCObjGraph {
public:
    FCObjImage();
    FCObjImage(const FCObjImage& img);
    FCObjImage& operator=(const FCObjImage& img) { return CopyFrom(img); }
    ~FCObjImage() override;

    bool IsValid() const { return m_pByte != nullptr; }
    // Creates from a DIB information header (optionally followed by three uint32 masks for a
    // 16-bit BI_BITFIELDS header). A refusal leaves the image as it was.
    bool CreateFromInfo(const BITMAPINFOHEADER* pInfo);
    bool Create(int nWidth, int nHeight, WORD wBitCount);
    void Clear();

    // A BITMAPINFO block (header, then palette or masks) allocated with malloc; the caller
    // frees it with free(). Null when empty or out of memory.
    BITMAPINFO* NewBitmapInfo() const;
    BYTE* PixelAddress(int x, int y) const;

    bool GetPalette(RGBQUAD* pPal, int nCount) const;
    bool SetPalette(const RGBQUAD* pPal, int nCount);
    void CopyPaletteFrom(const FCObjImage& img);
    void SetGreyPalette();
    void MakeOpaque();

    FCObjImage& CopyFrom(const FCObjImage& img);
    bool GetSubBlock(FCObjImage* pDest, int nLeft, int nTop, int nRight, int nBottom) const;
    void Stretch(int nNewWidth, int nNewHeight);
    int Transfer(bool bStore, BYTE* pBuffer) override;

    // Reading and writing files through the current codec factory.
    bool ReadFromFile(const char* szFileName);
    bool WriteToFile(const char* szFileName, int nFlag) const;

    int Width() const { return m_DibInfo.biWidth; }
    int Height() const { return m_DibInfo.biHeight; }
    WORD ColorBits() const { return m_DibInfo.biBitCount; }
    int GetPitch() const { return m_nPitch; }
    BYTE* GetMemStart() const { return m_pByte; }
    const BITMAPINFOHEADER& GetInfoHeader() const { return m_DibInfo; }
    DWORD GetMask(int i) const { return i == 0 ? m_dwRedMask : i == 1 ? m_dwGreenMask : m_dwBlueMask; }
    const RGBQUAD* GetPaletteEntries() const { return m_pPalette; }
    int PaletteSize() const { return m_pPalette ? (1 << m_DibInfo.biBitCount) : 0; }

    // Bytes per row of a DIB of that width and depth; 0 when it does not fit in 32 bits.
    static int CalcPitch(int nWidth, int nBitCount);

private:
    BITMAPINFOHEADER m_DibInfo;
    BYTE* m_pByte = nullptr;
    BYTE** m_ppLine = nullptr;
    DWORD m_dwRedMask = 0, m_dwGreenMask = 0, m_dwBlueMask = 0;
    RGBQUAD* m_pPalette = nullptr;
    DWORD m_dwReserved = 0;
    int m_nPitch = 0;  // derived from the header, kept to avoid recomputing it per row
};
