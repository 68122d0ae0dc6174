// The folder walk of `mapiprofile dump`.
#include "dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <mapiutil.h>

#include "block_sorter.h"
#include "dump_message.h"
#include "error_text.h"
#include "payload.h"
#include "runtime/mapi_ptr.h"
#include "store_folders.h"

namespace mapi::tools {
namespace {

// Rows asked of a contents table at a time: enough to keep the calls few,
// few enough that their entry ids take no memory to speak of.
constexpr LONG kItemBatch = 256;

struct SpecialId {
    SpecialFolder which;
    EntryIdBytes id;
};

class StoreDumper {
public:
    StoreDumper(IMsgStore* store, const DumpOptions& options, std::ostream& out, DumpResult* result,
                std::string* error)
        : store_(store), options_(options), out_(out), result_(result), error_(error) {}

    HRESULT Run() {
        for (SpecialFolder which : kSpecialFolders) {
            EntryIdBytes id;
            if (SUCCEEDED(GetSpecialFolderId(store_, which, &id))) specials_.push_back({which, id});
        }
        EntryIdBytes rootId;
        ComRef<IMAPIFolder> root;
        HRESULT hr = GetIpmSubtreeId(store_, &rootId);
        if (SUCCEEDED(hr)) hr = OpenFolder(store_, rootId, false, &root);
        if (FAILED(hr)) {
            *error_ = "cannot open the root of the IPM subtree (" + DescribeResult(hr) + ")";
            return hr;
        }
        return Children(root.get(), "");
    }

private:
    // Dumps each child of folder, then its subtree.
    HRESULT Children(IMAPIFolder* folder, const std::string& path) {
        ComRef<IMAPITable> table;
        HRESULT hr = folder->GetHierarchyTable(0, table.Out());
        SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME, PR_ENTRYID}};
        LPSRowSet rawRows = nullptr;
        if (SUCCEEDED(hr))
            hr = HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                nullptr, 0, &rawRows);
        RowSetPtr rows(rawRows);
        if (FAILED(hr)) {
            *error_ = "cannot list the subfolders of " + (path.empty() ? "\\" : path) + " (" +
                      DescribeResult(hr) + ")";
            return hr;
        }
        for (ULONG r = 0; r < rows->cRows; ++r) {
            if (rows->aRow[r].cValues < 2) {
                *error_ = "the hierarchy table of " + (path.empty() ? "\\" : path) +
                          " lacks the requested columns";
                return MAPI_E_CORRUPT_DATA;
            }
            const SPropValue* v = rows->aRow[r].lpProps;
            // Names come from the store: a line break or an escape sequence
            // in one must not split the line or reach the terminal.
            std::string name =
                PROP_TYPE(v[0].ulPropTag) == PT_STRING8 ? EscapeControls(v[0].Value.lpszA) : "?";
            std::string childPath = path + "\\" + name;
            if (PROP_TYPE(v[1].ulPropTag) != PT_BINARY) {
                *error_ = "the folder " + childPath + " has no entry identifier";
                return MAPI_E_CORRUPT_DATA;
            }
            EntryIdBytes id(v[1].Value.bin.lpb, v[1].Value.bin.lpb + v[1].Value.bin.cb);
            ComRef<IMAPIFolder> child;
            hr = OpenFolder(store_, id, false, &child);
            if (SUCCEEDED(hr))
                hr = Folder(child.get(), id, childPath);
            else
                *error_ = "cannot open the folder " + childPath + " (" + DescribeResult(hr) + ")";
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    HRESULT Folder(IMAPIFolder* folder, const EntryIdBytes& id, const std::string& path) {
        ComRef<IMAPITable> contents;
        ULONG count = 0;
        HRESULT hr = folder->GetContentsTable(0, contents.Out());
        if (SUCCEEDED(hr)) hr = contents->GetRowCount(0, &count);
        if (FAILED(hr)) {
            *error_ = "cannot read the contents of " + path + " (" + DescribeResult(hr) + ")";
            return hr;
        }
        out_ << "folder " << path << " items=" << count << Special(id) << "\n";
        ++result_->folders;
        result_->items += count;
        if (options_.props) {
            hr = Items(folder, contents.get(), path);
            if (FAILED(hr)) return hr;
        }
        return Children(folder, path);
    }

    std::string Special(const EntryIdBytes& id) {
        for (SpecialId& s : specials_) {
            ULONG same = 0;
            EntryIdBytes a = id;
            HRESULT hr = store_->CompareEntryIDs(
                static_cast<ULONG>(a.size()), reinterpret_cast<LPENTRYID>(a.data()),
                static_cast<ULONG>(s.id.size()), reinterpret_cast<LPENTRYID>(s.id.data()), 0,
                &same);
            if (SUCCEEDED(hr) ? same != 0 : a == s.id)
                return std::string(" special=") + SpecialFolderName(s.which);
        }
        return "";
    }

    // The items of a folder, read from its contents table a batch at a time
    // and sorted through a BlockSorter, so memory stays flat however many
    // items the folder has.
    HRESULT Items(IMAPIFolder* folder, IMAPITable* contents, const std::string& path) {
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        HRESULT hr = contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0);
        if (SUCCEEDED(hr)) hr = contents->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
        BlockSorter sorted;
        std::string sortError;
        while (SUCCEEDED(hr)) {
            LPSRowSet rawRows = nullptr;
            hr = contents->QueryRows(kItemBatch, 0, &rawRows);
            RowSetPtr rows(rawRows);
            if (FAILED(hr) || rows->cRows == 0) break;
            for (ULONG r = 0; r < rows->cRows; ++r) {
                const SRow& row = rows->aRow[r];
                std::string text;
                HRESULT itemHr = row.cValues > 0 && row.lpProps[0].ulPropTag == PR_ENTRYID
                                     ? Item(folder, row.lpProps[0].Value.bin, &text)
                                     : MAPI_E_CORRUPT_DATA;
                if (FAILED(itemHr)) {
                    ++result_->unreadable;
                    text = "  item error=" + FormatTag(static_cast<ULONG>(itemHr)) + "\n";
                } else {
                    text.insert(0, "  item\n");
                }
                if (!sorted.Add(std::move(text), &sortError)) {
                    *error_ = "cannot sort the items of " + path + ": " + sortError;
                    return MAPI_E_DISK_ERROR;
                }
            }
        }
        if (FAILED(hr)) {
            *error_ = "cannot list the items of " + path + " (" + DescribeResult(hr) + ")";
            return hr;
        }
        if (!sorted.WriteSorted(out_, &sortError)) {
            *error_ = "cannot sort the items of " + path + ": " + sortError;
            return MAPI_E_DISK_ERROR;
        }
        return S_OK;
    }

    HRESULT Item(IMAPIFolder* folder, const SBinary& eid, std::string* text) {
        ComRef<IMessage> message;
        ULONG type = 0;
        HRESULT hr = folder->OpenEntry(eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), &IID_IMessage,
                                       0, &type, message.OutAs<IUnknown>());
        if (FAILED(hr)) return hr;
        return AppendMessage(message.get(), 4, names_, text);
    }

    IMsgStore* store_;
    const DumpOptions& options_;
    std::ostream& out_;
    DumpResult* result_;
    std::string* error_;
    std::vector<SpecialId> specials_;
    NamedPropertyNames names_;
};

}  // namespace

HRESULT DumpStore(IMsgStore* store, const DumpOptions& options, std::ostream& out,
                  DumpResult* result, std::string* error) {
    *result = DumpResult();
    return StoreDumper(store, options, out, result, error).Run();
}

}  // namespace mapi::tools
