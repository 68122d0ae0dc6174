// The sample-store generator: the same seed makes the same store, and the
// store has the shape a realistic mailbox needs (tree, kinds, named
// properties, dates over years, attachments, associated items).
#include "sample_store.h"

#include <gtest/gtest.h>

#include <mapiguid.h>
#include <mapitags.h>

#include <set>
#include <sstream>

#include "dump.h"
#include "runtime/alloc_fault.h"
#include "store_folders.h"
#include "test_store.h"

namespace mapi::tools {
namespace {

std::string Dump(IMsgStore* store, bool props) {
    std::ostringstream out;
    DumpResult result;
    std::string error;
    EXPECT_EQ(DumpStore(store, DumpOptions{props}, out, &result, &error), S_OK) << error;
    EXPECT_EQ(result.unreadable, 0u);
    return out.str();
}

SampleSummary Fill(IMsgStore* store, uint32_t items, uint32_t seed) {
    SampleSummary summary;
    std::string error;
    EXPECT_EQ(FillSampleStore(store, SampleOptions{items, seed}, &summary, &error), S_OK) << error;
    return summary;
}

// The text of one folder's section of a dump: its line and its items.
std::string Section(const std::string& dump, const std::string& path) {
    size_t start = dump.find("folder " + path + " items=");
    if (start == std::string::npos) return "";
    size_t end = dump.find("\nfolder ", start);
    return dump.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

int ItemCount(const std::string& dump, const std::string& path) {
    std::string section = Section(dump, path);
    size_t at = section.find(" items=");
    return at == std::string::npos ? -1 : std::stoi(section.substr(at + 7));
}

TEST(SampleStoreTest, SameSeedMakesTheSameStoreAnotherSeedAnother) {
    TempStoreDir dir;
    ComRef<IMsgStore> a = dir.NewStore("a"), b = dir.NewStore("b"), c = dir.NewStore("c");
    ASSERT_TRUE(a && b && c);
    SampleSummary sa = Fill(a.get(), 150, 11);
    SampleSummary sb = Fill(b.get(), 150, 11);
    Fill(c.get(), 150, 12);
    EXPECT_EQ(sa.mails, sb.mails);
    EXPECT_EQ(sa.attachments, sb.attachments);
    std::string dumpA = Dump(a.get(), true);
    EXPECT_EQ(dumpA, Dump(b.get(), true));
    EXPECT_NE(dumpA, Dump(c.get(), true));
}

// Allocation failures at points spread over a fill: it stops with a code
// and a message and frees every MAPI buffer it took.
TEST(SampleStoreTest, AllocationFailuresStopTheFillCleanly) {
    TempStoreDir dir;
    const long baseline = LiveAllocationChains();
    for (long n : {0L, 1L, 2L, 3L, 5L, 8L, 13L, 21L, 34L, 55L, 89L, 144L, 233L, 377L}) {
        ComRef<IMsgStore> store = dir.NewStore("fault" + std::to_string(n));
        ASSERT_TRUE(store);
        SampleSummary summary;
        std::string error;
        SetAllocationFailureCountdown(n);
        HRESULT hr = FillSampleStore(store.get(), SampleOptions{20, 1}, &summary, &error);
        SetAllocationFailureCountdown(-1);
        if (FAILED(hr)) {
            EXPECT_FALSE(error.empty()) << n;
        }
        store.Reset();
        EXPECT_EQ(LiveAllocationChains(), baseline) << "after failing allocation " << n;
    }
}

class SampleShapeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempStoreDir("SampleShapeTest");
        store_ = new ComRef<IMsgStore>(dir_->NewStore("shape"));
        summary_ = Fill(store_->get(), 500, 5);
        folders_ = Dump(store_->get(), false);
        props_ = Dump(store_->get(), true);
    }
    static void TearDownTestSuite() {
        delete store_;
        delete dir_;
    }
    static TempStoreDir* dir_;
    static ComRef<IMsgStore>* store_;
    static SampleSummary summary_;
    static std::string folders_;
    static std::string props_;
};
TempStoreDir* SampleShapeTest::dir_;
ComRef<IMsgStore>* SampleShapeTest::store_;
SampleSummary SampleShapeTest::summary_;
std::string SampleShapeTest::folders_;
std::string SampleShapeTest::props_;

TEST_F(SampleShapeTest, ItemKindsAddUpToTheRequestedCount) {
    EXPECT_EQ(summary_.contacts, 20u);
    EXPECT_EQ(summary_.appointments, 25u);
    EXPECT_EQ(summary_.mails, 455u);
    EXPECT_EQ(summary_.associated, 3u);
    EXPECT_GT(summary_.attachments, 20u);
    EXPECT_GT(summary_.embedded, 0u);
    EXPECT_GT(summary_.unicodeSubjects, 10u);
    EXPECT_EQ(ItemCount(folders_, "\\Calendar"), 25);
    EXPECT_EQ(ItemCount(folders_, "\\Contacts") + ItemCount(folders_, "\\Contacts\\Suppliers"), 20);

    int total = 0;
    std::istringstream lines(folders_);
    for (std::string line; std::getline(lines, line);)
        total += std::stoi(line.substr(line.find(" items=") + 7));
    EXPECT_EQ(total, 500);
}

TEST_F(SampleShapeTest, TreeIsNestedBelowTheSubtreeAndTheSpecialFolders) {
    for (const char* path :
         {"\\Inbox\\Projects\\Zephyr\\Drawings", "\\Inbox\\Newsletters", "\\Sent Items\\Personal",
          "\\Deleted Items\\Recovered", "\\Archive\\2016", "\\Kunden\\M\xC3\xBCller GmbH",
          "\\Contacts\\Suppliers", "\\Drafts"})
        EXPECT_GE(ItemCount(folders_, path), 0) << path;
    EXPECT_NE(folders_.find("folder \\Inbox items="), std::string::npos);
    EXPECT_NE(Section(folders_, "\\Inbox").find(" special=inbox\n"), std::string::npos);
    EXPECT_NE(Section(folders_, "\\Sent Items").find(" special=sentmail\n"), std::string::npos);
    EXPECT_GT(ItemCount(folders_, "\\Inbox"), ItemCount(folders_, "\\Outbox"));
}

TEST_F(SampleShapeTest, NamedPropertiesOfEachSetArePresentByName) {
    for (const char* key : {
             "{00020329-0000-0000-C000-000000000046}:\"Keywords\":0x101E=[\"",
             "{00062004-0000-0000-C000-000000000046}:0x00008083:0x001F=\"",
             "{00062002-0000-0000-C000-000000000046}:0x0000820D:0x0040=20",
             "{00062008-0000-0000-C000-000000000046}:0x00008503:0x000B=",
         })
        EXPECT_NE(props_.find(key), std::string::npos) << key;

    GUID set = PS_PUBLIC_STRINGS;
    WCHAR name[] = u"Keywords";
    MAPINAMEID id{&set, MNID_STRING, {}};
    id.Kind.lpwstrName = name;
    LPMAPINAMEID ids[] = {&id};
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ((*store_)->GetIDsFromNames(1, ids, 0, &raw), S_OK);
    MapiBuffer<SPropTagArray> tags(raw);
    EXPECT_GE(PROP_ID(tags->aulPropTag[0]), 0x8000u);
}

TEST_F(SampleShapeTest, ItemsCarryTheirPropertiesBodiesAndAttachments) {
    for (const char* line :
         {"    0x0037001F=\"", "    0x0037001E=\"", "    0x001A001E=\"IPM.Note\"",
          "    0x001A001E=\"IPM.Contact\"", "    0x001A001E=\"IPM.Appointment\"",
          "    0x0C1A001E=\"", "    0x0065001E=\"", "    0x1000001E=\"Hello,",
          "    0x10130102=<3C68746D6C3E", "    recipient\n      0x", "    attachment\n      0x",
          "      message\n        0x", "      0x37010102=<"})
        EXPECT_NE(props_.find(line), std::string::npos) << line;
}

TEST_F(SampleShapeTest, DatesSpreadOverYearsAndArchiveFoldersKeepTheirYear) {
    std::set<std::string> years;
    for (size_t at = props_.find("    0x0E060040="); at != std::string::npos;
         at = props_.find("    0x0E060040=", at + 1))
        years.insert(props_.substr(at + 15, 4));
    EXPECT_GE(years.size(), 8u);

    std::string archive = Section(props_, "\\Archive\\2016");
    ASSERT_GT(ItemCount(props_, "\\Archive\\2016"), 0);
    for (size_t at = archive.find("0x00390040="); at != std::string::npos;
         at = archive.find("0x00390040=", at + 1))
        EXPECT_EQ(archive.substr(at + 11, 5), "2016-");
}

TEST_F(SampleShapeTest, AssociatedItemsStayOutOfTheNormalContents) {
    EntryIdBytes id;
    ASSERT_EQ(GetSpecialFolderId(store_->get(), SpecialFolder::kInbox, &id), S_OK);
    ComRef<IMAPIFolder> inbox;
    ASSERT_EQ(OpenFolder(store_->get(), id, false, &inbox), S_OK);
    ComRef<IMAPITable> hidden;
    ULONG count = 0;
    ASSERT_EQ(inbox->GetContentsTable(MAPI_ASSOCIATED, hidden.Out()), S_OK);
    ASSERT_EQ(hidden->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(props_.find("IPM.Configuration.WorkHours"), std::string::npos);
}

}  // namespace
}  // namespace mapi::tools
