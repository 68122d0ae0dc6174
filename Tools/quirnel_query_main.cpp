// quirnel-query: compiles one query and prints what the compiler produced,
// for users who script and for tests that observe the compiler from outside.
//
//   quirnel-query [--store NAME] QUERY
//   quirnel-query --saved
//
// Named fields resolve against the IPM subtree root of store NAME, or without
// --store against a fresh temporary embedded store (so the first named field
// of a query maps to 0x8000). When a profile exists its session is given to
// the compiler for `from`. The user's saved queries can be called in QUERY.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <mapix.h>
#include <runtime/provider.h>

#include "MapiWrapper.h"
#include "restriction_compiler.h"
#include "restriction_text.h"
#include "saved_queries.h"
#include "stored_query.h"

namespace {

constexpr int kUsageError = 64;

bool EqualNoCase(const std::string& a, const char* b) {
    if (b == nullptr) return false;
    std::string x = a, y = b;
    for (char& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : y) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return x == y;
}

// A store created for this run in a directory of its own, removed at the end.
class TemporaryStore {
public:
    ~TemporaryStore() {
        m_store = IMsgStorePtr();
        std::error_code ignored;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
    }

    // The IPM subtree root of the new store; throws CMAPIException.
    IMAPIFolderPtr Create() {
        char pattern[] = "/tmp/quirnel-query-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw CMAPIException(MAPI_E_DISK_ERROR, "mkdtemp");
        m_dir = pattern;
        mapi::StoreProvider* provider = mapi::FindProvider("embedded");
        if (provider == nullptr) throw CMAPIException(MAPI_E_NOT_FOUND, "embedded provider");
        mapi::ProfileEntry entry{"query", "Query", "embedded", m_dir + "/query.store"};
        std::string error;
        CheckHr(provider->CreateStore(entry.path, entry.displayName, &error));
        LPMDB raw = nullptr;
        CheckHr(provider->OpenStore(entry, &raw, &error));
        m_store = IMsgStorePtr(raw);
        raw->Release();
        return m_store._getIPMRoot();
    }

private:
    std::string m_dir;
    IMsgStorePtr m_store;
};

// The IPM subtree root of the first store of the session with that name.
IMAPIFolderPtr OpenNamedStoreRoot(CMapiSession& session, const std::string& name) {
    CMapiRowSet stores;
    stores.QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG row = 0; row < stores.Count(); ++row) {
        if (!EqualNoCase(name, stores.Cell(row, 0).String8())) continue;
        CMapiBinary id;
        id = stores.Cell(row, 1);
        CInterfaceRef<IUnknown> opened = session.OpenEntry(id);
        return IMsgStorePtr(static_cast<LPMDB>(opened.get()))._getIPMRoot();
    }
    throw CMAPIException(MAPI_E_NOT_FOUND, ("no store named " + name).c_str());
}

void PrintResults(const RestrictionCompiler& compiler) {
    std::printf("restriction: %s\n", RestrictionText(compiler.Restriction()).c_str());
    if (const SPropTagArray* columns = compiler.Columns())
        std::printf("columns: %s\n", ColumnsText(*columns).c_str());
    if (const SSortOrderSet* sortOrder = compiler.SortOrder())
        std::printf("sort: %s\n", SortOrderText(*sortOrder).c_str());
}

// The user's saved queries; what is wrong with their file goes to standard
// error, line by line, and the queries that could be read still count.
SavedQueryList LoadUserQueries() {
    SavedQueryList saved = LoadSavedQueries(SavedQueriesPath());
    for (const std::string& problem : saved.problems)
        std::fprintf(stderr, "quirnel-query: %s\n", problem.c_str());
    return saved;
}

int ListSaved() {
    for (const SavedQuery& q : LoadUserQueries().queries) {
        std::string call = q.name + "(";
        for (size_t i = 0; i < q.parameters.size(); ++i)
            call += (i != 0 ? ", " : "") + q.parameters[i].name;
        std::printf("%s)  %s\n", call.c_str(), q.description.c_str());
    }
    return 0;
}

int Run(const std::string& storeName, const std::string& query) {
    StoredQueryCollection stored;
    FillStoredQueries(LoadUserQueries().queries, stored);
    MAPIInitialize(nullptr);
    CMapiSession session;
    LPMAPISESSION raw = nullptr;
    if (SUCCEEDED(MAPILogonEx(0, nullptr, nullptr, 0, &raw)) && raw != nullptr) session.Attach(raw);

    RestrictionCompiler compiler;
    TemporaryStore temporary;
    IMAPIFolderPtr root;
    if (!storeName.empty()) {
        if (!session) throw CMAPIException(MAPI_E_LOGON_FAILED, "no profile to find the store in");
        root = OpenNamedStoreRoot(session, storeName);
    } else {
        root = temporary.Create();
    }
    compiler.SetPropertyObject(root._rawInterface());
    if (session) compiler.SetSession(session._rawInterface());
    compiler.SetStoredQueries(&stored);

    compiler.Compile(query.c_str());
    if (compiler.HasError()) {
        std::printf("error: %s\n", QuotedText(compiler.ErrorText()).c_str());
        return 1;
    }
    PrintResults(compiler);
    // The language ends at its first complete condition; what it did not
    // read is shown, so that a user sees the part a copy run would refuse.
    if (!compiler.UnreadText().empty())
        std::printf("unread: %s\n", QuotedText(compiler.UnreadText()).c_str());
    return 0;
}

constexpr char kUsage[] =
    "usage: quirnel-query [--store NAME] QUERY\n"
    "       quirnel-query --saved\n"
    "Compiles QUERY and prints the restriction, columns and sort order it makes.\n"
    "Named fields resolve against store NAME of the profile, or else against a\n"
    "temporary empty store. QUERY may call the saved queries of\n"
    "~/.config/quirnel/queries.ini by name, as in FromSender(\"Anna\").\n"
    "  --store NAME   resolve named fields in this store\n"
    "  --saved        list the saved queries with their parameters\n"
    "  --help         this text\n"
    "  --version      the program's version\n";

int UsageError(const std::string& what) {
    std::fprintf(stderr, "quirnel-query: %s\nTry 'quirnel-query --help'.\n", what.c_str());
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    // A server or a reader that goes away must give a write error to
    // handle, not end the process without a word.
    std::signal(SIGPIPE, SIG_IGN);
    std::string storeName;
    std::string query;
    bool haveQuery = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("quirnel-query %s\n", QUIRNEL_VERSION);
            return 0;
        }
        if (arg == "--saved" && argc == 2) return ListSaved();
        if (arg == "--store") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return UsageError("--store needs a name");
            storeName = argv[++i];
        } else if (arg == "--") {
            // Everything after it is the query, even a text that starts with "--".
            if (i + 2 != argc || haveQuery) return UsageError("one query expected after --");
            query = argv[++i];
            haveQuery = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return UsageError("unknown option \"" + arg + "\"");
        } else if (haveQuery) {
            return UsageError("one query expected, give it as one argument in quotes");
        } else {
            query = arg;
            haveQuery = true;
        }
    }
    if (!haveQuery) return UsageError("no query given");
    try {
        return Run(storeName, query);
    } catch (const CMAPIException& e) {
        std::fprintf(stderr, "quirnel-query: %s%s%s\n", GetErrorName(e.m_hr),
                     e.m_strContext.empty() ? "" : " in ", e.m_strContext.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quirnel-query: %s\n", e.what());
    }
    return 2;
}
