// The list of relocatable blocks the host session keeps its drivers in.
#include "handle_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TestNode {
    HandleListLinks links;
    int value;
};

Handle node(int value)
{
    Handle h = NewHandleClear(sizeof(TestNode));
    HandleData<TestNode>(h)->value = value;
    return h;
}

int valueOf(Handle h)
{
    return h != nullptr ? HandleData<TestNode>(h)->value : -1;
}

std::vector<int> forward(Handle list)
{
    std::vector<int> out;
    for (Handle h = HListHead(list); h != nullptr; h = HandleData<TestNode>(h)->links.next) out.push_back(valueOf(h));
    return out;
}

class HandleListTest : public ::testing::Test {
protected:
    void SetUp() override { list = HListNew(); }
    void TearDown() override { HListDispose(list, nullptr, nullptr); }

    // A list 1, 2, ..., n, each appended after the tail.
    std::vector<Handle> fill(int n)
    {
        std::vector<Handle> nodes;
        for (int i = 1; i <= n; i++) {
            nodes.push_back(node(i));
            EXPECT_EQ(HListInsertAfter(list, nodes.back(), HListTail(list)), 1);
        }
        return nodes;
    }

    Handle list = nullptr;
};

TEST_F(HandleListTest, InsertBeforeAndAfterMakesTheNodeCurrent)
{
    Handle two = node(2);
    ASSERT_EQ(HListInsertAfter(list, two, nullptr), 1); // into the empty list
    EXPECT_EQ(HListHead(list), two);
    Handle one = node(1);
    ASSERT_EQ(HListInsertBefore(list, one, two), 1);
    EXPECT_EQ(HListHead(list), one); // no predecessor: the new head
    EXPECT_TRUE(HListIsCurrent(list, one));
    Handle three = node(3);
    ASSERT_EQ(HListInsertAfter(list, three, two), 1);
    EXPECT_TRUE(HListIsCurrent(list, three));
    EXPECT_EQ(forward(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(HListCount(list), 3);
    EXPECT_TRUE(HListIsFirst(list, one));
    EXPECT_TRUE(HListIsLast(list, three));
    EXPECT_FALSE(HListIsLast(list, two));
    // A node that is already in a list is not inserted again.
    EXPECT_EQ(HListInsertAfter(list, two, three), 0);
    EXPECT_EQ(HListCount(list), 3);
}

TEST_F(HandleListTest, RemovingTheCurrentNodeMovesTheCursor)
{
    std::vector<Handle> nodes = fill(3);
    HListSetCurrent(list, nodes[1]);
    ASSERT_EQ(HListRemove(list, nodes[1]), 1);
    EXPECT_EQ(valueOf(HListCurrent(list)), 3); // to its successor
    ASSERT_EQ(HListRemove(list, nodes[2]), 1);
    EXPECT_EQ(valueOf(HListCurrent(list)), 1); // the last one: to its predecessor
    EXPECT_EQ(forward(list), (std::vector<int>{1}));
    EXPECT_EQ(HListRemove(list, nodes[1]), 0); // no longer a node of the list
    DisposeHandle(nodes[1]);
    DisposeHandle(nodes[2]);
}

TEST_F(HandleListTest, StepAndMoveByN)
{
    std::vector<Handle> nodes = fill(5);
    EXPECT_EQ(valueOf(HListStep(list, nodes[0], 2)), 3);
    EXPECT_EQ(valueOf(HListStep(list, nodes[3], -10)), 1); // stops at the head
    EXPECT_EQ(valueOf(HListStep(list, nodes[3], 10)), 5);  // and at the tail
    HListSetCurrent(list, nodes[2]);
    ASSERT_EQ(HListMove(list, nodes[0], 2), 1);
    EXPECT_EQ(forward(list), (std::vector<int>{2, 3, 1, 4, 5}));
    ASSERT_EQ(HListMove(list, nodes[4], -3), 1);
    EXPECT_EQ(forward(list), (std::vector<int>{2, 5, 3, 1, 4}));
    EXPECT_TRUE(HListIsCurrent(list, nodes[2])); // the cursor stays
    EXPECT_EQ(valueOf(HListTail(list)), 4);
}

TEST_F(HandleListTest, SearchAnswersFoundEndOrInvalid)
{
    fill(4);
    auto equals = [](Handle h, void* wanted) { return int(valueOf(h) == *static_cast<int*>(wanted)); };
    auto atMost = [](Handle h, void* limit) { return int(valueOf(h) <= *static_cast<int*>(limit)); };
    int three = 3;
    Handle found = nullptr;
    EXPECT_EQ(HListSearch(list, nullptr, equals, &three, &found), 0);
    EXPECT_EQ(valueOf(found), 3);
    EXPECT_EQ(HListSearch(list, HListStep(list, found, 1), equals, &three, &found), 1);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(HListSearchBackward(list, atMost, &three, &found), 0);
    EXPECT_EQ(valueOf(found), 3); // the first from the tail
    int none = 0;
    EXPECT_EQ(HListSearchBackward(list, atMost, &none, &found), 1);
    EXPECT_EQ(HListSearch(list, nullptr, nullptr, nullptr, &found), -1);
    Handle notAList = node(0);
    EXPECT_EQ(HListSearch(notAList, nullptr, equals, &three, &found), -1);
    DisposeHandle(notAList);
}

TEST_F(HandleListTest, BubbleSortSwapsPairsComparedNegative)
{
    for (int v : {4, 1, 3, 5, 2}) HListInsertAfter(list, node(v), HListTail(list));
    Handle cursor = HListCurrent(list);
    // Negative when the pair is out of ascending order.
    auto ascending = [](Handle first, Handle second, void*) { return valueOf(second) - valueOf(first); };
    ASSERT_EQ(HListSort(list, ascending, nullptr), 1);
    EXPECT_EQ(forward(list), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(HListCurrent(list), cursor);
    EXPECT_EQ(HListCount(list), 5);
}

TEST(HandleList, DisposeCallsTheDisposerOnEachNodeFromTheHead)
{
    Handle list = HListNew();
    for (int v : {7, 8, 9}) HListInsertAfter(list, node(v), HListTail(list));
    std::vector<int> seen;
    auto record = [](Handle h, void* out) { static_cast<std::vector<int>*>(out)->push_back(valueOf(h)); };
    EXPECT_EQ(HListDispose(list, record, &seen), 1);
    EXPECT_EQ(seen, (std::vector<int>{7, 8, 9}));
}

TEST(HandleList, ForeignListsAndNodesAreRefused)
{
    Handle list = HListNew();
    Handle other = HListNew();
    Handle mine = node(1);
    Handle theirs = node(2);
    HListInsertAfter(list, mine, nullptr);
    HListInsertAfter(other, theirs, nullptr);
    EXPECT_FALSE(HListIsNode(list, theirs));
    EXPECT_EQ(HListRemove(list, theirs), 0);
    EXPECT_EQ(HListStep(list, theirs, 1), nullptr);
    EXPECT_EQ(HListSetCurrent(list, theirs), nullptr);
    Handle extra = node(3);
    EXPECT_EQ(HListInsertAfter(list, extra, theirs), 0); // a reference of another list
    DisposeHandle(extra);
    // A block whose self is not itself is no list, and a block too small for a header neither.
    Handle copy = NewHandleClear(sizeof(HandleListHeader));
    *HandleData<HandleListHeader>(copy) = *HandleData<HandleListHeader>(list);
    EXPECT_EQ(HListCount(copy), -1);
    EXPECT_EQ(HListHead(copy), nullptr);
    EXPECT_EQ(HListDispose(copy, nullptr, nullptr), 0);
    Handle tiny = NewHandleClear(4);
    EXPECT_EQ(HListCount(tiny), -1);
    EXPECT_EQ(HListCount(nullptr), -1);
    DisposeHandle(copy);
    DisposeHandle(tiny);
    HListDispose(list, nullptr, nullptr);
    HListDispose(other, nullptr, nullptr);
}

} // namespace
