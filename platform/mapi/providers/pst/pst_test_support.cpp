// Test helpers for the personal folder file provider.
#include "providers/pst/pst_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include <mapiutil.h>

#include "providers/providers.h"
#include "runtime/provider.h"

namespace mapi::pst::testing {

std::string SamplePath(const std::string& name) {
    return std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/" + name;
}

std::vector<std::string> SampleNames() {
    return {"outlook.pst", "passworded.pst", "32-bit.pst", "support.pst"};
}

ComRef<IMsgStore> OpenStoreFile(const std::string& path, HRESULT* hr, std::string* error) {
    ProfileEntry entry{"test", "Sample", "pst", path};
    ComRef<IMsgStore> store;
    std::string message;
    HRESULT result = PstStoreProvider()->OpenStore(entry, store.Out(), &message);
    if (hr != nullptr) *hr = result;
    if (error != nullptr) *error = message;
    return store;
}

std::vector<BYTE> BinaryProp(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return {};
    MapiBuffer<SPropValue> value(raw);
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

std::string StringProp(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return "<missing>";
    MapiBuffer<SPropValue> value(raw);
    return value->Value.lpszA;
}

namespace {

void Walk(IMAPIFolder* folder, const std::string& path, std::vector<FolderSummary>* out,
          std::vector<std::string>* failures) {
    ComRef<IMAPITable> hierarchy;
    HRESULT hr = folder->GetHierarchyTable(0, hierarchy.Out());
    if (hr != S_OK) {
        failures->push_back(path + ": hierarchy table " + std::to_string(hr));
        return;
    }
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME, PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    hr = HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                        nullptr, 0, &raw);
    RowSetPtr rows(raw);
    if (hr != S_OK) {
        failures->push_back(path + ": hierarchy rows " + std::to_string(hr));
        return;
    }
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        std::string name = PROP_TYPE(row.lpProps[0].ulPropTag) == PT_STRING8
                               ? row.lpProps[0].Value.lpszA
                               : "<error>";
        std::string childPath = path.empty() ? name : path + "/" + name;
        if (PROP_TYPE(row.lpProps[1].ulPropTag) != PT_BINARY) {
            failures->push_back(childPath + ": no entry id");
            continue;
        }
        const SBinary& id = row.lpProps[1].Value.bin;
        ComRef<IUnknown> object;
        ULONG type = 0;
        hr = folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                               MAPI_BEST_ACCESS, &type, object.Out());
        if (hr != S_OK) {
            failures->push_back(childPath + ": open " + std::to_string(hr));
            continue;
        }
        auto* child = reinterpret_cast<IMAPIFolder*>(object.get());
        FolderSummary summary;
        summary.path = childPath;
        summary.entryId.assign(id.lpb, id.lpb + id.cb);
        LPSPropValue typeValue = nullptr;
        if (HrGetOneProp(child, PR_FOLDER_TYPE, &typeValue) == S_OK) {
            summary.folderType = typeValue->Value.l;
            MAPIFreeBuffer(typeValue);
        }
        for (ULONG flags : {0u, static_cast<ULONG>(MAPI_ASSOCIATED)}) {
            ComRef<IMAPITable> contents;
            ULONG count = 0;
            if (child->GetContentsTable(flags, contents.Out()) != S_OK ||
                contents->GetRowCount(0, &count) != S_OK) {
                failures->push_back(childPath + ": contents table");
                continue;
            }
            (flags == 0 ? summary.items : summary.associated) = count;
        }
        out->push_back(summary);
        Walk(child, childPath, out, failures);
    }
}

}  // namespace

std::vector<FolderSummary> WalkFolders(IMAPIFolder* root, std::vector<std::string>* failures) {
    std::vector<FolderSummary> out;
    Walk(root, "", &out, failures);
    return out;
}

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quirnel-pst-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    return made == nullptr ? std::string() : std::string(made);
}

bool PffexportCounts(const std::string& path, const std::string& dir,
                     std::map<std::string, ULONG>* counts, std::string* exportRoot) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    std::string target = dir + "/export";
    std::string log = dir + "/export.log";
    std::string command =
        "pffexport -q -m items -l '" + log + "' -t '" + target + "' '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    fs::path root = target + ".export";
    if (!fs::is_directory(root)) return false;
    *exportRoot = root.string();
    // pffexport writes one directory per item, named by its kind and index.
    const std::regex item("[A-Za-z]+[0-9]{5}");
    std::vector<fs::path> pending = {root};
    while (!pending.empty()) {
        fs::path folder = pending.back();
        pending.pop_back();
        ULONG items = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (!entry.is_directory()) continue;
            if (std::regex_match(entry.path().filename().string(), item))
                ++items;
            else
                pending.push_back(entry.path());
        }
        if (folder != root) (*counts)[fs::relative(folder, root).string()] += items;
    }
    // Items of a kind pffexport cannot write (free/busy data, for one) get no
    // directory; its log names them under the folder last created.
    std::ifstream in(log);
    std::string line, current;
    const std::string created = "Created directory: ";
    while (std::getline(in, line)) {
        if (line.rfind(created, 0) == 0 && line.size() > created.size() + 1) {
            fs::path made = line.substr(created.size(), line.size() - created.size() - 1);
            if (!std::regex_match(made.filename().string(), item)) current = made.string();
        } else if (line.rfind("Skipped export of item", 0) == 0 && !current.empty()) {
            std::string relative = fs::relative(current, root).string();
            if (relative != ".") ++(*counts)[relative];
        }
    }
    return true;
}

}  // namespace mapi::pst::testing
