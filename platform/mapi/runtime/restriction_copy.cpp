// Deep copies of restriction trees.
#include "restriction_copy.h"

#include <mapix.h>

#include "prop_convert.h"

namespace mapi {

namespace {

HRESULT CopyNodes(const SRestriction* src, ULONG count, void* parent, LPSRestriction* out) {
    *out = nullptr;
    if (count == 0) return S_OK;
    void* p = nullptr;
    HRESULT hr = MAPIAllocateMore(count * sizeof(SRestriction), parent, &p);
    if (hr != S_OK) return hr;
    *out = static_cast<LPSRestriction>(p);
    for (ULONG i = 0; i < count; ++i) {
        hr = CopyRestriction(src[i], parent, &(*out)[i]);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

HRESULT CopyPropValue(const SPropValue* src, void* parent, LPSPropValue* out) {
    *out = nullptr;
    if (src == nullptr) return S_OK;
    void* p = nullptr;
    HRESULT hr = MAPIAllocateMore(sizeof(SPropValue), parent, &p);
    if (hr != S_OK) return hr;
    *out = static_cast<LPSPropValue>(p);
    return CopyValueWith(MAPIAllocateMore, parent, *src, *out);
}

}  // namespace

HRESULT CopyRestriction(const SRestriction& src, void* parent, SRestriction* dst) {
    *dst = src;
    switch (src.rt) {
        case RES_AND:
            return CopyNodes(src.res.resAnd.lpRes, src.res.resAnd.cRes, parent,
                             &dst->res.resAnd.lpRes);
        case RES_OR:
            return CopyNodes(src.res.resOr.lpRes, src.res.resOr.cRes, parent,
                             &dst->res.resOr.lpRes);
        case RES_NOT:
            return CopyNodes(src.res.resNot.lpRes, src.res.resNot.lpRes ? 1 : 0, parent,
                             &dst->res.resNot.lpRes);
        case RES_SUBRESTRICTION:
            return CopyNodes(src.res.resSub.lpRes, src.res.resSub.lpRes ? 1 : 0, parent,
                             &dst->res.resSub.lpRes);
        case RES_CONTENT:
            return CopyPropValue(src.res.resContent.lpProp, parent, &dst->res.resContent.lpProp);
        case RES_PROPERTY:
            return CopyPropValue(src.res.resProperty.lpProp, parent, &dst->res.resProperty.lpProp);
        case RES_COMMENT:
            // Comments never take part in evaluation; their annotations and
            // subtree are not kept (nor trusted: they are not validated).
            dst->res.resComment.cValues = 0;
            dst->res.resComment.lpRes = nullptr;
            dst->res.resComment.lpProp = nullptr;
            return S_OK;
        default:
            return S_OK;
    }
}

HRESULT DupRestriction(const SRestriction& src, MapiBuffer<SRestriction>* out) {
    MapiBuffer<SRestriction> head = AllocateMapi<SRestriction>(sizeof(SRestriction));
    if (!head) return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = CopyRestriction(src, head.get(), head.get());
    if (hr != S_OK) return hr;
    *out = std::move(head);
    return S_OK;
}

}  // namespace mapi
