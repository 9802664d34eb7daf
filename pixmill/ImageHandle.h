// Codecs and the factories that choose them by a path's extension. A codec lives for one
// read or one write: it owns the images it decodes and only borrows the image it writes.
#pragma once

#include <deque>
#include <vector>

#include "ObjImage.h"

// A 32-bit integer: values outside the table are valid and name no type.
enum FCImageType : int32_t {
    IMG_UNKNOWN = 0,
    IMG_BMP = 1,
    IMG_PCX = 2,
    IMG_JPG = 3,
    IMG_GIF = 4,
    IMG_TGA = 5,
    IMG_TIF = 6,
    IMG_PNG = 7,
    IMG_PSD = 8,
    IMG_ICO = 9,
    IMG_XPM = 10,
    IMG_VXL = 11,
};

class FCImageHandleBase {
public:
    // Default: read the whole file, then DecodeMemory.
    virtual bool DecodeFile(const char* szFileName);
    virtual bool DecodeMemory(const BYTE* pData, int nSize) { return false; }
    virtual bool EncodeFile(const char* szFileName, int nFlag) { return false; }
    // true hands the decoded images over (the caller deletes them); false lends them.
    virtual std::vector<FCObjImage*> GetImages(bool bTakeOwnership) = 0;
    virtual ~FCImageHandleBase() {}

    // Images to write, not owned; EncodeFile writes the first one.
    std::deque<const FCObjImage*> m_SaveImageList;
};

template <class T>
class PCL_Interface_Composite {
public:
    virtual ~PCL_Interface_Composite() { DestroyAll(); }
    void Adopt(T* pObj)
    {
        if (pObj)
            m_Objects.push_back(pObj);
    }
    // Deletes every owned object, last first.
    void DestroyAll()
    {
        while (!m_Objects.empty()) {
            delete m_Objects.back();
            m_Objects.pop_back();
        }
    }
    int ObjectCount() const { return (int)m_Objects.size(); }

protected:
    std::vector<T*> m_Objects;
};

class FCImageHandle : public FCImageHandleBase, public PCL_Interface_Composite<FCObjImage> {
public:
    std::vector<FCObjImage*> GetImages(bool bTakeOwnership) override;
};

class FCImageHandleFactory {
public:
    virtual FCImageType TypeFromPath(const char* szFileName) const;
    // A new codec for the type, or null when this factory has none.
    virtual FCImageHandleBase* CreateCodec(FCImageType type) const = 0;
    virtual ~FCImageHandleFactory() {}
};

class FCImageHandleFactory_Gdiplus : public FCImageHandleFactory {
public:
    FCImageHandleBase* CreateCodec(FCImageType type) const override;
};

class FCImageHandleFactory_IPicture : public FCImageHandleFactory {
public:
    FCImageHandleBase* CreateCodec(FCImageType type) const override;
};

// The library-wide factory: made on first use (the OLE picture one), replaced when the
// library is attached, destroyed when it is unloaded.
FCImageHandleFactory& CurrentFactory();
// Makes the factory current and takes ownership; null changes nothing.
void InstallFactory(FCImageHandleFactory* pFactory);
