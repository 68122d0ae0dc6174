// A PT_LONG changed where it lies in a property context: found through
// every level of the heap's B-tree and across heap pages, only its four
// bytes change, and a value of another type or none is left alone.
#include <gtest/gtest.h>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/msg_inplace.h"
#include "providers/pst/format/msg_values.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kFlags = 0x0E070003;

TEST(MsgInPlace, ALongChangesWhereItLiesInSmallAndDeepContexts) {
    // 3 properties: one leaf; 900: an index level above leaves spread over
    // heap pages (values of 40 bytes fill more than one block).
    for (size_t count : {3u, 900u}) {
        SCOPED_TRACE(count);
        std::vector<PropValue> props;
        for (uint32_t id = 0x0100; props.size() + 1 < count; ++id)
            props.push_back(id % 2 == 0 ? LongValue(id << 16 | 0x0003, id)
                                        : BinaryValue(id << 16 | 0x0102, Bytes(40, 7)));
        props.push_back(LongValue(kFlags, 0x11));
        Node node;
        WritePropertyContext(props, &node);
        if (count > 3) {
            ASSERT_GT(node.data.size(), 8176u);
        }
        const Bytes before = node.data;

        uint32_t value = 0, replacement = 0x80000001;
        ASSERT_TRUE(InlineLong(node, kFlags, &value, &replacement));
        EXPECT_EQ(value, 0x11u);
        size_t differing = 0;
        for (size_t i = 0; i < before.size(); ++i) differing += before[i] != node.data[i];
        EXPECT_LE(differing, 4u);
        std::vector<PropValue> back;
        std::string error;
        ASSERT_TRUE(ReadPropertyContext(node, &back, &error)) << error;
        ASSERT_EQ(back.size(), props.size());
        for (size_t i = 0; i < back.size(); ++i) {
            const PropValue& expected = back[i].tag == kFlags ? LongValue(kFlags, replacement)
                                                              : *FindValue(props, back[i].tag);
            EXPECT_EQ(back[i].bytes, expected.bytes) << std::hex << back[i].tag;
        }
        // A value that is no PT_LONG, or not there, is not touched.
        EXPECT_FALSE(InlineLong(node, 0x01010102, &value, &replacement));
        EXPECT_FALSE(InlineLong(node, 0x7FFF0003, &value, &replacement));
        EXPECT_TRUE(InlineLong(node, 0x01000003, &value));
        EXPECT_EQ(value, 0x0100u);
    }
    Node notAHeap;
    notAHeap.data = Bytes(64, 0);
    uint32_t value = 0;
    EXPECT_FALSE(InlineLong(notAHeap, kFlags, &value));
}

}  // namespace
}  // namespace mapi::pst::fmt
