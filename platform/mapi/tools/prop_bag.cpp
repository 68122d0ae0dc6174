// PropBag: property values with owned data, written with one SetProps call.
#include "prop_bag.h"

#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::tools {

SPropValue& PropBag::Add(ULONG tag) {
    SPropValue& v = values_.emplace_back();
    v.ulPropTag = tag;
    v.dwAlignPad = 0;
    return v;
}

void PropBag::Long(ULONG tag, LONG value) {
    Add(tag).Value.l = value;
}

void PropBag::Bool(ULONG tag, bool value) {
    Add(tag).Value.b = value ? 1 : 0;
}

void PropBag::Time(ULONG tag, FILETIME value) {
    Add(tag).Value.ft = value;
}

void PropBag::Text(ULONG tag, const std::string& utf8) {
    SPropValue& v = Add(tag);
    if (PROP_TYPE(tag) == PT_UNICODE) {
        v.Value.lpszW = wide_.emplace_back(Utf8ToUtf16(utf8)).data();
    } else {
        v.Value.lpszA = narrow_.emplace_back(utf8).data();
    }
}

void PropBag::Binary(ULONG tag, const std::string& bytes) {
    SPropValue& v = Add(tag);
    std::string& kept = narrow_.emplace_back(bytes);
    v.Value.bin.cb = static_cast<ULONG>(kept.size());
    v.Value.bin.lpb = reinterpret_cast<LPBYTE>(kept.data());
}

void PropBag::TextList(ULONG tag, const std::vector<std::string>& utf8) {
    SPropValue& v = Add(tag);
    if (PROP_TYPE(tag) == PT_MV_UNICODE) {
        std::vector<LPWSTR>& list = wideLists_.emplace_back();
        for (const std::string& s : utf8) list.push_back(wide_.emplace_back(Utf8ToUtf16(s)).data());
        v.Value.MVszW.cValues = static_cast<ULONG>(list.size());
        v.Value.MVszW.lppszW = list.data();
    } else {
        std::vector<LPSTR>& list = narrowLists_.emplace_back();
        for (const std::string& s : utf8) list.push_back(narrow_.emplace_back(s).data());
        v.Value.MVszA.cValues = static_cast<ULONG>(list.size());
        v.Value.MVszA.lppszA = list.data();
    }
}

HRESULT PropBag::ApplyTo(IMAPIProp* target, ULONG* failedTag) {
    LPSPropProblemArray rawProblems = nullptr;
    HRESULT hr = target->SetProps(Count(), Values(), &rawProblems);
    MapiBuffer<SPropProblemArray> problems(rawProblems);
    if (FAILED(hr)) return hr;
    if (problems && problems->cProblem > 0) {
        if (failedTag != nullptr) *failedTag = problems->aProblem[0].ulPropTag;
        return problems->aProblem[0].scode;
    }
    return S_OK;
}

}  // namespace mapi::tools
