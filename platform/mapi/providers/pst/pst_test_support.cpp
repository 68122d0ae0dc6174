// Test helpers for the personal folder file provider.
#include "providers/pst/pst_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <system_error>
#include <utility>

#include <unistd.h>

#include <mapiutil.h>

#include "providers/providers.h"
#include "runtime/provider.h"

namespace mapi::pst::testing {

bool BadSectors::Read(uint64_t at, size_t n, uint8_t* out, std::string* why) const {
    if (at < to_ && at + n > from_) {
        *why = "a read error (Input/output error) at offset " + std::to_string(std::max(at, from_));
        return false;
    }
    if (at > bytes_.size() || bytes_.size() - at < n) {
        *why = "the file ends before offset " + std::to_string(at + n);
        return false;
    }
    std::memcpy(out, bytes_.data() + at, n);
    return true;
}

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

LONG LongProp(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return kNoLong;
    MapiBuffer<SPropValue> value(raw);
    return value->Value.l;
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

namespace {

class Digest {
public:
    void Add(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) hash_ = (hash_ ^ p[i]) * 1099511628211ull;
        length_ += size;
    }
    template <class T>
    void AddValue(const T& value) {
        Add(&value, sizeof value);
    }
    void AddProp(const SPropValue& v) {
        AddValue(v.ulPropTag);
        ULONG type = PROP_TYPE(v.ulPropTag);
        switch (type) {
            case PT_STRING8:
                Add(v.Value.lpszA, std::strlen(v.Value.lpszA));
                break;
            case PT_UNICODE:
                for (const WCHAR* c = v.Value.lpszW; *c != 0; ++c) AddValue(*c);
                break;
            case PT_BINARY:
                Add(v.Value.bin.lpb, v.Value.bin.cb);
                break;
            case PT_CLSID:
                Add(v.Value.lpguid, sizeof(GUID));
                break;
            case PT_MV_STRING8:
                for (ULONG i = 0; i < v.Value.MVszA.cValues; ++i)
                    Add(v.Value.MVszA.lppszA[i], std::strlen(v.Value.MVszA.lppszA[i]) + 1);
                break;
            case PT_MV_UNICODE:
                for (ULONG i = 0; i < v.Value.MVszW.cValues; ++i)
                    for (const WCHAR* c = v.Value.MVszW.lppszW[i];; ++c) {
                        AddValue(*c);
                        if (*c == 0) break;
                    }
                break;
            case PT_MV_BINARY:
                for (ULONG i = 0; i < v.Value.MVbin.cValues; ++i) {
                    AddValue(v.Value.MVbin.lpbin[i].cb);
                    Add(v.Value.MVbin.lpbin[i].lpb, v.Value.MVbin.lpbin[i].cb);
                }
                break;
            case PT_MV_LONG:
                Add(v.Value.MVl.lpl, v.Value.MVl.cValues * sizeof(LONG));
                break;
            case PT_MV_I2:
                Add(v.Value.MVi.lpi, v.Value.MVi.cValues * sizeof(SHORT));
                break;
            case PT_MV_SYSTIME:
                Add(v.Value.MVft.lpft, v.Value.MVft.cValues * sizeof(FILETIME));
                break;
            case PT_MV_I8:
                Add(v.Value.MVli.lpli, v.Value.MVli.cValues * sizeof(LARGE_INTEGER));
                break;
            case PT_MV_DOUBLE:
                Add(v.Value.MVdbl.lpdbl, v.Value.MVdbl.cValues * sizeof(double));
                break;
            case PT_MV_CLSID:
                Add(v.Value.MVguid.lpguid, v.Value.MVguid.cValues * sizeof(GUID));
                break;
            case PT_OBJECT:
                break;
            // Only the bytes of the value's own type: the rest of the union
            // is whatever the provider's buffer held, and differs run to run.
            case PT_BOOLEAN:
                AddValue(v.Value.b);
                break;
            case PT_I2:
                AddValue(v.Value.i);
                break;
            case PT_LONG:
            case PT_ERROR:
                AddValue(v.Value.l);
                break;
            case PT_R4:
                AddValue(v.Value.flt);
                break;
            default:
                AddValue(v.Value.li.QuadPart);
                break;  // the 8-byte types
        }
    }
    std::string Text() const {
        char text[40];
        std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(hash_),
                      length_);
        return text;
    }

private:
    uint64_t hash_ = 1469598103934665603ull;
    size_t length_ = 0;
};

bool AddProps(IMAPIProp* object, Digest* digest) {
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    HRESULT hr = object->GetProps(nullptr, 0, &count, &raw);
    MapiBuffer<SPropValue> values(raw);
    if (FAILED(hr)) return false;
    for (ULONG i = 0; i < count; ++i) digest->AddProp(raw[i]);
    return true;
}

bool AddRows(IMAPITable* table, Digest* digest, std::vector<LONG>* numbers = nullptr) {
    LPSRowSet raw = nullptr;
    if (HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &raw) != S_OK) return false;
    RowSetPtr rows(raw);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        for (ULONG c = 0; c < rows->aRow[r].cValues; ++c) {
            const SPropValue& v = rows->aRow[r].lpProps[c];
            if (PROP_ID(v.ulPropTag) == PROP_ID(PR_INSTANCE_KEY)) continue;
            digest->AddProp(v);
            if (numbers != nullptr && v.ulPropTag == PR_ATTACH_NUM) numbers->push_back(v.Value.l);
        }
    }
    return true;
}

