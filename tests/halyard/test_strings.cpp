#include <gtest/gtest.h>
#include <climits>
#include <string>

#include "hlystrings.h"

// what a parse gives: the value, or "#<result>:<value it left>"
template <typename T>
std::string Parsed(HLY_Result (*parse)(const char*, T&, bool, HLY_Cardinal*), const char* text, bool relaxed)
{
    T          value  = (T)99;
    HLY_Result result = parse(text, value, relaxed, nullptr);
    return HLY_FAILED(result) ? "#" + std::to_string(result) + ":" + std::to_string(value) : std::to_string(value);
}
std::string Fail(HLY_Result result, const char* left) { return "#" + std::to_string(result) + ":" + left; }

static std::vector<std::string> Pieces(const HLY_List<HLY_String>& list)
{
    std::vector<std::string> out;
    for (auto it = list.GetFirstItem(); it; ++it) out.push_back(it->GetChars());
    return out;
}

TEST(String, ConstructionForms)
{
    EXPECT_STREQ(HLY_String().GetChars(), "");
    EXPECT_NE(HLY_String().GetChars(), nullptr);
    EXPECT_TRUE(HLY_String((const char*)nullptr).IsEmpty());
    EXPECT_EQ(HLY_String("hello", 3), "hel");
    EXPECT_EQ(HLY_String("he\0llo", 6).GetLength(), 2u); // stops at an inner NUL
    EXPECT_TRUE(HLY_String("\0abc", 4).IsEmpty());
    EXPECT_EQ(HLY_String('x', 4), "xxxx");
    EXPECT_TRUE(HLY_String('x', 0).IsEmpty());
    // UTF-8 passes through untouched
    EXPECT_EQ(HLY_String("Gr\xc3\xbc\xc3\x9f").GetLength(), 6u);
}

TEST(String, CopiesAreDeepAndExactlySized)
{
    HLY_String a("abc");
    a.Reserve(100);
    HLY_String b(a);
    EXPECT_EQ(b.GetCapacity(), 3u);
    b.SetChar(0, 'X');
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(b, "Xbc");
    HLY_String c;
    c = a;
    EXPECT_EQ(c.GetCapacity(), 3u);
    EXPECT_NE(c.GetChars(), a.GetChars());
    const char* before = a.GetChars();
    a = a; // self assignment does nothing
    EXPECT_EQ(a.GetChars(), before);
    EXPECT_EQ(a, "abc");
}

TEST(String, GrowthFollowsTheRules)
{
    HLY_String s;
    s.Reserve(10);
    EXPECT_EQ(s.GetCapacity(), 10u);
    s = "12345";
    s.Reserve(12); // doubles when that is more than asked
    EXPECT_EQ(s.GetCapacity(), 20u);
    EXPECT_EQ(s, "12345");
    s.Reserve(50);
    EXPECT_EQ(s.GetCapacity(), 50u);
    const char* block = s.GetChars();
    s.Assign("abc", 3); // fits: the block is reused
    EXPECT_EQ(s.GetChars(), block);
    s.Assign("", 0);
    EXPECT_EQ(s.GetCapacity(), 0u);

    HLY_String p("ab");
    p.SetLength(5, true);
    EXPECT_EQ(p, "ab   ");
    p.SetLength(1);
    EXPECT_EQ(p, "a");
    p.SetLength(0);
    EXPECT_TRUE(p.IsEmpty());

    HLY_String q("x");
    q.Append(nullptr, 3);
    q.Append("yz", 0);
    q += "yz";
    q += 'w';
    EXPECT_EQ(q, "xyzw");
    q.Append(q.GetChars() + 1, 2); // part of itself, across a reallocation
    EXPECT_EQ(q, "xyzwyz");
}

TEST(String, Concatenation)
{
    HLY_String s("ab");
    EXPECT_EQ(s + "cd", "abcd");
    EXPECT_EQ("cd" + s, "cdab");
    EXPECT_EQ(s + (const char*)nullptr, "ab");
    EXPECT_EQ((const char*)nullptr + s, "ab");
    EXPECT_EQ(s + HLY_String("!"), "ab!");
}

TEST(String, CaseFoldingIsAsciiOnly)
{
    HLY_String s("MiXeD 123 \xc3\x84");
    EXPECT_EQ(s.ToLowercase(), "mixed 123 \xc3\x84");
    EXPECT_EQ(s.ToUppercase(), "MIXED 123 \xc3\x84");
    EXPECT_EQ(s, "MiXeD 123 \xc3\x84"); // copies leave the original
    s.MakeUppercase();
    EXPECT_EQ(s, "MIXED 123 \xc3\x84");
    // the characters next to the letter ranges do not fold
    EXPECT_EQ(HLY_String("@[`{").ToLowercase(), "@[`{");
    EXPECT_EQ(HLY_String("@[`{").ToUppercase(), "@[`{");
}

