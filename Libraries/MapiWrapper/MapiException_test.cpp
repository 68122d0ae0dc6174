// Tests of CMAPIException, CheckHr and ReportError's message box.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapicode.h>

#include "MapiException.h"

namespace {

TEST(CheckHr, LetsSuccessAndWarningsPass) {
    for (HRESULT hr : {S_OK, S_FALSE, MAPI_W_ERRORS_RETURNED, MAPI_W_PARTIAL_COMPLETION,
                       static_cast<HRESULT>(0x7FFFFFFF)})
        EXPECT_EQ(CheckHr(hr), hr);
}

TEST(CheckHr, RaisesFailuresWithEmptyContext) {
    for (HRESULT hr :
         {E_FAIL, MAPI_E_NOT_FOUND, MAPI_E_COLLISION, static_cast<HRESULT>(0x80000000)}) {
        try {
            CheckHr(hr);
            ADD_FAILURE() << "no exception for " << std::hex << hr;
        } catch (CMAPIException e) {
            EXPECT_EQ(e.m_hr, hr);
            EXPECT_EQ(e.m_strContext, "");
        }
    }
}

TEST(CMAPIException, KeepsCodeAndContextAcrossCopies) {
    const CMAPIException nullContext(E_FAIL, nullptr, __FILE__, __LINE__);
    EXPECT_EQ(nullContext.m_strContext, "");

    CMAPIException original(MAPI_E_NOT_FOUND, "IMsgStorePtr::_getIPMRoot");
    CMAPIException copy = original;
    original.m_strContext = "changed";
    EXPECT_EQ(copy.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(copy.m_strContext, "IMsgStorePtr::_getIPMRoot");
}

struct Box {
    std::string caption, text;
};

class ReportErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHandler([this](const std::string& caption, const std::string& text) {
            boxes.push_back({caption, text});
        });
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }
    std::vector<Box> boxes;
};

TEST_F(ReportErrorTest, CaptionIsTitleThenContext) {
    struct Case {
        const char* title;
        const char* context;
        const char* caption;
    } cases[] = {
        {"Start", nullptr, "Start"},
        {"Start", "CGenMapiContPtr::OpenEntryv", "Start\r\nin CGenMapiContPtr::OpenEntryv"},
        {nullptr, nullptr, ""},
        {nullptr, "IMAPIFolderPtr::CreateFolder", "\r\nin IMAPIFolderPtr::CreateFolder"},
    };
    for (const auto& c : cases) {
        boxes.clear();
        CMAPIException(MAPI_E_COLLISION, c.context).ReportError(c.title);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].text, "MAPI_E_COLLISION");
    }
}

TEST_F(ReportErrorTest, UnknownCodeShowsFallbackText) {
    CMAPIException(static_cast<HRESULT>(0x12345678), nullptr).ReportError("Start");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unknown Error 12345678");
}

TEST(ReportError, DefaultWritesCaptionAndTextToStderr) {
    SetMessageBoxHandler(nullptr);
    testing::internal::CaptureStderr();
    CMAPIException(MAPI_E_NOT_FOUND, nullptr).ReportError("Start");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Start: MAPI_E_NOT_FOUND\n");
}

}  // namespace
