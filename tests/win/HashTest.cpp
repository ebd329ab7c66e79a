#include "win/Hash.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string Hex(const Sha256& digest)
{
    std::string text;
    for (const BYTE b : digest)
        text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
    return text;
}

// Known digests by both paths (the program's own where the processor has the
// SHA instructions, and the system's), in pieces of any size: a fault would
// hide in the padding at 55, 56 and 64 bytes or in pieces ending in a block.
TEST(HashTest, GivesTheKnownDigestWhateverThePiecesAndThePath)
{
    const struct
    {
        const char* pszLabel;
        std::string bytes;
        const char* pszDigest;
    } cases[] = {
        {"", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"55 bytes", std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {"56 bytes", std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {"64 bytes", std::string(64, 'y'), "ffbf30ab94107b2c14d75cfb455ec94f200400ddc5ce304e0c21894090db055f"},
        {"two blocks of the standard", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a's", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases)
        for (const EHashPath ePath : {EHashPath::Fastest, EHashPath::System})
            for (const size_t cbPiece :
                 {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1000}, c.bytes.size() + 1})
            {
                CSha256 hash(ePath);
                for (size_t cbDone = 0; cbDone < c.bytes.size(); cbDone += cbPiece)
                    ASSERT_TRUE(hash.Add(reinterpret_cast<const BYTE*>(c.bytes.data()) + cbDone,
                                         std::min(cbPiece, c.bytes.size() - cbDone)));
                Sha256 digest = {};
                ASSERT_TRUE(hash.Finish(digest));
                EXPECT_EQ(Hex(digest), c.pszDigest)
                    << c.pszLabel << " in pieces of " << cbPiece << " by path " << static_cast<int>(ePath);
                // Finished: nothing more is taken.
                EXPECT_FALSE(hash.Add(reinterpret_cast<const BYTE*>("x"), 1));
            }
}
}