TEST(String, Comparison)
{
    EXPECT_EQ(HLY_String::Compare("abc", "abc"), 0);
    EXPECT_LT(HLY_String::Compare("abc", "abd"), 0);
    EXPECT_GT(HLY_String::Compare("abcd", "abc"), 0);
    EXPECT_EQ(HLY_String::Compare("uuid:ABC", "UUID:abc", true), 0);
    EXPECT_NE(HLY_String::Compare("uuid:ABC", "UUID:abc", false), 0);
    // bytes compare as signed chars: a high byte sorts before ASCII
    EXPECT_LT(HLY_String::Compare("\xc3", "a"), 0);
    // returns the difference of the first differing pair
    EXPECT_EQ(HLY_String::Compare("a", "c"), 'a' - 'c');
    EXPECT_EQ(HLY_String::Compare("a", "C", true), 'A' - 'C');
    // ignoring case must not equate '[' with '{' or '@' with '`'
    EXPECT_NE(HLY_String::Compare("[", "{", true), 0);
    EXPECT_NE(HLY_String::Compare("@", "`", true), 0);
    EXPECT_EQ(HLY_String::CompareN("Content-Length: 5", "content-length", 14, true), 0);
    EXPECT_NE(HLY_String::CompareN("Content-Length: 5", "content-length", 14, false), 0);
    EXPECT_EQ(HLY_String::CompareN("ab", "ab", 10), 0);

    HLY_String s("Hello World");
    EXPECT_TRUE(s.StartsWith("hello", true));
    EXPECT_FALSE(s.StartsWith("hello"));
    EXPECT_TRUE(s.EndsWith("WORLD", true));
    EXPECT_FALSE(s.EndsWith("a longer text than the string"));
    EXPECT_FALSE(s.StartsWith(nullptr));
    EXPECT_FALSE(s.EndsWith(nullptr));
    EXPECT_TRUE(s.StartsWith(""));
    EXPECT_TRUE(HLY_String("x") != HLY_String("X"));
}

TEST(String, IgnoringCaseAtTheEndsOfTheAlphabet)
{
    // the first and last letters fold; the characters just outside them
    // ('@' '[' before and after A-Z, '`' '{' around a-z) do not
    struct Case {
        char a, b;
        bool same;
    } cases[] = {
        {'a', 'A', true},  {'z', 'Z', true},  {'A', 'a', true},  {'Z', 'z', true},
        {'@', '`', false}, {'[', '{', false}, {'`', '@', false}, {'{', '[', false},
    };
    for (const Case& c : cases) {
        const char a[] = {c.a, 0}, b[] = {c.b, 0};
        SCOPED_TRACE(std::string(a) + " " + b);
        EXPECT_EQ(HLY_String::Compare(a, b, true) == 0, c.same);
        EXPECT_EQ(HLY_String::CompareN(a, b, 1, true) == 0, c.same);
        EXPECT_EQ(HLY_String(a).Equals(b, true), c.same);
        HLY_String text = HLY_String("x") + a + "x";
        int        at   = c.same ? 1 : -1;
        EXPECT_EQ(text.Find(b, 0, true), at);
        EXPECT_EQ(text.Find(c.b, 0, true), at);
        EXPECT_EQ(text.ReverseFind(b, 0, true), at);
        EXPECT_EQ(text.ReverseFind(c.b, 0, true), at);
    }
    EXPECT_EQ(HLY_String("AZ@[az`{").ToLowercase(), "az@[az`{");
    EXPECT_EQ(HLY_String("AZ@[az`{").ToUppercase(), "AZ@[AZ`{");
}

TEST(String, Searching)
{
    HLY_String s("abcabc");
    EXPECT_EQ(s.Find("bc"), 1);
    EXPECT_EQ(s.Find("bc", 2), 4);
    EXPECT_EQ(s.Find("BC", 0, true), 1);
    EXPECT_EQ(s.Find("BC"), -1);
    EXPECT_EQ(s.Find((const char*)nullptr), -1);
    EXPECT_EQ(s.Find("a", 6), -1);
    EXPECT_EQ(s.Find("", 3), 3); // the empty string matches at a start inside the string
    EXPECT_EQ(s.Find("", 6), -1);
    EXPECT_EQ(s.Find('c'), 2);
    EXPECT_EQ(s.Find('C', 3, true), 5);
    EXPECT_EQ(s.ReverseFind("abc"), 3);
    EXPECT_EQ(s.ReverseFind("abc", 1), 0); // must end no later than length - 1
    EXPECT_EQ(s.ReverseFind(""), -1);
    EXPECT_EQ(s.ReverseFind('a'), 3);
    EXPECT_EQ(s.ReverseFind('a', 3), 0);
    EXPECT_EQ(s.ReverseFind('A', 0, true), 3);
    EXPECT_EQ(s.ReverseFind('z'), -1);
    EXPECT_EQ(HLY_String().Find("a"), -1);
}

