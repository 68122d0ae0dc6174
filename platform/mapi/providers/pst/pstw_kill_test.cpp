// Crash safety of the writable store: a child process saves messages one
// by one and reports each SaveChanges that returned; the parent kills it
// with SIGKILL at a random moment. The file must then open in both readers
// and hold exactly the reported messages (and at most the one whose save
// was under way), each of them whole.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "providers/providers.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

ComRef<IMsgStore> OpenStore(StoreProvider* provider, const std::string& path) {
    ProfileEntry entry{"t", "Crash", provider->Name(), path};
    ComRef<IMsgStore> store;
    std::string error;
    provider->OpenStore(entry, store.Out(), &error);
    return store;
}

ComRef<IMAPIFolder> Subtree(IMsgStore* store) {
    std::vector<BYTE> id = BinaryProp(store, PR_IPM_SUBTREE_ENTRYID);
    ComRef<IUnknown> object;
    ULONG type = 0;
    if (store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                         MAPI_BEST_ACCESS, &type, object.Out()) != S_OK)
        return {};
    return ComRef<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(object.Detach()));
}

// The child: saves messages "item N" with a body that tells N, and writes N
// to the pipe after each SaveChanges returned.
[[noreturn]] void SaveForever(const std::string& path, int pipe) {
    ComRef<IMsgStore> store = OpenStore(PstWriterStoreProvider(), path);
    ComRef<IMAPIFolder> folder = store ? Subtree(store.get()) : ComRef<IMAPIFolder>();
    if (!folder) _exit(2);
    std::string body(3000, 'x');
    for (int n = 0;; ++n) {
        ComRef<IMessage> message;
        if (folder->CreateMessage(nullptr, 0, message.Out()) != S_OK) _exit(3);
        std::string subject = "item " + std::to_string(n);
        std::string text = body + std::to_string(n);
        SPropValue v[2];
        v[0].ulPropTag = PR_SUBJECT;
        v[0].Value.lpszA = subject.data();
        v[1].ulPropTag = PR_BODY;
        v[1].Value.lpszA = text.data();
        if (message->SetProps(2, v, nullptr) != S_OK || message->SaveChanges(0) != S_OK) _exit(4);
        if (write(pipe, &n, sizeof n) != sizeof n) _exit(5);
    }
}

// Subjects and bodies of the subtree's messages as the store gives them.
std::map<std::string, std::string> Messages(IMsgStore* store) {
    std::map<std::string, std::string> out;
    ComRef<IMAPIFolder> folder = Subtree(store);
    if (!folder) return out;
    ComRef<IMAPITable> table;
    if (folder->GetContentsTable(0, table.Out()) != S_OK) return out;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    if (HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw) != S_OK)
        return out;
    RowSetPtr rows(raw);
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SBinary& b = rows->aRow[i].lpProps[0].Value.bin;
        ComRef<IUnknown> object;
        ULONG type = 0;
        if (store->OpenEntry(b.cb, reinterpret_cast<LPENTRYID>(b.lpb), nullptr, 0, &type, object.Out()) != S_OK) {
            out["unopenable " + std::to_string(i)] = "";
            continue;
        }
        auto* message = reinterpret_cast<IMessage*>(object.get());
        out[StringProp(message, PR_SUBJECT)] = StringProp(message, PR_BODY);
    }
    return out;
}

TEST(PstWriterCrash, AKilledWriterLeavesExactlyTheSavedMessages) {
    std::string dir = MakeTempDir();
    std::mt19937 random(20261207);
    for (int round = 0; round < 25; ++round) {
        std::string path = dir + "/crash" + std::to_string(round) + ".pst";
        std::string error;
        ASSERT_EQ(PstWriterStoreProvider()->CreateStore(path, "Crash", &error), S_OK) << error;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            SaveForever(path, fds[1]);
        }
        close(fds[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 900)(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        std::set<int> saved;
        int n = 0;
        while (read(fds[0], &n, sizeof n) == sizeof n) saved.insert(n);
        close(fds[0]);
        EXPECT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended on its own, status " << status;

        for (StoreProvider* provider : {PstWriterStoreProvider(), PstStoreProvider()}) {
            ComRef<IMsgStore> store = OpenStore(provider, path);
            ASSERT_TRUE(store) << "round " << round << ": " << provider->Name() << " cannot open the file";
            std::map<std::string, std::string> found = Messages(store.get());
            int next = saved.empty() ? 0 : *saved.rbegin() + 1;
            for (int s : saved)
                EXPECT_TRUE(found.count("item " + std::to_string(s))) << "round " << round << ": saved item " << s << " lost";
            for (const auto& [subject, body] : found) {
                bool reported = subject.rfind("item ", 0) == 0 && saved.count(std::stoi(subject.substr(5))) == 1;
                bool inFlight = subject == "item " + std::to_string(next);
                EXPECT_TRUE(reported || inFlight) << "round " << round << ": unexpected " << subject;
                EXPECT_EQ(body, std::string(3000, 'x') + subject.substr(5)) << "round " << round << ": " << subject;
            }
        }
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
