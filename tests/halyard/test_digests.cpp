#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hlydatabuffer.h"
#include "hlydigest.h"
#include "hlystrings.h"

// Expected values: the FIPS 180 and RFC 1321 examples, and for the other
// inputs the output of Debian's md5sum, sha1sum and sha256sum on the same
// bytes.

namespace {

struct Expected
{
    const char* md5;
    const char* sha1;
    const char* sha256;
};

const char* Expect(const Expected& e, HLY_Ordinal algorithm)
{
    switch (algorithm) {
        case HLY_Digest::ALGORITHM_SHA1:   return e.sha1;
        case HLY_Digest::ALGORITHM_SHA256: return e.sha256;
        default:                           return e.md5;
    }
}

std::unique_ptr<HLY_Digest> Make(HLY_Ordinal algorithm)
{
    HLY_Digest* digest = nullptr;
    EXPECT_EQ(HLY_Digest::Create(algorithm, digest), HLY_SUCCESS);
    return std::unique_ptr<HLY_Digest>(digest);
}

std::string Finish(HLY_Digest& digest)
{
    HLY_Byte out[HLY_DIGEST_MAX_SIZE];
    EXPECT_EQ(digest.GetDigest(out, sizeof(out)), HLY_SUCCESS);
    return HLY_HexString(out, digest.GetSize()).GetChars();
}

std::string HexOf(HLY_Ordinal algorithm, const std::vector<HLY_Byte>& data)
{
    auto digest = Make(algorithm);
    EXPECT_EQ(digest->Update(data.data(), (HLY_Size)data.size()), HLY_SUCCESS);
    return Finish(*digest);
}

std::vector<HLY_Byte> Bytes(const char* text) { return std::vector<HLY_Byte>(text, text + strlen(text)); }

// byte i is (i * 31 + 7) mod 256, so every block boundary sees varied data
std::vector<HLY_Byte> Pattern(size_t n)
{
    std::vector<HLY_Byte> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = (HLY_Byte)((i * 31 + 7) & 0xFF);
    return data;
}

const HLY_Ordinal AllAlgorithms[] = {HLY_Digest::ALGORITHM_SHA1, HLY_Digest::ALGORITHM_SHA256,
                                     HLY_Digest::ALGORITHM_MD5};

} // namespace

