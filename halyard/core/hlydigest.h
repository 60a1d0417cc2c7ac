#ifndef HLY_DIGEST_H
#define HLY_DIGEST_H

#include "hlyresults.h"
#include "hlytypes.h"

class HLY_DataBuffer;

#define HLY_DIGEST_BLOCK_SIZE   64
#define HLY_DIGEST_MAX_SIZE     32
#define HLY_SHA1_DIGEST_SIZE    20
#define HLY_SHA256_DIGEST_SIZE  32
#define HLY_MD5_DIGEST_SIZE     16

/*----------------------------------------------------------------------
|   HLY_Digest: an incremental message digest
+---------------------------------------------------------------------*/
class HLY_Digest
{
public:
    enum Algorithm {
        ALGORITHM_SHA1   = 0,
        ALGORITHM_SHA256 = 1,
        ALGORITHM_MD5    = 2
    };

    // the caller owns the new digest
    static HLY_Result Create(HLY_Ordinal algorithm, HLY_Digest*& digest);

    virtual ~HLY_Digest() {}
    virtual HLY_Size GetSize() const = 0;
    virtual HLY_Result Update(const HLY_Byte* data, HLY_Size size) = 0;
    // finishes the computation and writes GetSize() bytes; the digest then
    // starts over, ready for a new message
    virtual HLY_Result GetDigest(HLY_Byte* digest, HLY_Size digest_size) = 0;

    // the same into a byte buffer, whose data size becomes GetSize()
    HLY_Result GetDigest(HLY_DataBuffer& buffer);
};

/*----------------------------------------------------------------------
|   HLY_BasicDigest: the 64-byte block engine shared by the algorithms
+---------------------------------------------------------------------*/
class HLY_BasicDigest : public HLY_Digest
{
public:
    using HLY_Digest::GetDigest;

    HLY_Result Update(const HLY_Byte* data, HLY_Size size) override;
    HLY_Result GetDigest(HLY_Byte* digest, HLY_Size digest_size) override;
    // back to the initial state, dropping whatever was hashed
    virtual void Reset();

protected:
    explicit HLY_BasicDigest(bool big_endian);

    virtual void CompressBlock(const HLY_Byte* block) = 0;
    virtual void ResetState() = 0;
    virtual const HLY_UInt32* GetState() const = 0; // GetSize() / 4 words

    HLY_UInt64 m_BitLength;
    HLY_Size   m_BufferLength;
    HLY_Byte   m_Buffer[HLY_DIGEST_BLOCK_SIZE];
    bool       m_BigEndian;
};

/*----------------------------------------------------------------------
|   the algorithms
+---------------------------------------------------------------------*/
class HLY_Sha1Digest : public HLY_BasicDigest
{
public:
    HLY_Sha1Digest();
    HLY_Size GetSize() const override { return HLY_SHA1_DIGEST_SIZE; }

protected:
    void CompressBlock(const HLY_Byte* block) override;
    void ResetState() override;
    const HLY_UInt32* GetState() const override { return m_State; }

private:
    HLY_UInt32 m_State[5];
};

class HLY_Sha256Digest : public HLY_BasicDigest
{
public:
    HLY_Sha256Digest();
    HLY_Size GetSize() const override { return HLY_SHA256_DIGEST_SIZE; }

protected:
    void CompressBlock(const HLY_Byte* block) override;
    void ResetState() override;
    const HLY_UInt32* GetState() const override { return m_State; }

private:
    HLY_UInt32 m_State[8];
};

class HLY_Md5Digest : public HLY_BasicDigest
{
public:
    HLY_Md5Digest();
    HLY_Size GetSize() const override { return HLY_MD5_DIGEST_SIZE; }

protected:
    void CompressBlock(const HLY_Byte* block) override;
    void ResetState() override;
    const HLY_UInt32* GetState() const override { return m_State; }

private:
    HLY_UInt32 m_State[4];
};

/*----------------------------------------------------------------------
|   one-call SHA-256 of a buffer
+---------------------------------------------------------------------*/
HLY_Result HLY_DigestSha256(const HLY_Byte* data, HLY_Size size, HLY_Byte digest[HLY_SHA256_DIGEST_SIZE]);

#endif // HLY_DIGEST_H
