#ifndef HLY_STRINGS_H
#define HLY_STRINGS_H

#include "hlycommon.h"
#include "hlylist.h"

#define HLY_STRINGS_WHITESPACE_CHARS "\r\n\t "

/*----------------------------------------------------------------------
|   HLY_String: an owned, mutable, NUL-terminated byte string. Copies
|   are deep; case folding is ASCII only.
+---------------------------------------------------------------------*/
class HLY_String
{
public:
    HLY_String() : m_Chars(nullptr) {}
    HLY_String(const char* s);
    HLY_String(const char* s, HLY_Size length);
    HLY_String(char c, HLY_Cardinal repeat = 1);
    HLY_String(const HLY_String& other);
    HLY_String(HLY_String&& other) noexcept : m_Chars(other.m_Chars) { other.m_Chars = nullptr; }
    ~HLY_String();

    static HLY_String FromInteger(HLY_Int64 value);
    static HLY_String FromIntegerU(HLY_UInt64 value);
    static HLY_String Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;

    // characters and sizes
    const char* GetChars() const { return m_Chars ? m_Chars : ""; }
    char* UseChars(); // writable characters, may be an empty static text when empty
    HLY_Size GetLength() const { return m_Chars ? GetBuffer()->m_Length : 0; }
    HLY_Size GetCapacity() const { return m_Chars ? GetBuffer()->m_Allocated : 0; }
    bool IsEmpty() const { return GetLength() == 0; }
    operator const char*() const { return GetChars(); }
    HLY_Result Reserve(HLY_Size length);
    HLY_Result SetLength(HLY_Size length, bool pad = false);
    char GetChar(HLY_Ordinal index) const { return index < GetLength() ? m_Chars[index] : '\0'; }
    HLY_Result SetChar(HLY_Ordinal index, char c);

    // assignment
    HLY_String& operator=(const char* s);
    HLY_String& operator=(const HLY_String& s);
    HLY_String& operator=(HLY_String&& s) noexcept;
    HLY_String& operator=(char c);
    void Assign(const char* chars, HLY_Size length);

    // appending
    void Append(const char* chars, HLY_Size length);
    void Append(const char* s);
    HLY_String& operator+=(const HLY_String& s) { Append(s.GetChars(), s.GetLength()); return *this; }
    HLY_String& operator+=(const char* s) { Append(s); return *this; }
    HLY_String& operator+=(char c) { Append(&c, 1); return *this; }
    void Insert(const char* s, HLY_Ordinal where = 0);
    void Erase(HLY_Ordinal start, HLY_Cardinal count = 1);

    // comparison
    int Compare(const char* s, bool ignore_case = false) const;
    static int Compare(const char* s1, const char* s2, bool ignore_case = false);
    static int CompareN(const char* s1, const char* s2, HLY_Size count, bool ignore_case = false);
    bool Equals(const char* s, bool ignore_case = false) const;
    bool StartsWith(const char* s, bool ignore_case = false) const;
    bool EndsWith(const char* s, bool ignore_case = false) const;

    // searching
    int Find(const char* s, HLY_Ordinal start = 0, bool ignore_case = false) const;
    int Find(char c, HLY_Ordinal start = 0, bool ignore_case = false) const;
    int ReverseFind(const char* s, HLY_Ordinal start = 0, bool ignore_case = false) const;
    int ReverseFind(char c, HLY_Ordinal start = 0, bool ignore_case = false) const;

    // pieces
    HLY_String SubString(HLY_Ordinal first, HLY_Size length) const;
    HLY_String SubString(HLY_Ordinal first) const { return SubString(first, GetLength()); }
    HLY_String Left(HLY_Size length) const { return SubString(0, length); }
    HLY_String Right(HLY_Size length) const
    {
        return length >= GetLength() ? *this : SubString(GetLength() - length, length);
    }
    HLY_List<HLY_String> Split(const char* separator) const;
    static HLY_String Join(const HLY_List<HLY_String>& list, const char* separator);

    // case
    HLY_String ToLowercase() const;
    HLY_String ToUppercase() const;
    const HLY_String& MakeLowercase();
    const HLY_String& MakeUppercase();

    // changes in place
    const HLY_String& Replace(char a, char b);
    const HLY_String& Replace(const char* before, const char* after);
    const HLY_String& TrimLeft();
    const HLY_String& TrimLeft(char c);
    const HLY_String& TrimLeft(const char* chars);
    const HLY_String& TrimRight();
    const HLY_String& TrimRight(char c);
    const HLY_String& TrimRight(const char* chars);
    const HLY_String& Trim();
    const HLY_String& Trim(char c);
    const HLY_String& Trim(const char* chars);

