#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "hlystrings.h"

/*----------------------------------------------------------------------
|   ASCII case folding, independent of the locale
+---------------------------------------------------------------------*/
static inline char HLY_Uppercase(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }
static inline char HLY_Lowercase(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

static const HLY_Size HLY_STRING_FORMAT_BUFFER_DEFAULT_SIZE = 256;
static const HLY_Size HLY_STRING_FORMAT_BUFFER_MAX_SIZE     = 0x80000;

/*----------------------------------------------------------------------
|   storage
+---------------------------------------------------------------------*/
char* HLY_String::Allocate(HLY_Size capacity, HLY_Size length)
{
    Buffer* buffer = static_cast<Buffer*>(::operator new(sizeof(Buffer) + capacity + 1));
    buffer->m_Length    = length;
    buffer->m_Allocated = capacity;
    return buffer->GetChars();
}

void HLY_String::Free()
{
    if (m_Chars) ::operator delete(static_cast<void*>(GetBuffer()));
    m_Chars = nullptr;
}

HLY_String::HLY_String(const char* s) : m_Chars(nullptr)
{
    if (s) Assign(s, (HLY_Size)strlen(s));
}

HLY_String::HLY_String(const char* s, HLY_Size length) : m_Chars(nullptr)
{
    if (s == nullptr || length == 0) return;
    // stop early at a NUL inside the buffer
    const void* nul = memchr(s, '\0', length);
    if (nul) length = (HLY_Size)(static_cast<const char*>(nul) - s);
    Assign(s, length);
}

HLY_String::HLY_String(char c, HLY_Cardinal repeat) : m_Chars(nullptr)
{
    if (repeat == 0) return;
    m_Chars = Allocate(repeat, repeat);
    memset(m_Chars, c, repeat);
    m_Chars[repeat] = '\0';
}

HLY_String::HLY_String(const HLY_String& other) : m_Chars(nullptr)
{
    Assign(other.GetChars(), other.GetLength());
}

HLY_String::~HLY_String()
{
    Free();
}

char* HLY_String::UseChars()
{
    static char empty[1];
    if (m_Chars) return m_Chars;
    empty[0] = '\0';
    return empty;
}

HLY_Result HLY_String::Reserve(HLY_Size length)
{
    HLY_Size capacity = GetCapacity();
    if (length <= capacity && (m_Chars || length == 0)) return HLY_SUCCESS;
    HLY_Size new_capacity = 2 * capacity;
    if (new_capacity < length) new_capacity = length;
    HLY_Size old_length = GetLength();
    char*    chars      = Allocate(new_capacity, old_length);
    if (m_Chars) memcpy(chars, m_Chars, old_length);
    chars[old_length] = '\0';
    Free();
    m_Chars = chars;
    return HLY_SUCCESS;
}

HLY_Result HLY_String::SetLength(HLY_Size length, bool pad)
{
    if (length == 0) {
        Free();
        return HLY_SUCCESS;
    }
    HLY_Size old_length = GetLength();
    Reserve(length);
    if (pad && length > old_length) memset(m_Chars + old_length, ' ', length - old_length);
    GetBuffer()->m_Length = length;
    m_Chars[length] = '\0';
    return HLY_SUCCESS;
}

HLY_Result HLY_String::SetChar(HLY_Ordinal index, char c)
{
    if (index >= GetLength()) return HLY_ERROR_OUT_OF_RANGE;
    m_Chars[index] = c;
    return HLY_SUCCESS;
}

void HLY_String::Assign(const char* chars, HLY_Size length)
{
    if (chars == nullptr || length == 0) {
        Free();
        return;
    }
    if (m_Chars && length <= GetCapacity()) {
        // chars may overlap our own storage
        memmove(m_Chars, chars, length);
        GetBuffer()->m_Length = length;
    } else {
        HLY_Size capacity = 2 * GetCapacity();
        if (capacity < length) capacity = length;
        char* block = Allocate(capacity, length);
        memcpy(block, chars, length);
        Free();
        m_Chars = block;
    }
    m_Chars[length] = '\0';
}

HLY_String& HLY_String::operator=(const char* s)
{
    if (s == nullptr) {
        Free();
    } else if (s != m_Chars) {
        Assign(s, (HLY_Size)strlen(s));
    }
    return *this;
}

HLY_String& HLY_String::operator=(const HLY_String& s)
{
    if (this != &s) {
        // a copy always gets a block of exactly the needed size
        HLY_Size length = s.GetLength();
        if (length == 0) {
            Free();
        } else {
            char* block = Allocate(length, length);
            memcpy(block, s.m_Chars, length + 1);
            Free();
            m_Chars = block;
        }
    }
    return *this;
}

HLY_String& HLY_String::operator=(HLY_String&& s) noexcept
{
    if (this != &s) {
        Free();
        m_Chars   = s.m_Chars;
        s.m_Chars = nullptr;
    }
    return *this;
}

HLY_String& HLY_String::operator=(char c)
{
    Assign(&c, 1);
    return *this;
}

void HLY_String::Append(const char* chars, HLY_Size length)
{
    if (chars == nullptr || length == 0) return;
    HLY_Size old_length = GetLength();
    if (m_Chars && chars >= m_Chars && chars < m_Chars + old_length + 1) {
        // appending a part of ourselves: Reserve may move the storage
        HLY_String copy(chars, length);
        Append(copy.GetChars(), copy.GetLength());
        return;
    }
    Reserve(old_length + length);
    memcpy(m_Chars + old_length, chars, length);
    GetBuffer()->m_Length = old_length + length;
    m_Chars[old_length + length] = '\0';
}

void HLY_String::Append(const char* s)
{
    if (s) Append(s, (HLY_Size)strlen(s));
}

void HLY_String::Insert(const char* s, HLY_Ordinal where)
{
    if (s == nullptr || *s == '\0') return;
    if (where > GetLength()) return;
    HLY_String result;
    HLY_Size   insert_length = (HLY_Size)strlen(s);
    result.Reserve(GetLength() + insert_length);
    result.Append(GetChars(), where);
    result.Append(s, insert_length);
    result.Append(GetChars() + where, GetLength() - where);
    *this = std::move(result);
}

void HLY_String::Erase(HLY_Ordinal start, HLY_Cardinal count)
{
    HLY_Size length = GetLength();
    if (start >= length || count == 0) return;
    if (count > length - start) count = length - start;
    memmove(m_Chars + start, m_Chars + start + count, length - start - count);
    SetLength(length - count);
}

/*----------------------------------------------------------------------
|   comparison
+---------------------------------------------------------------------*/
int HLY_String::Compare(const char* s1, const char* s2, bool ignore_case)
{
    if (s1 == nullptr) s1 = "";
    if (s2 == nullptr) s2 = "";
    const signed char* a = reinterpret_cast<const signed char*>(s1);
    const signed char* b = reinterpret_cast<const signed char*>(s2);
    if (ignore_case) {
        while (HLY_Uppercase(*a) == HLY_Uppercase(*b)) {
            if (*a == '\0') return 0;
            a++;
            b++;
        }
        return (signed char)HLY_Uppercase(*a) - (signed char)HLY_Uppercase(*b);
    }
    while (*a == *b) {
        if (*a == '\0') return 0;
        a++;
        b++;
    }
    return *a - *b;
}

int HLY_String::CompareN(const char* s1, const char* s2, HLY_Size count, bool ignore_case)
{
    if (s1 == nullptr) s1 = "";
    if (s2 == nullptr) s2 = "";
    const signed char* a = reinterpret_cast<const signed char*>(s1);
    const signed char* b = reinterpret_cast<const signed char*>(s2);
    for (HLY_Size i = 0; i < count; i++) {
        signed char ca = ignore_case ? (signed char)HLY_Uppercase(a[i]) : a[i];
        signed char cb = ignore_case ? (signed char)HLY_Uppercase(b[i]) : b[i];
        if (ca != cb) return ca - cb;
        if (ca == '\0') return 0;
    }
    return 0;
}

int HLY_String::Compare(const char* s, bool ignore_case) const
{
    return Compare(GetChars(), s, ignore_case);
}

bool HLY_String::Equals(const char* s, bool ignore_case) const
{
    return Compare(GetChars(), s, ignore_case) == 0;
}

bool HLY_String::StartsWith(const char* s, bool ignore_case) const
{
    if (s == nullptr) return false;
    HLY_Size length = (HLY_Size)strlen(s);
    if (length > GetLength()) return false;
    return CompareN(GetChars(), s, length, ignore_case) == 0;
}

bool HLY_String::EndsWith(const char* s, bool ignore_case) const
{
    if (s == nullptr) return false;
    HLY_Size length = (HLY_Size)strlen(s);
    if (length > GetLength()) return false;
    return CompareN(GetChars() + GetLength() - length, s, length, ignore_case) == 0;
}

/*----------------------------------------------------------------------
|   searching
+---------------------------------------------------------------------*/
int HLY_String::Find(const char* s, HLY_Ordinal start, bool ignore_case) const
{
    HLY_Size length = GetLength();
    if (s == nullptr || start >= length) return -1;
    HLY_Size s_length = (HLY_Size)strlen(s);
    if (s_length > length - start) return -1;
    for (HLY_Ordinal i = start; i + s_length <= length; i++) {
        if (CompareN(m_Chars + i, s, s_length, ignore_case) == 0) return (int)i;
    }
    return -1;
}

int HLY_String::Find(char c, HLY_Ordinal start, bool ignore_case) const
{
    HLY_Size length = GetLength();
    if (start >= length) return -1;
    if (ignore_case) c = HLY_Uppercase(c);
    for (HLY_Ordinal i = start; i < length; i++) {
        char x = ignore_case ? HLY_Uppercase(m_Chars[i]) : m_Chars[i];
        if (x == c) return (int)i;
    }
    return -1;
}

int HLY_String::ReverseFind(const char* s, HLY_Ordinal start, bool ignore_case) const
{
    if (s == nullptr || *s == '\0') return -1;
    HLY_Size length   = GetLength();
    HLY_Size s_length = (HLY_Size)strlen(s);
    if (start > length || s_length > length - start) return -1;
    // the last occurrence that ends no later than length - start
    for (int i = (int)(length - start - s_length); i >= 0; i--) {
        if (CompareN(m_Chars + i, s, s_length, ignore_case) == 0) return i;
    }
    return -1;
}

int HLY_String::ReverseFind(char c, HLY_Ordinal start, bool ignore_case) const
{
    HLY_Size length = GetLength();
    if (start >= length) return -1;
    if (ignore_case) c = HLY_Uppercase(c);
    for (int i = (int)(length - start - 1); i >= 0; i--) {
        char x = ignore_case ? HLY_Uppercase(m_Chars[i]) : m_Chars[i];
        if (x == c) return i;
    }
    return -1;
}

/*----------------------------------------------------------------------
|   pieces
+---------------------------------------------------------------------*/
HLY_String HLY_String::SubString(HLY_Ordinal first, HLY_Size length) const
{
    HLY_Size own_length = GetLength();
    if (first >= own_length) return HLY_String();
    if (length > own_length - first) length = own_length - first;
    HLY_String result;
    result.Assign(m_Chars + first, length);
    return result;
}

HLY_List<HLY_String> HLY_String::Split(const char* separator) const
{
    HLY_List<HLY_String> pieces;
    if (separator == nullptr || *separator == '\0') {
        pieces.Add(*this);
        return pieces;
    }
    HLY_Size    separator_length = (HLY_Size)strlen(separator);
    const char* chars            = GetChars();
    HLY_Size    length           = GetLength();
    HLY_Ordinal start            = 0;
    for (;;) {
        int found = Find(separator, start);
        if (found < 0) {
            pieces.Add(HLY_String(chars + start, length - start));
            break;
        }
        HLY_String piece;
        piece.Assign(chars + start, (HLY_Size)found - start);
        pieces.Add(piece);
        start = (HLY_Ordinal)found + separator_length;
        if (start >= length) {
            // a trailing separator gives a trailing empty piece
            pieces.Add(HLY_String());
            break;
        }
    }
    return pieces;
}

HLY_String HLY_String::Join(const HLY_List<HLY_String>& list, const char* separator)
{
    HLY_String result;
    bool       first = true;
    for (HLY_List<HLY_String>::Iterator it = list.GetFirstItem(); it; ++it) {
        if (!first) result.Append(separator);
        result += *it;
        first = false;
    }
    return result;
}

/*----------------------------------------------------------------------
|   case
+---------------------------------------------------------------------*/
const HLY_String& HLY_String::MakeLowercase()
{
    for (HLY_Size i = 0; i < GetLength(); i++) m_Chars[i] = HLY_Lowercase(m_Chars[i]);
    return *this;
}

const HLY_String& HLY_String::MakeUppercase()
{
    for (HLY_Size i = 0; i < GetLength(); i++) m_Chars[i] = HLY_Uppercase(m_Chars[i]);
    return *this;
}

HLY_String HLY_String::ToLowercase() const
{
    HLY_String result(*this);
    result.MakeLowercase();
    return result;
}

HLY_String HLY_String::ToUppercase() const
{
    HLY_String result(*this);
    result.MakeUppercase();
    return result;
}

/*----------------------------------------------------------------------
|   changes in place
+---------------------------------------------------------------------*/
const HLY_String& HLY_String::Replace(char a, char b)
{
    if (a == '\0' || b == '\0' || m_Chars == nullptr) return *this;
    for (HLY_Size i = 0; i < GetLength(); i++) {
        if (m_Chars[i] == a) m_Chars[i] = b;
    }
    return *this;
}

const HLY_String& HLY_String::Replace(const char* before, const char* after)
{
    if (before == nullptr || *before == '\0' || m_Chars == nullptr) return *this;
    if (after == nullptr) after = "";
    HLY_Size   before_length = (HLY_Size)strlen(before);
    HLY_String result;
    HLY_Ordinal start = 0;
    int         found;
    while ((found = Find(before, start)) >= 0) {
        result.Append(m_Chars + start, (HLY_Size)found - start);
        result.Append(after);
        start = (HLY_Ordinal)found + before_length;
    }
    result.Append(m_Chars + start, GetLength() - start);
    *this = std::move(result);
    return *this;
}

const HLY_String& HLY_String::TrimLeft(const char* chars)
{
    if (m_Chars == nullptr || chars == nullptr) return *this;
    HLY_Size skip = 0, length = GetLength();
    while (skip < length && m_Chars[skip] && strchr(chars, m_Chars[skip])) skip++;
    if (skip) Erase(0, skip);
    return *this;
}

const HLY_String& HLY_String::TrimRight(const char* chars)
{
    if (m_Chars == nullptr || chars == nullptr) return *this;
    HLY_Size length = GetLength();
    while (length && m_Chars[length - 1] && strchr(chars, m_Chars[length - 1])) length--;
    SetLength(length);
    return *this;
}

const HLY_String& HLY_String::TrimLeft() { return TrimLeft(HLY_STRINGS_WHITESPACE_CHARS); }
const HLY_String& HLY_String::TrimRight() { return TrimRight(HLY_STRINGS_WHITESPACE_CHARS); }
const HLY_String& HLY_String::Trim() { TrimLeft(); return TrimRight(); }
const HLY_String& HLY_String::Trim(const char* chars) { TrimLeft(chars); return TrimRight(chars); }

const HLY_String& HLY_String::TrimLeft(char c)
{
    char s[2] = {c, '\0'};
    return TrimLeft(s);
}

const HLY_String& HLY_String::TrimRight(char c)
{
    char s[2] = {c, '\0'};
    return TrimRight(s);
}

const HLY_String& HLY_String::Trim(char c)
{
    char s[2] = {c, '\0'};
    return Trim(s);
}

/*----------------------------------------------------------------------
|   numbers
+---------------------------------------------------------------------*/
HLY_Result HLY_String::ToInteger(HLY_Int32& value, bool relaxed) const { return HLY_ParseInteger32(GetChars(), value, relaxed); }
HLY_Result HLY_String::ToInteger(HLY_UInt32& value, bool relaxed) const { return HLY_ParseInteger32U(GetChars(), value, relaxed); }
HLY_Result HLY_String::ToInteger(HLY_Int64& value, bool relaxed) const { return HLY_ParseInteger64(GetChars(), value, relaxed); }
HLY_Result HLY_String::ToInteger(HLY_UInt64& value, bool relaxed) const { return HLY_ParseInteger64U(GetChars(), value, relaxed); }

HLY_String HLY_String::FromIntegerU(HLY_UInt64 value)
{
    char  buffer[32];
    char* p = buffer + sizeof(buffer) - 1;
    *p      = '\0';
    do {
        *--p = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    return HLY_String(p);
}

HLY_String HLY_String::FromInteger(HLY_Int64 value)
{
    if (value >= 0) return FromIntegerU((HLY_UInt64)value);
    // negate in unsigned arithmetic so that the smallest value survives
    return HLY_String("-") + FromIntegerU(0 - (HLY_UInt64)value);
}

HLY_String HLY_String::Format(const char* format, ...)
{
    HLY_String result;
    if (format == nullptr) return result;
    for (HLY_Size size = HLY_STRING_FORMAT_BUFFER_DEFAULT_SIZE; size <= HLY_STRING_FORMAT_BUFFER_MAX_SIZE; size *= 2) {
        result.Reserve(size);
        va_list args;
        va_start(args, format);
        int count = vsnprintf(result.m_Chars, size, format, args);
        va_end(args);
        if (count >= 0 && (HLY_Size)count < size) {
            result.GetBuffer()->m_Length = (HLY_UInt32)count;
            if (count == 0) result.Free();
            return result;
        }
    }
    // too large even for the biggest buffer
    return HLY_String();
}

HLY_UInt32 HLY_String::GetHash32() const
{
    HLY_UInt32 hash = 2166136261u;
    for (HLY_Size i = 0; i < GetLength(); i++) {
        hash ^= (unsigned char)m_Chars[i];
        hash *= 16777619u;
    }
    return hash;
}

HLY_String operator+(const HLY_String& a, const HLY_String& b)
{
    HLY_String result;
    result.Reserve(a.GetLength() + b.GetLength());
    result += a;
    result += b;
    return result;
}

HLY_String operator+(const HLY_String& a, const char* b)
{
    if (b == nullptr) return a;
    HLY_String result;
    result.Reserve(a.GetLength() + (HLY_Size)strlen(b));
    result += a;
    result += b;
    return result;
}

HLY_String operator+(const char* a, const HLY_String& b)
{
    if (a == nullptr) return b;
    HLY_String result;
    result.Reserve((HLY_Size)strlen(a) + b.GetLength());
    result += a;
    result += b;
    return result;
}

HLY_String operator+(const HLY_String& a, char b)
{
    HLY_String result(a);
    result += b;
    return result;
}

/*----------------------------------------------------------------------
|   integer parsing: one routine over 64 bits with the range of the
|   wanted type; the out value stays 0 on every error
+---------------------------------------------------------------------*/
static HLY_Result HLY_ParseInteger(const char* text, bool is_signed, HLY_UInt64 max_positive,
                                   HLY_UInt64 max_negative, bool relaxed, HLY_UInt64& magnitude,
                                   bool& negative, HLY_Cardinal* chars_used)
{
    magnitude = 0;
    negative  = false;
    if (chars_used) *chars_used = 0;
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    HLY_Cardinal used = 0;
    if (relaxed) {
        while (*text == ' ' || *text == '\t') {
            text++;
            used++;
        }
    }
    if (*text == '\0') return HLY_ERROR_INVALID_PARAMETERS;
    if (is_signed && (*text == '-' || *text == '+')) {
        negative = (*text == '-');
        text++;
        used++;
    }

    HLY_UInt64 limit  = negative ? max_negative : max_positive;
    HLY_UInt64 value  = 0;
    bool       digits = false;
    for (; *text; text++, used++) {
        char c = *text;
        if (c < '0' || c > '9') {
            if (!relaxed) return HLY_ERROR_INVALID_PARAMETERS;
            break;
        }
        HLY_UInt64 digit = (HLY_UInt64)(c - '0');
        if (value > (limit - digit) / 10) return HLY_ERROR_OVERFLOW;
        value  = value * 10 + digit;
        digits = true;
    }
    if (!digits) return HLY_ERROR_INVALID_PARAMETERS;
    magnitude = value;
    if (chars_used) *chars_used = used;
    return HLY_SUCCESS;
}

HLY_Result HLY_ParseInteger64(const char* text, HLY_Int64& value, bool relaxed, HLY_Cardinal* chars_used)
{
    value = 0;
    HLY_UInt64 magnitude;
    bool       negative;
    HLY_Result result = HLY_ParseInteger(text, true, (HLY_UInt64)INT64_MAX, (HLY_UInt64)INT64_MAX + 1,
                                         relaxed, magnitude, negative, chars_used);
    if (HLY_FAILED(result)) return result;
    value = negative ? (HLY_Int64)(0 - magnitude) : (HLY_Int64)magnitude;
    return HLY_SUCCESS;
}

HLY_Result HLY_ParseInteger64U(const char* text, HLY_UInt64& value, bool relaxed, HLY_Cardinal* chars_used)
{
    value = 0;
    bool       negative;
    HLY_Result result = HLY_ParseInteger(text, false, UINT64_MAX, 0, relaxed, value, negative, chars_used);
    if (HLY_FAILED(result)) value = 0;
    return result;
}

HLY_Result HLY_ParseInteger32(const char* text, HLY_Int32& value, bool relaxed, HLY_Cardinal* chars_used)
{
    value = 0;
    HLY_UInt64 magnitude;
    bool       negative;
    HLY_Result result = HLY_ParseInteger(text, true, (HLY_UInt64)INT32_MAX, (HLY_UInt64)INT32_MAX + 1,
                                         relaxed, magnitude, negative, chars_used);
    if (HLY_FAILED(result)) return result;
    value = negative ? (HLY_Int32)(0 - (HLY_Int64)magnitude) : (HLY_Int32)magnitude;
    return HLY_SUCCESS;
}

HLY_Result HLY_ParseInteger32U(const char* text, HLY_UInt32& value, bool relaxed, HLY_Cardinal* chars_used)
{
    value = 0;
    HLY_UInt64 magnitude;
    bool       negative;
    HLY_Result result = HLY_ParseInteger(text, false, UINT32_MAX, 0, relaxed, magnitude, negative, chars_used);
    if (HLY_FAILED(result)) return result;
    value = (HLY_UInt32)magnitude;
    return HLY_SUCCESS;
}

HLY_Result HLY_ParseFloat(const char* text, float& value, bool relaxed)
{
    value = 0.0f;
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (relaxed) {
        while (*text == ' ' || *text == '\t') text++;
    }
    if (*text == '\0' || *text == ' ' || *text == '\t') return HLY_ERROR_INVALID_PARAMETERS;
    char*  end    = nullptr;
    double parsed = strtod(text, &end);
    if (end == text) return HLY_ERROR_INVALID_PARAMETERS;
    if (!relaxed && *end != '\0') return HLY_ERROR_INVALID_PARAMETERS;
    value = (float)parsed;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   hex and byte order helpers
+---------------------------------------------------------------------*/
char HLY_NibbleToHex(unsigned int nibble, bool uppercase)
{
    nibble &= 0x0F;
    if (nibble < 10) return (char)('0' + nibble);
    return (char)((uppercase ? 'A' : 'a') + nibble - 10);
}

int HLY_HexToNibble(char hex)
{
    if (hex >= '0' && hex <= '9') return hex - '0';
    if (hex >= 'a' && hex <= 'f') return hex - 'a' + 10;
    if (hex >= 'A' && hex <= 'F') return hex - 'A' + 10;
    return -1;
}

void HLY_ByteToHex(HLY_Byte b, char* buffer, bool uppercase)
{
    buffer[0] = HLY_NibbleToHex((b >> 4) & 0x0F, uppercase);
    buffer[1] = HLY_NibbleToHex(b & 0x0F, uppercase);
}

HLY_Result HLY_HexToByte(const char* buffer, HLY_Byte& b)
{
    b = 0;
    if (buffer == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    int high = HLY_HexToNibble(buffer[0]);
    if (high < 0) return HLY_ERROR_INVALID_SYNTAX;
    int low = HLY_HexToNibble(buffer[1]);
    if (low < 0) return HLY_ERROR_INVALID_SYNTAX;
    b = (HLY_Byte)((high << 4) | low);
    return HLY_SUCCESS;
}

HLY_String HLY_HexString(const unsigned char* data, HLY_Size data_size, const char* separator, bool uppercase)
{
    HLY_String result;
    if (data == nullptr) return result;
    HLY_Size separator_length = separator ? (HLY_Size)strlen(separator) : 0;
    result.Reserve(data_size * (2 + separator_length));
    for (HLY_Size i = 0; i < data_size; i++) {
        if (i && separator_length) result.Append(separator, separator_length);
        char hex[2];
        HLY_ByteToHex(data[i], hex, uppercase);
        result.Append(hex, 2);
    }
    return result;
}

void HLY_BytesFromInt32Be(unsigned char* buffer, HLY_UInt32 value)
{
    for (int i = 3; i >= 0; i--, value >>= 8) buffer[i] = (unsigned char)(value & 0xFF);
}

void HLY_BytesFromInt64Be(unsigned char* buffer, HLY_UInt64 value)
{
    for (int i = 7; i >= 0; i--, value >>= 8) buffer[i] = (unsigned char)(value & 0xFF);
}

void HLY_BytesFromInt32Le(unsigned char* buffer, HLY_UInt32 value)
{
    for (int i = 0; i < 4; i++, value >>= 8) buffer[i] = (unsigned char)(value & 0xFF);
}

void HLY_BytesFromInt64Le(unsigned char* buffer, HLY_UInt64 value)
{
    for (int i = 0; i < 8; i++, value >>= 8) buffer[i] = (unsigned char)(value & 0xFF);
}

HLY_UInt32 HLY_BytesToInt32Be(const unsigned char* buffer)
{
    return ((HLY_UInt32)buffer[0] << 24) | ((HLY_UInt32)buffer[1] << 16) | ((HLY_UInt32)buffer[2] << 8) | buffer[3];
}

HLY_UInt64 HLY_BytesToInt64Be(const unsigned char* buffer)
{
    return ((HLY_UInt64)HLY_BytesToInt32Be(buffer) << 32) | HLY_BytesToInt32Be(buffer + 4);
}

HLY_UInt32 HLY_BytesToInt32Le(const unsigned char* buffer)
{
    return ((HLY_UInt32)buffer[3] << 24) | ((HLY_UInt32)buffer[2] << 16) | ((HLY_UInt32)buffer[1] << 8) | buffer[0];
}

HLY_UInt64 HLY_BytesToInt64Le(const unsigned char* buffer)
{
    return ((HLY_UInt64)HLY_BytesToInt32Le(buffer + 4) << 32) | HLY_BytesToInt32Le(buffer);
}
