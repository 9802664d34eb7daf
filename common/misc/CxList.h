// A doubly linked list of untyped element pointers. Nodes carry their position, and a cursor
// (the node last reached and its position) makes ascending walks cost one step per element.
// The list owns its nodes, never the elements. Every lookup, Add and Remove moves the cursor,
// so a list supports one walk at a time.
#pragma once

#include <cstdint>

struct CxListNode {
    void* pData;          // the element, never null
    uint32_t nIndex;      // position, 0 for the head
    CxListNode* pPrev;    // null at the head
    CxListNode* pNext;    // null at the tail
};

class CxList {
public:
    CxList();
    ~CxList();
    CxList(const CxList&) = delete;
    CxList& operator=(const CxList&) = delete;

    // Appends p and makes it the cursor; false for a null pointer.
    bool Add(void* p);
    // Removes the first node (from the head) holding p; the cursor moves to its follower.
    // With bFreeData the element is released as a plain memory block (free()).
    bool Remove(void* p, bool bFreeData);
    void RemoveAll(bool bFreeData);
    uint32_t GetCount() const { return m_nCount; }
    // The element at nIndex, or null when nIndex is not below the count (cursor unchanged).
    // The walk goes from the cursor; with an empty cursor (after the tail was removed) it
    // restarts from the head.
    void* GetAt(uint32_t nIndex);
    void* GetFirst();
    // The element after the cursor, or null at the end (cursor unchanged).
    void* GetNext();

protected:
    CxListNode* FindNode(void* p) const;

    CxListNode* m_pHead;
    CxListNode* m_pTail;
    CxListNode* m_pCurr;
    uint32_t m_nCount;
    uint32_t m_nFindIndex;
};
