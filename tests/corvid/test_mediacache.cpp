// The media cache (keys, tags, clearing, its bound) and the list reading
// of the renderer controller's answers.

#include <gtest/gtest.h>

#include "CvdMediaCache.h"
#include "CvdMediaController.h"

namespace {

CVD_MediaObjectListReference ListOf(int count)
{
    CVD_MediaObjectListReference list(new CVD_MediaObjectList());
    for (int i = 0; i < count; ++i) list->Add(new CVD_MediaItem());
    return list;
}

TEST(CvdMediaCache, PutGetReplaceAndClear)
{
    CVD_MediaCache<CVD_MediaObjectListReference> cache;
    CVD_MediaObjectListReference                 a = ListOf(1), b = ListOf(2), out;
    HLY_String                                   tag("t1"), got;

    EXPECT_EQ(cache.Put("", "0", a), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(cache.Put("u1", "0", a, &tag), HLY_SUCCESS);
    EXPECT_EQ(cache.Put("u1", "12", b), HLY_SUCCESS);
    EXPECT_EQ(cache.Put("u10", "0", b), HLY_SUCCESS);
    EXPECT_EQ(cache.Get("u1", "0", out, &got), HLY_SUCCESS);
    EXPECT_TRUE(out == a);
    EXPECT_EQ(got, "t1");
    // replaced, weight counted once
    EXPECT_EQ(cache.Put("u1", "0", b), HLY_SUCCESS);
    EXPECT_EQ(cache.Get("u1", "0", out), HLY_SUCCESS);
    EXPECT_TRUE(out == b);
    EXPECT_EQ(cache.GetWeight(), 9u);

    EXPECT_EQ(cache.Clear("u1", "12"), HLY_SUCCESS);
    EXPECT_EQ(cache.Clear("u1", "12"), HLY_ERROR_NO_SUCH_ITEM);
    // "u1" clears its own entries, not those of "u10"
    EXPECT_EQ(cache.Clear("u1"), HLY_SUCCESS);
    EXPECT_EQ(cache.Get("u1", "0", out), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(cache.Get("u10", "0", out), HLY_SUCCESS);
    EXPECT_EQ(cache.Clear(""), HLY_SUCCESS);
    EXPECT_EQ(cache.GetEntryCount(), 0u);
    EXPECT_EQ(cache.GetWeight(), 0u);
}

TEST(CvdMediaCache, StaysWithinItsBoundOldestFirst)
{
    struct Case
    {
        HLY_Cardinal max_entries, max_weight;
        int          objects_per_entry, puts;
        HLY_Cardinal kept;
    } cases[] = {
        {3, 1000, 1, 10, 3},    // entry bound
        {100, 10, 4, 10, 2},    // object bound: 5 per entry, 10 at most
        {100, 10, 20, 1, 0},    // a value bigger than the whole cache is not kept
    };
    for (const Case& c : cases) {
        CVD_MediaCache<CVD_MediaObjectListReference> cache(c.max_entries, c.max_weight);
        for (int i = 0; i < c.puts; ++i) cache.Put("u", HLY_String::FromInteger(i), ListOf(c.objects_per_entry));
        EXPECT_EQ(cache.GetEntryCount(), c.kept);
        EXPECT_LE(cache.GetWeight(), c.max_weight);
        CVD_MediaObjectListReference out;
        // the newest survive
        for (int i = 0; i < c.puts; ++i) {
            bool newest = i >= c.puts - (int)c.kept;
            EXPECT_EQ(HLY_SUCCEEDED(cache.Get("u", HLY_String::FromInteger(i), out)), newest) << i;
        }
    }
}

TEST(CvdMediaController, ParsesListValues)
{
    struct Case
    {
        const char*              text;
        std::vector<std::string> expected;
    } cases[] = {
        {"0,1,", {"0", "1"}},
        {"0,,1", {"0", "", "1"}},
        {" Play , Stop", {"Play", "Stop"}},
        {"", {}},
        {"only", {"only"}},
    };
    for (const Case& c : cases) {
        CVD_StringList list;
        CVD_MediaController::ParseStringList(c.text, list);
        std::vector<std::string> got;
        for (CVD_StringList::Iterator it = list.GetFirstItem(); it; ++it) got.push_back((*it).GetChars());
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

} // namespace
