#include "CxList.h"

#include "CxAssert.h"

#include <cstdio>
#include <cstdlib>
#include <new>

void CxAssertFailed(const char* szExpr, const char* szFile, int nLine)
{
    fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", szExpr, szFile, nLine);
    fflush(stderr);
    abort();
}

CxList::CxList() : m_pHead(nullptr), m_pTail(nullptr), m_pCurr(nullptr), m_nCount(0), m_nFindIndex(0) {}

CxList::~CxList() { RemoveAll(false); }

bool CxList::Add(void* p)
{
    if (!p)
        return false;
    CxListNode* pContainer = new (std::nothrow) CxListNode;
    CX_ASSERT(pContainer);
    pContainer->pData = p;
    pContainer->nIndex = m_nCount;
    pContainer->pNext = nullptr;
    pContainer->pPrev = m_pTail;
    if (m_pTail) {
        m_pTail->pNext = pContainer;
        m_pTail = pContainer;
    } else {
        m_pHead = m_pTail = pContainer;
    }
    m_pCurr = pContainer;
    m_nFindIndex = pContainer->nIndex;
    ++m_nCount;
    return true;
}

CxListNode* CxList::FindNode(void* p) const
{
    for (CxListNode* node = m_pHead; node; node = node->pNext)
        if (node->pData == p)
            return node;
    return nullptr;
}

bool CxList::Remove(void* p, bool bFreeData)
{
    CxListNode* node = FindNode(p);
    if (!node)
        return false;
    if (node->pPrev)
        node->pPrev->pNext = node->pNext;
    else
        m_pHead = node->pNext;
    if (node->pNext)
        node->pNext->pPrev = node->pPrev;
    else
        m_pTail = node->pPrev;
    for (CxListNode* after = node->pNext; after; after = after->pNext)
        --after->nIndex;
    m_pCurr = node->pNext;
    m_nFindIndex = node->nIndex;
    if (bFreeData)
        free(p);
    --m_nCount;
    delete node;
    return true;
}

void CxList::RemoveAll(bool bFreeData)
{
    CxListNode* node = m_pHead;
    while (node) {
        CxListNode* next = node->pNext;
        if (bFreeData && node->pData)
            free(node->pData);
        delete node;
        node = next;
    }
    m_pHead = m_pTail = m_pCurr = nullptr;
    m_nCount = 0;
    m_nFindIndex = 0;
}

void* CxList::GetAt(uint32_t nIndex)
{
    if (nIndex >= m_nCount)
        return nullptr;
    if (!m_pCurr) {
        // The cursor was left empty by removing the tail: walk from the head instead.
        m_pCurr = m_pHead;
        m_nFindIndex = 0;
    }
    CX_ASSERT(m_pCurr->nIndex==m_nFindIndex);
    const bool bForward = nIndex > m_nFindIndex;
    while (m_pCurr) {
        if (m_pCurr->nIndex == nIndex) {
            m_nFindIndex = nIndex;
            return m_pCurr->pData;
        }
        m_pCurr = bForward ? m_pCurr->pNext : m_pCurr->pPrev;
    }
    return nullptr;
}

void* CxList::GetFirst()
{
    m_nFindIndex = 0;
    m_pCurr = m_pHead;
    return m_pHead ? m_pHead->pData : nullptr;
}

void* CxList::GetNext()
{
    if (m_nFindIndex + 1 < m_nCount)
        return GetAt(m_nFindIndex + 1);
    return nullptr;
}
