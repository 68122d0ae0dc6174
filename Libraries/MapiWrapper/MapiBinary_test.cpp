// Tests of CMapiBinary and the hexadecimal text form.
#include <vector>

#include <gtest/gtest.h>

#include "MapiBinary.h"
#include "MapiPropValue.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes ToBytes(const CMapiBinary& bin) {
    return Bytes(bin.Bytes(), bin.Bytes() + bin.Size());
}

TEST(BinaryToHex, WritesUpperCasePairs) {
    const BYTE bytes[] = {0x00, 0xAB};
    EXPECT_EQ(BinaryToHex(2, bytes), "00AB");
    EXPECT_EQ(BinaryToHex(CMapiBinary()), "");
    EXPECT_EQ(BinaryToHex(0, bytes), "");
}

TEST(HexToBinary, ReadsPairs) {
    struct Case {
        const char* hex;
        bool empty;
        Bytes bytes;
    } cases[] = {
        {"00AB", false, {0x00, 0xAB}},
        {"00A", false, {0x00}},  // a trailing odd character is ignored
        {"FF10", false, {0xFF, 0x10}},
        // Lower case is not hex here: 'a' reads as 42, 'b' as 43; 42*16+43 = 0x2CB.
        {"ab", false, {0xCB}},
        {"", true, {}},
        {"A", true, {}},
        {nullptr, true, {}},
    };
    for (const auto& c : cases) {
        const CMapiBinary bin = HexToBinary(c.hex);
        EXPECT_EQ(bin.Empty(), c.empty) << (c.hex ? c.hex : "null");
        EXPECT_EQ(ToBytes(bin), c.bytes) << (c.hex ? c.hex : "null");
    }
}

TEST(HexToBinary, RoundTripsEveryByte) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
    // Longer than the 123 bytes that fit a small text buffer, on purpose.
    const std::string hex = BinaryToHex(256, all.data());
    EXPECT_EQ(hex.size(), 512u);
    EXPECT_EQ(ToBytes(HexToBinary(hex.c_str())), all);
}

TEST(CMapiBinary, Equality) {
    const BYTE ab[] = {0xA, 0xB}, ac[] = {0xA, 0xC};
    const CMapiBinary empty, empty2, size0(0, ab), size0b(0, ac), x(2, ab), y(2, ab), z(2, ac),
        prefix(1, ab);
    EXPECT_TRUE(empty == empty2);
    EXPECT_FALSE(empty == size0);  // no storage differs from storage of size 0
    EXPECT_FALSE(size0 == empty);
    EXPECT_TRUE(size0 == size0b);
    EXPECT_TRUE(x == x);
    EXPECT_TRUE(x == y);
    EXPECT_FALSE(x == z);
    EXPECT_FALSE(x == prefix);
    EXPECT_FALSE(x == empty);
}

TEST(CMapiBinary, CopiesAreDeep) {
    const BYTE ab[] = {0xA, 0xB};
    CMapiBinary a(2, ab);
    CMapiBinary b = a;
    EXPECT_NE(a.Bytes(), b.Bytes());
    EXPECT_TRUE(a == b);
    a = a;  // self-assignment keeps the bytes
    EXPECT_EQ(ToBytes(a), Bytes({0xA, 0xB}));
    CMapiBinary moved = std::move(b);
    EXPECT_TRUE(moved == a);
    EXPECT_TRUE(b.Empty());
}

TEST(CMapiBinary, AssignsFromValues) {
    BYTE bytes[] = {1, 2, 3};
    SPropValue binary{};
    binary.ulPropTag = PROP_TAG(PT_BINARY, 0x0FFF);
    binary.Value.bin = SBinary{3, bytes};
    SPropValue number{};
    number.ulPropTag = PROP_TAG(PT_LONG, 0x3601);

    CMapiBinary bin;
    bin = CMapiPropValue(&binary);
    EXPECT_EQ(ToBytes(bin), Bytes({1, 2, 3}));
    bin = CMapiPropValue(&number);  // not binary: the block ends up empty
    EXPECT_TRUE(bin.Empty());
    bin = SBinary{3, bytes};
    bin = CMapiPropValue();
    EXPECT_TRUE(bin.Empty());
    bin = SBinary{3, nullptr};
    EXPECT_TRUE(bin.Empty());
    bin = "0102";
    EXPECT_EQ(ToBytes(bin), Bytes({1, 2}));
    bin.Clear();
    EXPECT_TRUE(bin.Empty());
    EXPECT_EQ(bin.Size(), 0u);
}

}  // namespace
