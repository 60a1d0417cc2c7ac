#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "hlyarray.h"
#include "hlylist.h"
#include "hlymap.h"
#include "hlystrings.h"
#include "hlythreads.h"

template <typename C> static std::vector<int> Values(const C& list)
{
    std::vector<int> out;
    list.Apply([&out](int v) { out.push_back(v); return HLY_SUCCESS; });
    return out;
}

TEST(List, AddRemovePopAndOrder)
{
    HLY_List<int> list;
    int           head;
    EXPECT_EQ(list.PopHead(head), HLY_ERROR_LIST_EMPTY);
    for (int v : {1, 2, 3, 2, 4, 2}) list.Add(v);
    EXPECT_EQ(list.GetItemCount(), 6u);
    EXPECT_EQ(list.Remove(2), HLY_SUCCESS); // first only
    EXPECT_EQ(Values(list), (std::vector<int>{1, 3, 2, 4, 2}));
    EXPECT_EQ(list.Remove(2, true), HLY_SUCCESS); // all
    EXPECT_EQ(Values(list), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(list.Remove(2), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(list.PopHead(head), HLY_SUCCESS);
    EXPECT_EQ(head, 1);
    EXPECT_EQ(list.GetItemCount(), 2u);
    // removing the tail keeps the links usable for later appends
    list.Remove(4);
    list.Add(5);
    EXPECT_EQ(Values(list), (std::vector<int>{3, 5}));
    EXPECT_EQ(*list.GetLastItem(), 5);
    list.Insert(list.GetFirstItem(), 0);
    list.Insert(HLY_List<int>::Iterator(), 9);
    EXPECT_EQ(Values(list), (std::vector<int>{0, 3, 5, 9}));
    list.Erase(list.GetItem(1));
    EXPECT_EQ(Values(list), (std::vector<int>{0, 5, 9}));
    list.Clear();
    EXPECT_EQ(list.GetItemCount(), 0u);
    EXPECT_FALSE(list.GetFirstItem());
    EXPECT_FALSE(list.GetLastItem());
}

TEST(List, RemoveEverythingFromEitherEnd)
{
    HLY_List<int> list;
    for (int i = 0; i < 100; i++) list.Add(i % 3);
    EXPECT_EQ(list.Remove(0, true), HLY_SUCCESS);
    EXPECT_EQ(list.Remove(1, true), HLY_SUCCESS);
    EXPECT_EQ(list.Remove(2, true), HLY_SUCCESS);
    EXPECT_EQ(list.GetItemCount(), 0u);
    EXPECT_FALSE(list.GetFirstItem());
    list.Add(7);
    EXPECT_EQ(*list.GetFirstItem(), 7);
    EXPECT_EQ(*list.GetLastItem(), 7);
}

TEST(List, CopiesAreIndependent)
{
    HLY_List<HLY_String> a;
    a.Add("x");
    a.Add("y");
    HLY_List<HLY_String> b(a);
    b.Add("z");
    (*b.GetFirstItem()) = "changed";
    EXPECT_EQ(a.GetItemCount(), 2u);
    EXPECT_EQ(*a.GetFirstItem(), "x");
    b = a;
    EXPECT_TRUE(a == b);
    b = b;
    EXPECT_EQ(b.GetItemCount(), 2u);
}

TEST(List, ApplyUntilAndPredicates)
{
    HLY_List<int> list;
    for (int v : {10, 20, 30, 40}) list.Add(v);
    int  calls = 0;
    auto probe = [&calls](int v) -> HLY_Result {
        ++calls;
        return v == 30 ? HLY_ERROR_TIMEOUT : HLY_SUCCESS;
    };
    bool match = true;
    HLY_Result result = list.ApplyUntil(probe, HLY_UntilResultNotEquals(HLY_SUCCESS), &match);
    EXPECT_EQ(result, HLY_ERROR_TIMEOUT);
    EXPECT_TRUE(match);
    EXPECT_EQ(calls, 3); // stops at the first element that satisfies the predicate

    calls  = 0;
    result = list.ApplyUntil(probe, HLY_UntilResultEquals(HLY_ERROR_TIMEOUT, 123), &match);
    EXPECT_EQ(result, 123);
    EXPECT_TRUE(match);

    calls  = 0;
    result = list.ApplyUntil(probe, HLY_UntilResultEquals(HLY_ERROR_EOS), &match);
    EXPECT_EQ(result, HLY_SUCCESS);
    EXPECT_FALSE(match);
    EXPECT_EQ(calls, 4);
}

TEST(List, FindInListOrder)
{
    HLY_List<HLY_String> names;
    names.Add("urn:a");
    names.Add("UUID:1234");
    names.Add("uuid:1234");
    HLY_String found;
    EXPECT_EQ(names.Find(HLY_StringFinder("uuid:1234", true), found), HLY_SUCCESS);
    EXPECT_EQ(found, "UUID:1234");
    EXPECT_EQ(names.Find(HLY_StringFinder("uuid:1234"), found), HLY_SUCCESS);
    EXPECT_EQ(found, "uuid:1234");
    EXPECT_EQ(names.Find(HLY_StringFinder("uuid:1234", true), found, 1), HLY_SUCCESS);
    EXPECT_EQ(found, "uuid:1234");
    found = "untouched";
    EXPECT_EQ(names.Find(HLY_StringFinder("nope"), found), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(found, "untouched");
}

struct Tracked {
    explicit Tracked(int* deaths) : m_Deaths(deaths) {}
    ~Tracked() { ++*m_Deaths; }
    int* m_Deaths;
};

TEST(List, PointersAreNotDeletedByTheList)
{
    int deaths = 0;
    {
        HLY_List<Tracked*> list;
        list.Add(new Tracked(&deaths));
        list.Add(new Tracked(&deaths));
        Tracked* t = nullptr;
        list.PopHead(t);
        delete t;
        EXPECT_EQ(deaths, 1);
        list.Apply(HLY_ObjectDeleter());
    }
    EXPECT_EQ(deaths, 2);
}

TEST(Array, GrowInsertEraseFind)
{
    HLY_Array<HLY_String> array;
    for (int i = 0; i < 100; i++) array.Add(HLY_String::FromInteger(i));
    EXPECT_EQ(array.GetItemCount(), 100u);
    EXPECT_GE(array.GetCapacity(), 100u);
    EXPECT_EQ(array[57], "57");
    array.Add(array[0]); // an element of itself, across a reallocation
    EXPECT_EQ(array[100], "0");
    array.Insert(0, "first");
    EXPECT_EQ(array[0], "first");
    EXPECT_EQ(array[1], "0");
    EXPECT_EQ(array.Insert(500, "x"), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(array.Erase(0), HLY_SUCCESS);
    EXPECT_EQ(array.Erase(1000), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(array.Remove("0", true), HLY_SUCCESS);
    EXPECT_EQ(array.GetItemCount(), 99u);
    EXPECT_EQ(array[0], "1");
    HLY_String found;
    EXPECT_EQ(array.Find(HLY_StringFinder("42"), found), HLY_SUCCESS);
    EXPECT_EQ(array.Find(HLY_StringFinder("0"), found), HLY_ERROR_NO_SUCH_ITEM);
    HLY_Array<HLY_String> copy(array);
    copy[0] = "changed";
    EXPECT_EQ(array[0], "1");
    array.Resize(3);
    EXPECT_EQ(array.GetItemCount(), 3u);
    array.Resize(5, "pad");
    EXPECT_EQ(array[4], "pad");
}

TEST(Map, PutGetErase)
{
    HLY_Map<HLY_String, int> map;
    EXPECT_EQ(map.Put("a", 1), HLY_SUCCESS);
    EXPECT_EQ(map.Put("b", 2), HLY_SUCCESS);
    EXPECT_EQ(map.Put("a", 3), HLY_SUCCESS); // one entry per key
    EXPECT_EQ(map.GetEntryCount(), 2u);
    int* value = nullptr;
    EXPECT_EQ(map.Get("a", value), HLY_SUCCESS);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, 3);
    EXPECT_EQ(map.Get("c", value), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(map.Erase("a"), HLY_SUCCESS);
    EXPECT_EQ(map.Erase("a"), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_FALSE(map.HasKey("a"));
    HLY_Map<HLY_String, int> copy(map);
    map.Put("b", 9);
    EXPECT_EQ(copy.Get("b", value), HLY_SUCCESS);
    EXPECT_EQ(*value, 2);
}

TEST(Lock, ContainerCarriesItsMutex)
{
    HLY_Lock<HLY_List<int>> devices;
    {
        HLY_AutoLock lock(devices);
        HLY_AutoLock again(devices); // recursive
        devices.Add(1);
    }
    EXPECT_EQ(devices.GetItemCount(), 1u);
}

TEST(List, RemovingEveryCopyOfOneOfItsOwnElements)
{
    // the value to remove lives in the first item that goes
    HLY_List<HLY_String> list;
    for (const char* v : {"a", "b", "a", "c", "a"}) list.Add(v);
    EXPECT_EQ(list.Remove(*list.GetFirstItem(), true), HLY_SUCCESS);
    EXPECT_EQ(list.GetItemCount(), 2u);
    EXPECT_EQ(*list.GetFirstItem(), "b");
    EXPECT_EQ(*list.GetLastItem(), "c");

    HLY_Array<HLY_String> array;
    for (const char* v : {"a", "b", "a", "c", "a"}) array.Add(v);
    EXPECT_EQ(array.Remove(array[0], true), HLY_SUCCESS);
    ASSERT_EQ(array.GetItemCount(), 2u) << "the value shifted under the comparison";
    EXPECT_EQ(array[0], "b");
    EXPECT_EQ(array[1], "c");
}