    // numbers
    HLY_Result ToInteger(HLY_Int32& value, bool relaxed = true) const;
    HLY_Result ToInteger(HLY_UInt32& value, bool relaxed = true) const;
    HLY_Result ToInteger(HLY_Int64& value, bool relaxed = true) const;
    HLY_Result ToInteger(HLY_UInt64& value, bool relaxed = true) const;
    HLY_Result ToInteger32(HLY_Int32& value, bool relaxed = true) const { return ToInteger(value, relaxed); }
    HLY_Result ToInteger64(HLY_Int64& value, bool relaxed = true) const { return ToInteger(value, relaxed); }

    // hash for tables (FNV-1a)
    HLY_UInt32 GetHash32() const;

private:
    struct Buffer
    {
        HLY_UInt32 m_Length;
        HLY_UInt32 m_Allocated;
        char* GetChars() { return reinterpret_cast<char*>(this + 1); }
    };
    Buffer* GetBuffer() const { return reinterpret_cast<Buffer*>(m_Chars) - 1; }
    static char* Allocate(HLY_Size capacity, HLY_Size length);
    void Free();

    char* m_Chars;
};

// comparisons with texts and strings are exact byte comparisons
inline bool operator==(const HLY_String& a, const HLY_String& b)
{
    return a.GetLength() == b.GetLength() && HLY_String::Compare(a.GetChars(), b.GetChars()) == 0;
}
inline bool operator==(const HLY_String& a, const char* b) { return a.Compare(b) == 0; }
inline bool operator==(const char* a, const HLY_String& b) { return b.Compare(a) == 0; }
inline bool operator!=(const HLY_String& a, const HLY_String& b) { return !(a == b); }
inline bool operator!=(const HLY_String& a, const char* b) { return !(a == b); }
inline bool operator!=(const char* a, const HLY_String& b) { return !(a == b); }
inline bool operator<(const HLY_String& a, const HLY_String& b) { return a.Compare(b.GetChars()) < 0; }
HLY_String operator+(const HLY_String& a, const HLY_String& b);
HLY_String operator+(const HLY_String& a, const char* b);
HLY_String operator+(const char* a, const HLY_String& b);
HLY_String operator+(const HLY_String& a, char b);

// list predicate: true for strings equal to a value
class HLY_StringFinder
{
public:
    explicit HLY_StringFinder(const char* value, bool ignore_case = false)
        : m_Value(value), m_IgnoreCase(ignore_case) {}
    bool operator()(const HLY_String& s) const { return s.Compare(m_Value, m_IgnoreCase) == 0; }

private:
    const char* m_Value;
    bool        m_IgnoreCase;
};

/*----------------------------------------------------------------------
|   number parsing: strict by default; relaxed mode skips leading blanks
|   and stops at the first non-digit
+---------------------------------------------------------------------*/
HLY_Result HLY_ParseInteger32(const char* text, HLY_Int32& value, bool relaxed = true, HLY_Cardinal* chars_used = nullptr);
HLY_Result HLY_ParseInteger32U(const char* text, HLY_UInt32& value, bool relaxed = true, HLY_Cardinal* chars_used = nullptr);
HLY_Result HLY_ParseInteger64(const char* text, HLY_Int64& value, bool relaxed = true, HLY_Cardinal* chars_used = nullptr);
HLY_Result HLY_ParseInteger64U(const char* text, HLY_UInt64& value, bool relaxed = true, HLY_Cardinal* chars_used = nullptr);
HLY_Result HLY_ParseFloat(const char* text, float& value, bool relaxed = true);

/*----------------------------------------------------------------------
|   hex and byte order helpers
+---------------------------------------------------------------------*/
char HLY_NibbleToHex(unsigned int nibble, bool uppercase = true);
int HLY_HexToNibble(char hex);
void HLY_ByteToHex(HLY_Byte b, char* buffer, bool uppercase = false);
HLY_Result HLY_HexToByte(const char* buffer, HLY_Byte& b);
HLY_String HLY_HexString(const unsigned char* data, HLY_Size data_size, const char* separator = "", bool uppercase = false);

void HLY_BytesFromInt32Be(unsigned char* buffer, HLY_UInt32 value);
void HLY_BytesFromInt64Be(unsigned char* buffer, HLY_UInt64 value);
void HLY_BytesFromInt32Le(unsigned char* buffer, HLY_UInt32 value);
void HLY_BytesFromInt64Le(unsigned char* buffer, HLY_UInt64 value);
HLY_UInt32 HLY_BytesToInt32Be(const unsigned char* buffer);
HLY_UInt64 HLY_BytesToInt64Be(const unsigned char* buffer);
HLY_UInt32 HLY_BytesToInt32Le(const unsigned char* buffer);
HLY_UInt64 HLY_BytesToInt64Le(const unsigned char* buffer);

#endif // HLY_STRINGS_H