bool DigestMessage(IMessage* message, Digest* digest, int depth) {
    if (depth > 8 || !AddProps(message, digest)) return false;
    ComRef<IMAPITable> recipients, attachments;
    std::vector<LONG> numbers;
    if (message->GetRecipientTable(0, recipients.Out()) != S_OK ||
        !AddRows(recipients.get(), digest) ||
        message->GetAttachmentTable(0, attachments.Out()) != S_OK ||
        !AddRows(attachments.get(), digest, &numbers))
        return false;
    for (LONG number : numbers) {
        ComRef<IAttach> attach;
        if (message->OpenAttach(static_cast<ULONG>(number), nullptr, 0, attach.Out()) != S_OK ||
            !AddProps(attach.get(), digest))
            return false;
        ComRef<IUnknown> embedded;
        if (attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, embedded.Out()) == S_OK &&
            !DigestMessage(reinterpret_cast<IMessage*>(embedded.get()), digest, depth + 1))
            return false;
    }
    return true;
}

std::string Hex(const SBinary& b) {
    std::string text;
    char byte[3];
    for (ULONG i = 0; i < b.cb; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", b.lpb[i]);
        text += byte;
    }
    return text;
}

void FingerprintFolder(IMAPIFolder* folder, std::map<std::string, std::string>* out, int depth) {
    if (depth > 64) return;
    for (ULONG flags : {0u, static_cast<ULONG>(MAPI_ASSOCIATED)}) {
        ComRef<IMAPITable> contents;
        if (folder->GetContentsTable(flags, contents.Out()) != S_OK) continue;
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        LPSRowSet raw = nullptr;
        if (HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                           nullptr, 0, &raw) != S_OK)
            continue;
        RowSetPtr rows(raw);
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue& id = rows->aRow[i].lpProps[0];
            if (PROP_TYPE(id.ulPropTag) != PT_BINARY) continue;
            ComRef<IUnknown> object;
            ULONG type = 0;
            Digest digest;
            bool ok =
                folder->OpenEntry(id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb),
                                  nullptr, 0, &type, object.Out()) == S_OK &&
                DigestMessage(reinterpret_cast<IMessage*>(object.get()), &digest, 0);
            (*out)[Hex(id.Value.bin)] = ok ? digest.Text() : "fail";
        }
    }
    ComRef<IMAPITable> hierarchy;
    if (folder->GetHierarchyTable(0, hierarchy.Out()) != S_OK) return;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    if (HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                       nullptr, 0, &raw) != S_OK)
        return;
    RowSetPtr rows(raw);
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue& id = rows->aRow[i].lpProps[0];
        if (PROP_TYPE(id.ulPropTag) != PT_BINARY) continue;
        ComRef<IUnknown> object;
        ULONG type = 0;
        if (folder->OpenEntry(id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb),
                              nullptr, 0, &type, object.Out()) == S_OK)
            FingerprintFolder(reinterpret_cast<IMAPIFolder*>(object.get()), out, depth + 1);
    }
}

}  // namespace

std::map<std::string, std::string> FingerprintStore(IMsgStore* store) {
    std::map<std::string, std::string> out;
    ComRef<IUnknown> root;
    ULONG type = 0;
    if (store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()) == S_OK)
        FingerprintFolder(reinterpret_cast<IMAPIFolder*>(root.get()), &out, 0);
    return out;
}

namespace {

// The folders a test program made, removed when it ends. Children forked by
// the damage tests end too, so only the process that made a folder removes
// it.
class TempDirs {
public:
    ~TempDirs() {
        for (const auto& [dir, owner] : dirs_) {
            std::error_code ec;
            if (owner == ::getpid()) std::filesystem::remove_all(dir, ec);
        }
    }
    void Add(const std::string& dir) { dirs_.emplace_back(dir, ::getpid()); }

private:
    std::vector<std::pair<std::string, pid_t>> dirs_;
};

TempDirs& MadeDirs() {
    static TempDirs dirs;
    return dirs;
}

}  // namespace

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quirnel-pst-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    if (made == nullptr) return std::string();
    MadeDirs().Add(made);
    return std::string(made);
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
    // Folders without a name come out as "FolderNNNNN" and are no items.
    const std::regex item("(?!Folder[0-9])[A-Za-z]+[0-9]{5}");
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
