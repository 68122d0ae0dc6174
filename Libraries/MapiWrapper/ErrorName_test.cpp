// Tests of GetErrorName and the generated error-name table.
#include <barrier>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <mapicode.h>

#include "ErrorTable.h"
#include "MapiException.h"

namespace {

struct NameCase {
    uint32_t code;
    const char* name;
};

TEST(GetErrorName, NamesCodes) {
    const NameCase cases[] = {
        {0, ""},
        {0x8004010F, "MAPI_E_NOT_FOUND"},
        // MAPI names win over other families' names of the same value.
        {0x80040102, "MAPI_E_NO_SUPPORT"},
        {0x80040110, "MAPI_E_VERSION"},
        {0x80040111, "MAPI_E_LOGON_FAILED"},
        {0x80040112, "MAPI_E_SESSION_LIMIT"},
        {0x8004011F, "MAPI_E_UNKNOWN_LCID"},
        {0x80040120, "MAPI_E_PASSWORD_CHANGE_REQUIRED"},
        {0x80040200, "MAPI_E_END_OF_SESSION"},
        {0x80040201, "MAPI_E_UNKNOWN_ENTRYID"},
        {0x00040380, "MAPI_W_ERRORS_RETURNED"},
        {0x80040700, "MAPI_E_AMBIGUOUS_RECIP"},
        // MAPI's aliases of COM codes keep the COM names.
        {0x80070005, "E_ACCESSDENIED"},
        {0x80004005, "E_FAIL"},
        {10004, "WSAEINTR"},
        {11003, "WSANO_RECOVERY"},
        {0x12345678, "Unknown Error 12345678"},
        {0x2A, "Unknown Error 2a"},
        {0xDEADBEEF, "Unknown Error deadbeef"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(GetErrorName(static_cast<HRESULT>(c.code)), c.name) << std::hex << c.code;
}

size_t RecordCount() {
    size_t n = 0;
    while (g_errorNameTable[n].name) ++n;
    return n;
}

TEST(ErrorNameTable, HasThreeBlocksInOrder) {
    const size_t mapi = g_errorNameMapiCount, sockets = g_errorNameSocketCount;
    EXPECT_EQ(mapi, 69u);
    EXPECT_EQ(sockets, 50u);
    EXPECT_EQ(g_errorNameOtherCount, 3513u);  // mingw-w64's winerror.h, Debian 12
    ASSERT_EQ(RecordCount(), mapi + sockets + g_errorNameOtherCount);
    EXPECT_EQ(g_errorNameTable[RecordCount()].code, 0);

    // The MAPI block, as MAPI publishes it, ascending by code number with the
    // warnings among the errors.
    const std::vector<std::string> mapiNames = {"MAPI_E_NO_SUPPORT",
                                                "MAPI_E_BAD_CHARWIDTH",
                                                "MAPI_E_STRING_TOO_LONG",
                                                "MAPI_E_UNKNOWN_FLAGS",
                                                "MAPI_E_INVALID_ENTRYID",
                                                "MAPI_E_INVALID_OBJECT",
                                                "MAPI_E_OBJECT_CHANGED",
                                                "MAPI_E_OBJECT_DELETED",
                                                "MAPI_E_BUSY",
                                                "MAPI_E_NOT_ENOUGH_DISK",
                                                "MAPI_E_NOT_ENOUGH_RESOURCES",
                                                "MAPI_E_NOT_FOUND",
                                                "MAPI_E_VERSION",
                                                "MAPI_E_LOGON_FAILED",
                                                "MAPI_E_SESSION_LIMIT",
                                                "MAPI_E_USER_CANCEL",
                                                "MAPI_E_UNABLE_TO_ABORT",
                                                "MAPI_E_NETWORK_ERROR",
                                                "MAPI_E_DISK_ERROR",
                                                "MAPI_E_TOO_COMPLEX",
                                                "MAPI_E_BAD_COLUMN",
                                                "MAPI_E_EXTENDED_ERROR",
                                                "MAPI_E_COMPUTED",
                                                "MAPI_E_CORRUPT_DATA",
                                                "MAPI_E_UNCONFIGURED",
                                                "MAPI_E_FAILONEPROVIDER",
                                                "MAPI_E_UNKNOWN_CPID",
                                                "MAPI_E_UNKNOWN_LCID",
                                                "MAPI_E_PASSWORD_CHANGE_REQUIRED",
                                                "MAPI_E_PASSWORD_EXPIRED",
                                                "MAPI_E_INVALID_WORKSTATION_ACCOUNT",
                                                "MAPI_E_INVALID_ACCESS_TIME",
                                                "MAPI_E_ACCOUNT_DISABLED",
                                                "MAPI_E_END_OF_SESSION",
                                                "MAPI_E_UNKNOWN_ENTRYID",
                                                "MAPI_E_MISSING_REQUIRED_COLUMN",
                                                "MAPI_W_NO_SERVICE",
                                                "MAPI_E_BAD_VALUE",
                                                "MAPI_E_INVALID_TYPE",
                                                "MAPI_E_TYPE_NO_SUPPORT",
                                                "MAPI_E_UNEXPECTED_TYPE",
                                                "MAPI_E_TOO_BIG",
                                                "MAPI_E_DECLINE_COPY",
                                                "MAPI_E_UNEXPECTED_ID",
                                                "MAPI_W_ERRORS_RETURNED",
                                                "MAPI_E_UNABLE_TO_COMPLETE",
                                                "MAPI_E_TIMEOUT",
                                                "MAPI_E_TABLE_EMPTY",
                                                "MAPI_E_TABLE_TOO_BIG",
                                                "MAPI_E_INVALID_BOOKMARK",
                                                "MAPI_W_POSITION_CHANGED",
                                                "MAPI_W_APPROX_COUNT",
                                                "MAPI_E_WAIT",
                                                "MAPI_E_CANCEL",
                                                "MAPI_E_NOT_ME",
                                                "MAPI_W_CANCEL_MESSAGE",
                                                "MAPI_E_CORRUPT_STORE",
                                                "MAPI_E_NOT_IN_QUEUE",
                                                "MAPI_E_NO_SUPPRESS",
                                                "MAPI_E_COLLISION",
                                                "MAPI_E_NOT_INITIALIZED",
                                                "MAPI_E_NON_STANDARD",
                                                "MAPI_E_NO_RECIPIENTS",
                                                "MAPI_E_SUBMITTED",
                                                "MAPI_E_HAS_FOLDERS",
                                                "MAPI_E_HAS_MESSAGES",
                                                "MAPI_E_FOLDER_CYCLE",
                                                "MAPI_W_PARTIAL_COMPLETION",
                                                "MAPI_E_AMBIGUOUS_RECIP"};
    ASSERT_EQ(mapiNames.size(), mapi);
    for (size_t i = 0; i < mapi; ++i) EXPECT_EQ(g_errorNameTable[i].name, mapiNames[i]) << i;
    EXPECT_EQ(g_errorNameTable[0].code, MAPI_E_NO_SUPPORT);
    EXPECT_EQ(g_errorNameTable[11].code, MAPI_E_NOT_FOUND);
    EXPECT_EQ(g_errorNameTable[mapi - 1].code, MAPI_E_AMBIGUOUS_RECIP);

    EXPECT_STREQ(g_errorNameTable[mapi].name, "WSAEINTR");
    EXPECT_STREQ(g_errorNameTable[mapi + sockets - 1].name, "WSANO_RECOVERY");
    for (size_t i = mapi + 1; i < mapi + sockets; ++i) {
        EXPECT_LT(g_errorNameTable[i - 1].code, g_errorNameTable[i].code) << i;
        EXPECT_EQ(std::strncmp(g_errorNameTable[i].name, "WSA", 3), 0) << i;
    }

    std::set<std::string> earlier;
    for (size_t i = 0; i < mapi + sockets; ++i) earlier.insert(g_errorNameTable[i].name);
    for (size_t i = mapi + sockets; i < RecordCount(); ++i) {
        EXPECT_EQ(earlier.count(g_errorNameTable[i].name), 0u) << g_errorNameTable[i].name;
        if (i > mapi + sockets) {
            EXPECT_LE(std::strcmp(g_errorNameTable[i - 1].name, g_errorNameTable[i].name), 0)
                << g_errorNameTable[i].name;
        }
    }
}

TEST(ErrorNameTable, LaterBlocksStillNameSharedCodes) {
    // The other name of 0x80040102 is in the table, behind the MAPI one.
    bool found = false;
    for (size_t i = g_errorNameMapiCount; g_errorNameTable[i].name; ++i)
        if (g_errorNameTable[i].code == static_cast<HRESULT>(0x80040102)) found = true;
    EXPECT_TRUE(found);
}

TEST(GetErrorName, UnknownTextsOfTwoThreadsDoNotClobberEachOther) {
    std::barrier sync(2);
    std::string seenA, seenB;
    auto lookUp = [&sync](HRESULT code, std::string& seen) {
        const char* text = GetErrorName(code);
        sync.arrive_and_wait();  // both threads have formatted their text
        sync.arrive_and_wait();
        seen = text;
    };
    std::thread a(lookUp, static_cast<HRESULT>(0x12345678), std::ref(seenA));
    std::thread b(lookUp, static_cast<HRESULT>(0x2A), std::ref(seenB));
    a.join();
    b.join();
    EXPECT_EQ(seenA, "Unknown Error 12345678");
    EXPECT_EQ(seenB, "Unknown Error 2a");
}

}  // namespace