TEST(String, SubStringClamps)
{
    HLY_String s("abcd");
    EXPECT_TRUE(s.SubString(10, 5).IsEmpty());
    EXPECT_TRUE(s.SubString(4, 1).IsEmpty());
    EXPECT_EQ(s.SubString(1, 100), "bcd");
    EXPECT_EQ(s.SubString(1, 2), "bc");
    EXPECT_EQ(s.Left(2), "ab");
    EXPECT_EQ(s.Right(3), "bcd");
    EXPECT_EQ(s.Right(30), "abcd");
}

TEST(String, SplitKeepsEmptyPiecesAndJoinRestores)
{
    auto pieces = HLY_String("a,,b,").Split(",");
    EXPECT_EQ(Pieces(pieces), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(HLY_String::Join(pieces, ","), "a,,b,");
    EXPECT_EQ(Pieces(HLY_String(",a").Split(",")), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(Pieces(HLY_String("a, b").Split(", ")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Pieces(HLY_String("whole").Split("")), (std::vector<std::string>{"whole"}));
    EXPECT_EQ(Pieces(HLY_String("").Split(",")), (std::vector<std::string>{""}));
    EXPECT_EQ(Pieces(HLY_String("abc").Split(";")), (std::vector<std::string>{"abc"}));
}

TEST(String, TrimReplaceInsertErase)
{
    HLY_String t("\r\n\t x \t");
    t.Trim();
    EXPECT_EQ(t, "x");
    HLY_String u("xxhixx");
    u.TrimLeft('x');
    EXPECT_EQ(u, "hixx");
    u.TrimRight("x");
    EXPECT_EQ(u, "hi");
    HLY_String all("   ");
    all.Trim();
    EXPECT_TRUE(all.IsEmpty());
    HLY_String r("a.b.c");
    r.Replace('.', '/');
    EXPECT_EQ(r, "a/b/c");
    r.Replace('/', '\0'); // NUL is refused
    EXPECT_EQ(r, "a/b/c");
    r.Replace("/", "::");
    EXPECT_EQ(r, "a::b::c");
    HLY_String i("ac");
    i.Insert("b", 1);
    EXPECT_EQ(i, "abc");
    i.Insert("d", 3); // at the end
    i.Insert("z", 5); // past it: nothing
    EXPECT_EQ(i, "abcd");
    i.Erase(0, 2);
    EXPECT_EQ(i, "cd");
}

TEST(String, FormatGrowsPastTheFirstBuffer)
{
    EXPECT_EQ(HLY_String::Format("%s-%d", "ab", 42), "ab-42");
    EXPECT_TRUE(HLY_String::Format("%s", "").IsEmpty());
    // exactly the first buffer's size: one more than fits beside the terminator
    std::string first(256, 'p');
    EXPECT_EQ(HLY_String::Format("%s", first.c_str()), first.c_str());
    std::string big(300000, 'q');
    HLY_String formatted = HLY_String::Format("<%s>", big.c_str());
    EXPECT_EQ(formatted.GetLength(), 300002u);
    EXPECT_EQ(formatted.GetChars()[300001], '>');
    // beyond the largest buffer the result is empty
    std::string huge(600000, 'q');
    EXPECT_TRUE(HLY_String::Format("%s", huge.c_str()).IsEmpty());
}

TEST(String, FromInteger)
{
    EXPECT_EQ(HLY_String::FromInteger(0), "0");
    EXPECT_EQ(HLY_String::FromInteger(-42), "-42");
    EXPECT_EQ(HLY_String::FromInteger(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(HLY_String::FromIntegerU(UINT64_MAX), "18446744073709551615");
}

TEST(NumberParsing, LimitsOfEveryWidth)
{
    // the extremes parse; one past them overflows and leaves 0
    for (const char* text : {"2147483647", "-2147483648"}) EXPECT_EQ(Parsed(HLY_ParseInteger32, text, false), text);
    for (const char* text : {"9223372036854775807", "-9223372036854775808"}) {
        EXPECT_EQ(Parsed(HLY_ParseInteger64, text, false), text);
    }
    EXPECT_EQ(Parsed(HLY_ParseInteger32U, "4294967295", false), "4294967295");
    EXPECT_EQ(Parsed(HLY_ParseInteger64U, "18446744073709551615", false), "18446744073709551615");
    const std::string overflow = Fail(HLY_ERROR_OVERFLOW, "0");
    for (const char* text : {"2147483648", "-2147483649"}) EXPECT_EQ(Parsed(HLY_ParseInteger32, text, false), overflow);
    for (const char* text : {"9223372036854775808", "-9223372036854775809"}) {
        EXPECT_EQ(Parsed(HLY_ParseInteger64, text, false), overflow);
    }
    EXPECT_EQ(Parsed(HLY_ParseInteger32U, "4294967296", false), overflow);
    for (const char* text : {"18446744073709551616", "99999999999999999999"}) {
        EXPECT_EQ(Parsed(HLY_ParseInteger64U, text, false), overflow);
    }
}

TEST(NumberParsing, RelaxedAndStrictDiffer)
{
    HLY_Int32    v = 99;
    HLY_Cardinal used;
    EXPECT_EQ(HLY_ParseInteger32("  42abc", v, true, &used), HLY_SUCCESS);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(used, 4u);
    const std::string invalid = Fail(HLY_ERROR_INVALID_PARAMETERS, "0");
    EXPECT_EQ(Parsed(HLY_ParseInteger32, "  42abc", false), invalid);
    EXPECT_EQ(Parsed(HLY_ParseInteger32, "42abc", false), invalid);
    EXPECT_EQ(Parsed(HLY_ParseInteger32, "\t7", true), "7");
    EXPECT_EQ(Parsed(HLY_ParseInteger32, "+7", false), "7");
    for (const char* text : {"abc", "-", "", "   ", (const char*)nullptr}) {
        EXPECT_EQ(HLY_ParseInteger32(text, v, true), HLY_ERROR_INVALID_PARAMETERS) << (text ? text : "null");
    }
    EXPECT_EQ(Parsed(HLY_ParseInteger32U, "-1", true), invalid); // no sign for unsigned
    // overflow wins over relaxed stopping
    EXPECT_EQ(HLY_ParseInteger32("99999999999x", v, true), HLY_ERROR_OVERFLOW);

    HLY_String s("  1800, more");
    HLY_UInt32 lease;
    EXPECT_EQ(s.ToInteger(lease, true), HLY_SUCCESS);
    EXPECT_EQ(lease, 1800u);
    EXPECT_NE(s.ToInteger(lease, false), HLY_SUCCESS);

    float f = 1.0f;
    EXPECT_EQ(HLY_ParseFloat(" 2.5x", f, true), HLY_SUCCESS);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(HLY_ParseFloat("2.5x", f, false), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(f, 0.0f);
}

TEST(Hex, NibblesBytesAndByteOrder)
{
    EXPECT_EQ(HLY_NibbleToHex(10, true), 'A');
    EXPECT_EQ(HLY_NibbleToHex(10, false), 'a');
    EXPECT_EQ(HLY_HexToNibble('f'), 15);
    EXPECT_EQ(HLY_HexToNibble('F'), 15);
    EXPECT_EQ(HLY_HexToNibble('g'), -1);
    EXPECT_EQ(HLY_HexToNibble('/'), -1);
    char hex[2];
    HLY_ByteToHex(0x9c, hex, true);
    EXPECT_EQ(std::string(hex, 2), "9C");
    HLY_Byte b;
    EXPECT_EQ(HLY_HexToByte("7e", b), HLY_SUCCESS);
    EXPECT_EQ(b, 0x7e);
    EXPECT_EQ(HLY_HexToByte("7z", b), HLY_ERROR_INVALID_SYNTAX);
    unsigned char be[8], le[8];
    HLY_BytesFromInt32Be(be, 0x01020304);
    EXPECT_EQ(HLY_HexString(be, 4), "01020304");
    HLY_BytesFromInt64Le(le, 0x0102030405060708ull);
    EXPECT_EQ(HLY_HexString(le, 8, ":"), "08:07:06:05:04:03:02:01");
    EXPECT_EQ(HLY_BytesToInt64Le(le), 0x0102030405060708ull);
    HLY_BytesFromInt64Be(be, 0xfedcba9876543210ull);
    EXPECT_EQ(HLY_BytesToInt64Be(be), 0xfedcba9876543210ull);
}