TEST(Digest, FactoryAndSizes)
{
    EXPECT_EQ(Make(HLY_Digest::ALGORITHM_SHA1)->GetSize(), 20u);
    EXPECT_EQ(Make(HLY_Digest::ALGORITHM_SHA256)->GetSize(), 32u);
    EXPECT_EQ(Make(HLY_Digest::ALGORITHM_MD5)->GetSize(), 16u);

    HLY_Digest* digest = reinterpret_cast<HLY_Digest*>(1);
    EXPECT_EQ(HLY_Digest::Create(3, digest), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(digest, nullptr);
    EXPECT_EQ(HLY_Digest::Create(0xFFFFFFFF, digest), HLY_ERROR_NOT_SUPPORTED);
}

TEST(Digest, PublishedVectors)
{
    struct Case
    {
        const char* text;
        Expected    expected;
    } cases[] = {
        {"", {"d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"}},
        {"abc", {"900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
                 "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", // 448 bits
         {"8215ef0796a20bcaaae116d3876c664a", "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnop"
         "qrstnopqrstu", // 896 bits
         {"03dd8807a93175fb062dfb55dc7d359c", "a49b2446a02c645bf419f995b67091253a04a259",
          "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"}},
        // the rest of the RFC 1321 suite
        {"a", {"0cc175b9c0f1b6a831c399e269772661", "86f7e437faa5a7fce15d1ddcb9eaeaea377667b8",
               "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"}},
        {"message digest", {"f96b697d7cb7938d525a2f31aaf161d0", "c12252ceda8be8994d5fa0290a47231c1d16aae3",
                            "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"}},
        {"abcdefghijklmnopqrstuvwxyz",
         {"c3fcd3d76192e4007dfb496cca67e13b", "32d10c7b8cf96570ca04ce37f2a19d84240d3a89",
          "71c480df93d6ae2f1efad1447c66c9525e316218cf51fc8d9ed832f2daf18b73"}},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         {"d174ab98d277d9f5a5611c2c9f419d9f", "761c457bf73b14d27e9e9265c46f4b4dda11f940",
          "db4bfcbd4da0cd85a60c3c37d3fbd8805c77f15fc6b1fdfe614ee0a7c8fdb4c0"}},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         {"57edf4a22be3c955ac49da2e2107b67a", "50abf5706a150990a08b2c5ea40fa0e585554732",
          "f371bc4a311f2b009eef952dd83ca80e2b60026c8e935592d0f9c308453c813e"}},
    };
    for (const auto& c : cases) {
        for (HLY_Ordinal algorithm : AllAlgorithms) {
            EXPECT_EQ(HexOf(algorithm, Bytes(c.text)), Expect(c.expected, algorithm))
                << "algorithm " << algorithm << " on \"" << c.text << "\"";
        }
    }
}

TEST(Digest, OneMillionA)
{
    const Expected expected = {"7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
                               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"};
    std::vector<HLY_Byte> million(1000000, 'a');
    for (HLY_Ordinal algorithm : AllAlgorithms) {
        EXPECT_EQ(HexOf(algorithm, million), Expect(expected, algorithm)) << algorithm;
        // the same in odd-sized pieces that straddle every block boundary
        auto digest = Make(algorithm);
        for (size_t done = 0; done < million.size();) {
            HLY_Size piece = (HLY_Size)std::min<size_t>(997, million.size() - done);
            ASSERT_EQ(digest->Update(million.data() + done, piece), HLY_SUCCESS);
            done += piece;
        }
        EXPECT_EQ(Finish(*digest), Expect(expected, algorithm)) << algorithm;
    }
}

TEST(Digest, LengthsAroundThePaddingBoundary)
{
    // 55 bytes leave room for the length in the last block, 56 do not,
    // 64 fill it exactly
    struct Case
    {
        size_t   length;
        Expected expected;
    } cases[] = {
        {55, {"c9e512626618c9980ef21a96597af94c", "749bbefb28edc4638b28b2b9a9e03ab9a4032b90",
              "8aa994584139d128848eeebc4e815639ba5ab6e6e39574195a63ac4f14f7c43b"}},
        {56, {"ecde7caa08e9f5657c863df107cac60a", "a5b6e9c29d201c774753ff8e7fb64931656f5e63",
              "ad574708f75c044c9b85de64cb568ee7711ff4f36448c6242f053ba8f6cc2b63"}},
        {63, {"2f0301069e1c40af7f6c8f843b1b13f2", "d1a454409359fc372b4d22b3cea6488d6ba1be00",
              "280ed3e8ff1df845b2e7dfe6ac6cee817bef20e783cc65abc41b818b4d2fe076"}},
        {64, {"b6bf87c24b1bc334e2541387a92b981b", "39a0d8b645ad85f1f976731ed112ac9455e28b78",
              "c6ab9724ade5b6a7a1edfffb12f3aa9181351355af8fd08c919952ad211339dd"}},
        {65, {"f168246f08b6134d66bd2a10343fa9f1", "d0c96e18890114a14716e9686528d2e3fdba8d9e",
              "788367c73c7ddf4c53f65e68cc0d943e6227ab55b0e78ba63ace822b1c6301c0"}},
        {119, {"d5dc3d8264de3aa24dee105910ee27fe", "562ecf8a430f8e1056e3619bae33628e9a1d0a4e",
               "3d610547d68216dedf7435a4fb6260353911f6b3fd3f18805ddb8be285d726fe"}},
        {120, {"bcc139b3848923904860d1eefd6e5923", "353f6d2bf0e91aa91b74a2e0b3f297510f7d825f",
               "1f80156a804cb7862ad113e8200e9d74499723e7c7854d5f48776d3148e09656"}},
        {1000, {"2b1e78d5765de9e10495a01412a1cf22", "414475341017ec91703435a6f290324818f983e9",
                "5097e7d587352f5097062ae679f37bda5802d9f875aba14c8cb4d1a188ada179"}},
    };
    for (const auto& c : cases) {
        for (HLY_Ordinal algorithm : AllAlgorithms) {
            EXPECT_EQ(HexOf(algorithm, Pattern(c.length)), Expect(c.expected, algorithm))
                << "algorithm " << algorithm << ", " << c.length << " bytes";
        }
    }
}

TEST(Digest, EverySplitOfAnInputGivesTheSameDigest)
{
    std::vector<HLY_Byte> data = Pattern(200);
    for (HLY_Ordinal algorithm : AllAlgorithms) {
        const std::string whole = HexOf(algorithm, data);
        // two pieces, cut at every position
        for (size_t cut = 0; cut <= data.size(); ++cut) {
            auto digest = Make(algorithm);
            ASSERT_EQ(digest->Update(data.data(), (HLY_Size)cut), HLY_SUCCESS);
            ASSERT_EQ(digest->Update(data.data() + cut, (HLY_Size)(data.size() - cut)), HLY_SUCCESS);
            ASSERT_EQ(Finish(*digest), whole) << "algorithm " << algorithm << ", cut at " << cut;
        }
        // one byte at a time, with empty updates in between
        auto digest = Make(algorithm);
        for (HLY_Byte b : data) {
            ASSERT_EQ(digest->Update(&b, 1), HLY_SUCCESS);
            ASSERT_EQ(digest->Update(nullptr, 0), HLY_SUCCESS);
        }
        EXPECT_EQ(Finish(*digest), whole) << algorithm;
    }
}

TEST(Digest, FinishingStartsOver)
{
    for (HLY_Ordinal algorithm : AllAlgorithms) {
        auto digest = Make(algorithm);
        const std::string abc = HexOf(algorithm, Bytes("abc"));
        const std::string empty = HexOf(algorithm, {});
        digest->Update((const HLY_Byte*)"xyz", 3);
        Finish(*digest);
        EXPECT_EQ(Finish(*digest), empty) << algorithm;
        digest->Update((const HLY_Byte*)"abc", 3);
        EXPECT_EQ(Finish(*digest), abc) << algorithm;
    }
}

TEST(Digest, BadArgumentsAreRefused)
{
    auto digest = Make(HLY_Digest::ALGORITHM_SHA256);
    EXPECT_EQ(digest->Update(nullptr, 5), HLY_ERROR_INVALID_PARAMETERS);
    HLY_Byte small[31];
    EXPECT_EQ(digest->GetDigest(small, sizeof(small)), HLY_ERROR_NOT_ENOUGH_SPACE);
    EXPECT_EQ(digest->GetDigest(nullptr, 32), HLY_ERROR_INVALID_PARAMETERS);
    // the refusals changed nothing
    EXPECT_EQ(Finish(*digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Digest, IntoADataBuffer)
{
    HLY_Md5Digest md5;
    md5.Update((const HLY_Byte*)"abc", 3);
    HLY_DataBuffer buffer;
    ASSERT_EQ(md5.GetDigest(buffer), HLY_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 16u);
    EXPECT_EQ(HLY_HexString(buffer.GetData(), buffer.GetDataSize()), "900150983cd24fb0d6963f7d28e17f72");

    // a borrowed block too small for the digest is refused, not overrun
    HLY_Byte       small[8] = {};
    HLY_DataBuffer borrowed(small, sizeof(small), false);
    EXPECT_NE(md5.GetDigest(borrowed), HLY_SUCCESS);
}

TEST(Digest, OneCallSha256)
{
    HLY_Byte out[32];
    ASSERT_EQ(HLY_DigestSha256((const HLY_Byte*)"abc", 3, out), HLY_SUCCESS);
    EXPECT_EQ(HLY_HexString(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HLY_DigestSha256(nullptr, 0, out), HLY_SUCCESS);
    EXPECT_EQ(HLY_HexString(out, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HLY_DigestSha256((const HLY_Byte*)"abc", 3, nullptr), HLY_ERROR_INVALID_PARAMETERS);
}
