#include "common/misc/CxList.h"

#include <gtest/gtest.h>

namespace {

// Opens the fields up for the checks on the cursor.
class ListProbe : public CxList {
public:
    CxListNode* Curr() const { return m_pCurr; }
    uint32_t FindIndex() const { return m_nFindIndex; }
    bool AllZero() const { return !m_pHead && !m_pTail && !m_pCurr && !m_nCount && !m_nFindIndex; }
    void BreakCursor() { m_nFindIndex = 99; }
    // Head to tail: the elements, and checks that positions and back links agree.
    std::string Walk() const
    {
        std::string s;
        uint32_t i = 0;
        for (CxListNode* n = m_pHead; n; n = n->pNext, ++i) {
            EXPECT_EQ(i, n->nIndex);
            EXPECT_EQ(n->pNext ? n : m_pTail, n->pNext ? n->pNext->pPrev : n);
            s += *static_cast<char*>(n->pData);
        }
        EXPECT_EQ(m_nCount, i);
        return s;
    }
};

char A = 'A', B = 'B', C = 'C', D = 'D';

std::string Elem(void* p) { return p ? std::string(1, *static_cast<char*>(p)) : "null"; }

TEST(CxList, EmptyListAndNullElements)
{
    ListProbe list;
    EXPECT_TRUE(list.AllZero());
    EXPECT_EQ(nullptr, list.GetFirst());
    EXPECT_EQ(nullptr, list.GetNext());
    EXPECT_EQ(nullptr, list.GetAt(0));
    EXPECT_FALSE(list.Add(nullptr));
    EXPECT_EQ(0u, list.GetCount());
}

TEST(CxList, WalksFromTheCursorInBothDirections)
{
    ListProbe list;
    list.Add(&A), list.Add(&B), list.Add(&C);
    EXPECT_EQ("C", Elem(list.GetAt(2)));
    EXPECT_EQ("A", Elem(list.GetAt(0)));  // backwards from C
    EXPECT_EQ("B", Elem(list.GetNext()));
    EXPECT_EQ(nullptr, list.GetAt(3));
    EXPECT_EQ(1u, list.FindIndex());  // an index past the end leaves the cursor alone
    list.Add(&D);
    EXPECT_EQ(nullptr, list.GetNext());  // Add makes the new element the cursor
    std::string seen;
    for (void* p = list.GetFirst(); p; p = list.GetNext())
        seen += Elem(p);
    EXPECT_EQ("ABCD", seen);
}

TEST(CxList, RemoveRenumbersAndMovesTheCursorToTheFollower)
{
    ListProbe list;
    list.Add(&A), list.Add(&B), list.Add(&C);
    EXPECT_TRUE(list.Remove(&B, false));
    EXPECT_EQ("AC", list.Walk());
    EXPECT_EQ(1u, list.FindIndex());
    EXPECT_EQ(&C, list.Curr()->pData);
    EXPECT_EQ(nullptr, list.GetNext());
    EXPECT_EQ("C", Elem(list.GetAt(1)));

    // Removing a pointer that is not there changes nothing, not even the cursor.
    list.GetFirst();
    EXPECT_FALSE(list.Remove(&D, false));
    EXPECT_EQ(0u, list.FindIndex());
    EXPECT_EQ("AC", list.Walk());
}

TEST(CxList, EmptyCursorAfterRemovingTheTailRestartsFromTheHead)
{
    ListProbe list;
    list.Add(&A), list.Add(&B), list.Add(&C);
    EXPECT_TRUE(list.Remove(&C, false));
    EXPECT_EQ(nullptr, list.Curr());
    EXPECT_EQ(nullptr, list.GetNext());
    EXPECT_EQ("B", Elem(list.GetAt(1)));
    list.Remove(&B, false);
    EXPECT_EQ("A", Elem(list.GetAt(0)));
}

TEST(CxList, DuplicatesAreRemovedOneNodeAtATimeFromTheHead)
{
    ListProbe list;
    list.Add(&A), list.Add(&B), list.Add(&A);
    EXPECT_TRUE(list.Remove(&A, false));
    EXPECT_EQ("BA", list.Walk());
    EXPECT_TRUE(list.Remove(&A, false));
    EXPECT_EQ("B", list.Walk());
    EXPECT_FALSE(list.Remove(&A, false));
    list.Remove(&B, false);
    EXPECT_TRUE(list.Add(&D));
    EXPECT_EQ(0u, list.Curr()->nIndex);
    list.RemoveAll(false);
    EXPECT_TRUE(list.AllZero());
}

TEST(CxList, FreeFlagReleasesElements)
{
    CxList list;
    void* p = malloc(16);
    void* q = malloc(16);
    list.Add(p), list.Add(q);
    EXPECT_TRUE(list.Remove(p, true));  // the sanitizer build reports a leak or double free
    list.RemoveAll(true);
    EXPECT_EQ(0u, list.GetCount());
}

TEST(CxListDeathTest, BrokenCursorStopsWithTheCheckedExpression)
{
    auto lookupWithBrokenCursor = [] {
        ListProbe list;
        list.Add(&A);
        list.Add(&B);
        list.BreakCursor();
        list.GetAt(0);
    };
    EXPECT_DEATH(lookupWithBrokenCursor(), "m_pCurr->nIndex==m_nFindIndex");
}

}  // namespace
