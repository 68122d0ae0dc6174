// Copying a whole embedded store one CopyMessages call per item, next to
// SQLite's own backup API copying the same source file in the same run.
//
// Two sources are generated through the store's own interfaces: N small
// items (subject, sender, dates, a short body, one recipient), and N items
// that carry a 4 KiB attachment besides. Each is copied into a new, empty
// store; bytes per second count the source file's size for both copies.
// The aim for the small-item store: per-item copy at least a third of the
// backup API's bytes per second.
//
// usage: embedded_copy_bench [--items N]   (default 20000)
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "embedded_bench_util.h"

namespace {

using namespace embedded_bench;
namespace fs = std::filesystem;

void SetText(IMAPIProp* object, ULONG tag, const std::string& text) {
    SPropValue v{CHANGE_PROP_TYPE(tag, PT_STRING8), 0, {}};
    v.Value.lpszA = const_cast<char*>(text.c_str());
    Must(object->SetProps(1, &v, nullptr), "SetProps");
}

void Generate(const std::string& path, int count, bool attachments) {
    mapi::ComRef<IMsgStore> store = CreateStore(path);
    mapi::ComRef<IMAPIFolder> folder = NewFolder(store.get(), "Items");
    std::string attachment(4096, '\0');
    for (size_t i = 0; i < attachment.size(); ++i) attachment[i] = static_cast<char>(i * 31 + 7);
    for (int i = 0; i < count; ++i) {
        IMessage* raw = nullptr;
        Must(folder->CreateMessage(nullptr, 0, &raw), "CreateMessage");
        mapi::ComRef<IMessage> message(raw);
        SetText(message.get(), PR_SUBJECT, "Status update " + std::to_string(i));
        SetText(message.get(), PR_MESSAGE_CLASS, "IPM.Note");
        SetText(message.get(), PR_SENDER_NAME, "Sender " + std::to_string(i % 97));
        SetText(message.get(), PR_BODY,
                "Hello,\nthe numbers for item " + std::to_string(i) + " are attached.\n" +
                    std::string(200, 'x'));
        SPropValue times[2]{};
        ULONGLONG t = 132000000000000000ULL + static_cast<ULONGLONG>(i) * 6000000000ULL;
        times[0].ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        times[0].Value.ft = FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
        times[1].ulPropTag = PR_CLIENT_SUBMIT_TIME;
        times[1].Value.ft = times[0].Value.ft;
        Must(message->SetProps(2, times, nullptr), "SetProps");
        SPropValue recipient[2]{};
        recipient[0].ulPropTag = PR_DISPLAY_NAME_A;
        recipient[0].Value.lpszA = const_cast<char*>("Team");
        recipient[1].ulPropTag = PR_RECIPIENT_TYPE;
        recipient[1].Value.l = MAPI_TO;
        struct {
            ULONG cEntries;
            ADRENTRY aEntries[1];
        } list{1, {{0, 2, recipient}}};
        Must(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), "ModifyRecipients");
        if (attachments) {
            IAttach* a = nullptr;
            Must(message->CreateAttach(nullptr, 0, nullptr, &a), "CreateAttach");
            mapi::ComRef<IAttach> attach(a);
            SPropValue props[3]{};
            props[0].ulPropTag = PR_ATTACH_METHOD;
            props[0].Value.l = ATTACH_BY_VALUE;
            props[1].ulPropTag = PR_ATTACH_FILENAME_A;
            props[1].Value.lpszA = const_cast<char*>("numbers.bin");
            props[2].ulPropTag = PR_ATTACH_DATA_BIN;
            props[2].Value.bin = SBinary{static_cast<ULONG>(attachment.size()),
                                         reinterpret_cast<LPBYTE>(attachment.data())};
            Must(attach->SetProps(3, props, nullptr), "attachment SetProps");
            Must(attach->SaveChanges(0), "attachment SaveChanges");
        }
        Must(message->SaveChanges(0), "SaveChanges");
    }
}

double FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
}

// Seconds for copying every item of the source's "Items" folder into a new store.
double CopyPerItem(const std::string& from, const std::string& to, int* copied) {
    std::string error;
    IMsgStore* raw = nullptr;
    mapi::ProfileEntry entry{"s", "source", "embedded", from};
    Must(mapi::EmbeddedStoreProvider()->OpenStore(entry, &raw, &error), error.c_str());
    mapi::ComRef<IMsgStore> source(raw);
    mapi::ComRef<IMsgStore> target = CreateStore(to);
    mapi::ComRef<IMAPIFolder> dest = NewFolder(target.get(), "Items");

    auto started = Clock::now();
    mapi::ComRef<IMAPIFolder> folder = NewFolder(source.get(), "Items");
    IMAPITable* table = nullptr;
    Must(folder->GetContentsTable(0, &table), "GetContentsTable");
    mapi::ComRef<IMAPITable> contents(table);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                        &rows),
         "HrQueryAllRows");
    mapi::RowSetPtr hold(rows);
    *copied = 0;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        ENTRYLIST one{1, &rows->aRow[i].lpProps[0].Value.bin};
        if (folder->CopyMessages(&one, nullptr, dest.get(), 0, nullptr, 0) == S_OK) ++*copied;
    }
    return Seconds(started);
}

double Backup(const std::string& from, const std::string& to) {
    ::unlink(to.c_str());
    auto started = Clock::now();
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    if (sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_open(to.c_str(), &dst) != SQLITE_OK)
        Fail("open for backup");
    sqlite3_backup* backup = sqlite3_backup_init(dst, "main", src, "main");
    if (backup == nullptr) Fail("sqlite3_backup_init");
    if (sqlite3_backup_step(backup, -1) != SQLITE_DONE) Fail("sqlite3_backup_step");
    sqlite3_backup_finish(backup);
    sqlite3_close(dst);
    sqlite3_close(src);
    return Seconds(started);
}

void Run(const std::string& dir, const char* label, int count, bool attachments) {
    std::string source = dir + "/" + label + "-source.qst";
    auto started = Clock::now();
    Generate(source, count, attachments);
    double generated = Seconds(started);
    double bytes = FileBytes(source);
    int copied = 0;
    double copy = CopyPerItem(source, dir + "/" + label + "-copy.qst", &copied);
    double backup = Backup(source, dir + "/" + label + "-backup.db");
    double copyRate = bytes / copy;
    double backupRate = bytes / backup;
    std::printf("%s: %d items, source %.1f MB (generated in %.1f s)\n", label, count, bytes / 1e6,
                generated);
    std::printf("  per-item CopyMessages: %d copied in %.2f s = %.0f items/s, %.2f MB/s\n", copied,
                copy, copied / copy, copyRate / 1e6);
    std::printf("  sqlite3_backup of the same file: %.2f s = %.2f MB/s\n", backup,
                backupRate / 1e6);
    std::printf("  ratio per-item/backup (bytes/s): %.3f%s\n", copyRate / backupRate,
                attachments ? ""
                            : (copyRate * 3 >= backupRate ? " (aim >= 0.333: met)"
                                                          : " (aim >= 0.333: NOT met)"));
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--items") == 0) count = std::atoi(argv[i + 1]);
    char pattern[] = "/tmp/embedded-copy-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("mkdtemp");
    std::string dir = pattern;
    Run(dir, "small", count, false);
    Run(dir, "attachments", count, true);
    fs::remove_all(dir);
    return 0;
}
