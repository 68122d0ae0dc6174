// The message copy: copies the items of one folder, one CopyMessages call
// per item, so that an item that cannot be read fails alone and Stop takes
// effect between items.
#include <cstdio>
#include <string>

#include "copy_engine.h"

namespace quirnel {

namespace {

// The progress text is refreshed only every this many items.
constexpr ULONG kProgressStep = 32;

std::string ProgressText(ULONG index, ULONG count) {
    char text[64];
    std::snprintf(text, sizeof text, "%u vom %u", static_cast<unsigned>(index),
                  static_cast<unsigned>(count));
    return text;
}

std::string TextOf(const CMapiPropValue& cell) {
    LPCSTR text = cell.String8();
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

void CCopyEngine::CopyFolderContents(IMAPIFolderPtr source, IMAPIFolderPtr target,
                                     bool associated) {
    try {
        RestrictionCompiler compiler;
        CMapiRowSet rows;
        if (!ReadItemRows(compiler, source, associated, rows)) return;
        CopyItems(source, target, rows);
    } catch (const CMAPIException& e) {
        LogLine("%s", GetErrorName(e.m_hr));
    } catch (const std::exception& e) {
        LogLine("%s", e.what());
    } catch (...) {
        LogLine("%s", "Unknown exception");
    }
}

bool CCopyEngine::ReadItemRows(RestrictionCompiler& compiler, const IMAPIFolderPtr& source,
                               bool associated, CMapiRowSet& rows) {
    IMAPITablePtr table = associated ? source._rawAssociatedTable() : source._rawContentsTable();
    // Read anew for every folder: an edit during the run applies from the
    // next folder on. Blanks alone are a query too.
    std::string query = m_host.QueryText();
    if (!query.empty()) {
        compiler.SetPropertyObject(source._rawInterface());
        compiler.Compile(query.c_str());
        if (compiler.HasError()) {
            m_host.StopFlag().store(true);
            m_outcome = CopyOutcome::QueryFailed;
            m_host.ShowMessageBox("Query", compiler.ErrorText());
            return false;
        }
        // A refused restriction must not turn into copying every item of
        // the folder: it fails the folder like an unreadable table.
        if (const SRestriction* restriction = compiler.Restriction())
            CheckHr(table->Restrict(const_cast<LPSRestriction>(restriction), TBL_BATCH));
    }
    rows.QueryAllRows(table.get(), {PR_SUBJECT, PR_DISPLAY_NAME, PR_ENTRYID});
    return true;
}

void CCopyEngine::CopyItems(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target,
                            const CMapiRowSet& rows) {
    const ULONG count = rows.Count();
    for (ULONG i = 0; i < count; ++i) {
        if (i % kProgressStep == 0) m_host.SetProgressText(ProgressText(i, count));
        if (StopRequested()) break;

        std::string subject = TextOf(rows.Cell(i, 0));
        if (subject.empty()) subject = TextOf(rows.Cell(i, 1));

        // A row whose identifier could not be read names no item to copy;
        // it is reported like an item that failed, never passed on.
        CMapiPropValue eid = rows.Cell(i, 2);
        HRESULT hr;
        if (eid.Type() == PT_BINARY) {
            SBinary bin = eid.get()->Value.bin;
            ENTRYLIST list{1, &bin};
            hr = source._rawInterface()->CopyMessages(&list, nullptr, target._rawInterface(), 0,
                                                      nullptr, 0);
        } else {
            hr = eid.Type() == PT_ERROR && FAILED(eid.get()->Value.err) ? eid.get()->Value.err
                                                                        : MAPI_E_NOT_FOUND;
        }
        // Warnings (a partial completion) are failures of this one item too.
        if (hr != S_OK) {
            LogLine("copy message %s", subject.c_str());
            LogLine("Error %s", GetErrorName(hr));
        }
    }
}

}  // namespace quirnel
