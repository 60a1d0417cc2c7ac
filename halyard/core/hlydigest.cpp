#include "hlydigest.h"
#include "hlydatabuffer.h"

#include <cstring>

#include "hlystrings.h"

/*----------------------------------------------------------------------
|   helpers
+---------------------------------------------------------------------*/
static inline HLY_UInt32 RotateLeft(HLY_UInt32 x, unsigned int n) { return (x << n) | (x >> (32 - n)); }
static inline HLY_UInt32 RotateRight(HLY_UInt32 x, unsigned int n) { return (x >> n) | (x << (32 - n)); }

/*----------------------------------------------------------------------
|   HLY_Digest
+---------------------------------------------------------------------*/
HLY_Result HLY_Digest::Create(HLY_Ordinal algorithm, HLY_Digest*& digest)
{
    digest = nullptr;
    switch (algorithm) {
        case ALGORITHM_SHA1:   digest = new HLY_Sha1Digest();   break;
        case ALGORITHM_SHA256: digest = new HLY_Sha256Digest(); break;
        case ALGORITHM_MD5:    digest = new HLY_Md5Digest();    break;
        default:               return HLY_ERROR_NOT_SUPPORTED;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_BasicDigest
+---------------------------------------------------------------------*/
HLY_BasicDigest::HLY_BasicDigest(bool big_endian)
    : m_BitLength(0), m_BufferLength(0), m_BigEndian(big_endian)
{
    memset(m_Buffer, 0, sizeof(m_Buffer));
}

void HLY_BasicDigest::Reset()
{
    m_BitLength    = 0;
    m_BufferLength = 0;
    memset(m_Buffer, 0, sizeof(m_Buffer));
    ResetState();
}

HLY_Result HLY_BasicDigest::Update(const HLY_Byte* data, HLY_Size size)
{
    if (size == 0) return HLY_SUCCESS;
    if (data == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    while (size > 0) {
        if (m_BufferLength == 0 && size >= HLY_DIGEST_BLOCK_SIZE) {
            // whole blocks straight from the input, no copy
            CompressBlock(data);
            m_BitLength += HLY_DIGEST_BLOCK_SIZE * 8;
            data += HLY_DIGEST_BLOCK_SIZE;
            size -= HLY_DIGEST_BLOCK_SIZE;
        } else {
            HLY_Size chunk = HLY_DIGEST_BLOCK_SIZE - m_BufferLength;
            if (chunk > size) chunk = size;
            memcpy(m_Buffer + m_BufferLength, data, chunk);
            m_BufferLength += chunk;
            data += chunk;
            size -= chunk;
            if (m_BufferLength == HLY_DIGEST_BLOCK_SIZE) {
                CompressBlock(m_Buffer);
                m_BitLength += HLY_DIGEST_BLOCK_SIZE * 8;
                m_BufferLength = 0;
            }
        }
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_BasicDigest::GetDigest(HLY_Byte* digest, HLY_Size digest_size)
{
    if (digest == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (digest_size < GetSize()) return HLY_ERROR_NOT_ENOUGH_SPACE;

    m_BitLength += (HLY_UInt64)m_BufferLength * 8;
    m_Buffer[m_BufferLength++] = 0x80;
    // no room left for the 8 length bytes: pad out this block first
    if (m_BufferLength > HLY_DIGEST_BLOCK_SIZE - 8) {
        memset(m_Buffer + m_BufferLength, 0, HLY_DIGEST_BLOCK_SIZE - m_BufferLength);
        CompressBlock(m_Buffer);
        m_BufferLength = 0;
    }
    memset(m_Buffer + m_BufferLength, 0, HLY_DIGEST_BLOCK_SIZE - 8 - m_BufferLength);
    if (m_BigEndian) {
        HLY_BytesFromInt64Be(m_Buffer + HLY_DIGEST_BLOCK_SIZE - 8, m_BitLength);
    } else {
        HLY_BytesFromInt64Le(m_Buffer + HLY_DIGEST_BLOCK_SIZE - 8, m_BitLength);
    }
    CompressBlock(m_Buffer);

    const HLY_UInt32* state = GetState();
    for (HLY_Ordinal i = 0; i < GetSize() / 4; ++i) {
        if (m_BigEndian) {
            HLY_BytesFromInt32Be(digest + 4 * i, state[i]);
        } else {
            HLY_BytesFromInt32Le(digest + 4 * i, state[i]);
        }
    }

    Reset();
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   SHA-1
+---------------------------------------------------------------------*/
HLY_Sha1Digest::HLY_Sha1Digest() : HLY_BasicDigest(true)
{
    ResetState();
}

void HLY_Sha1Digest::ResetState()
{
    m_State[0] = 0x67452301;
    m_State[1] = 0xEFCDAB89;
    m_State[2] = 0x98BADCFE;
    m_State[3] = 0x10325476;
    m_State[4] = 0xC3D2E1F0;
}

void HLY_Sha1Digest::CompressBlock(const HLY_Byte* block)
{
    HLY_UInt32 w[80];
    for (int t = 0; t < 16; ++t) w[t] = HLY_BytesToInt32Be(block + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    HLY_UInt32 a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3], e = m_State[4];
    for (int t = 0; t < 80; ++t) {
        HLY_UInt32 f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        HLY_UInt32 temp = RotateLeft(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
    m_State[4] += e;
}

/*----------------------------------------------------------------------
|   SHA-256
+---------------------------------------------------------------------*/
static const HLY_UInt32 Sha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

HLY_Sha256Digest::HLY_Sha256Digest() : HLY_BasicDigest(true)
{
    ResetState();
}

void HLY_Sha256Digest::ResetState()
{
    m_State[0] = 0x6a09e667;
    m_State[1] = 0xbb67ae85;
    m_State[2] = 0x3c6ef372;
    m_State[3] = 0xa54ff53a;
    m_State[4] = 0x510e527f;
    m_State[5] = 0x9b05688c;
    m_State[6] = 0x1f83d9ab;
    m_State[7] = 0x5be0cd19;
}

void HLY_Sha256Digest::CompressBlock(const HLY_Byte* block)
{
    HLY_UInt32 w[64];
    for (int t = 0; t < 16; ++t) w[t] = HLY_BytesToInt32Be(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        HLY_UInt32 s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
        HLY_UInt32 s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }

    HLY_UInt32 a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3];
    HLY_UInt32 e = m_State[4], f = m_State[5], g = m_State[6], h = m_State[7];
    for (int t = 0; t < 64; ++t) {
        HLY_UInt32 S1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        HLY_UInt32 ch = (e & f) ^ (~e & g);
        HLY_UInt32 t1 = h + S1 + ch + Sha256K[t] + w[t];
        HLY_UInt32 S0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        HLY_UInt32 maj = (a & b) ^ (a & c) ^ (b & c);
        HLY_UInt32 t2 = S0 + maj;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
    m_State[4] += e;
    m_State[5] += f;
    m_State[6] += g;
    m_State[7] += h;
}

/*----------------------------------------------------------------------
|   MD5
+---------------------------------------------------------------------*/
// per-round shift amounts and the sine-derived constants
static const unsigned int Md5Shift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

static const HLY_UInt32 Md5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

HLY_Md5Digest::HLY_Md5Digest() : HLY_BasicDigest(false)
{
    ResetState();
}

void HLY_Md5Digest::ResetState()
{
    m_State[0] = 0x67452301;
    m_State[1] = 0xefcdab89;
    m_State[2] = 0x98badcfe;
    m_State[3] = 0x10325476;
}

void HLY_Md5Digest::CompressBlock(const HLY_Byte* block)
{
    HLY_UInt32 x[16];
    for (int i = 0; i < 16; ++i) x[i] = HLY_BytesToInt32Le(block + 4 * i);

    HLY_UInt32 a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3];
    for (int i = 0; i < 64; ++i) {
        HLY_UInt32 f;
        int        k;
        if (i < 16) {
            f = (b & c) | (~b & d);
            k = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            k = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            k = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            k = (7 * i) % 16;
        }
        HLY_UInt32 temp = d;
        d = c;
        c = b;
        b = b + RotateLeft(a + f + Md5T[i] + x[k], Md5Shift[i]);
        a = temp;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
}

/*----------------------------------------------------------------------
|   HLY_DigestSha256
+---------------------------------------------------------------------*/
HLY_Result HLY_DigestSha256(const HLY_Byte* data, HLY_Size size, HLY_Byte digest[HLY_SHA256_DIGEST_SIZE])
{
    if (digest == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Digest* sha256 = nullptr;
    HLY_Result  result = HLY_Digest::Create(HLY_Digest::ALGORITHM_SHA256, sha256);
    if (HLY_FAILED(result)) return result;
    result = sha256->Update(data, size);
    if (HLY_SUCCEEDED(result)) result = sha256->GetDigest(digest, HLY_SHA256_DIGEST_SIZE);
    delete sha256;
    return result;
}

HLY_Result HLY_Digest::GetDigest(HLY_DataBuffer& buffer)
{
    HLY_Result result = buffer.SetDataSize(GetSize());
    if (HLY_FAILED(result)) return result;
    return GetDigest(buffer.UseData(), GetSize());
}
