// CGenMapiPropPtr, the common base of every owning MAPI object wrapper,
// giving typed property access on the object's property interface, and
// IMAPIPropPtr, the wrapper of a generic object opened by entry identifier.
#pragma once

#include <string>

#include <mapix.h>

#include "InterfaceRef.h"
#include "MapiBinary.h"
#include "MapiBuffer.h"

// Abstract: holds no interface itself. Each concrete wrapper keeps exactly
// one counted reference to its interface, or none (an empty wrapper);
// construction from a raw interface takes one reference, copying another,
// assignment takes the new one before releasing the old, destruction
// releases. On an empty wrapper the unchecked operations return
// MAPI_E_INVALID_OBJECT and the others raise it; none crashes.
//
// Virtual slots in order: _rawInterface, SetProp, GetProp, SaveChanges; the
// virtual destructor is declared after them so it comes last.
//
// All readers return values the caller owns; every MAPI buffer they fetch is
// freed before they return, also when they throw.
class CGenMapiPropPtr {
public:
    // The object as a property interface, no reference added; the receiver
    // does not release it. Null for an empty wrapper.
    virtual LPMAPIPROP _rawInterface() const = 0;
    // HrSetOneProp; the result code is returned unchecked.
    virtual HRESULT SetProp(LPSPropValue value) const;
    // HrGetOneProp; the result code is returned unchecked. On success value
    // owns the property value (which may be null if the provider gave none).
    virtual HRESULT GetProp(ULONG tag, MapiBufferPtr<SPropValue>& value) const;
    // IMAPIProp::SaveChanges(flags) through CheckHr.
    virtual HRESULT SaveChanges(ULONG flags) const;
    virtual ~CGenMapiPropPtr() = default;

    // The 32-bit value; 0 when the read succeeds without a value. Failure:
    // CMAPIException with context "CGenMapiPropPtr::GetLongProp".
    LONG GetLongProp(ULONG tag) const;
    // The text of a PT_STRING8 value, else "". Failure: CMAPIException with
    // empty context.
    std::string GetStringProp(ULONG tag) const;
    // Never throws: the text when the read succeeds with a value and tag is a
    // PT_STRING8 tag, "" otherwise.
    std::string GetStringPropOrEmpty(ULONG tag) const noexcept;
    // The bytes of the value (empty block when the value is not PT_BINARY).
    // Failure: CMAPIException with empty context.
    CMapiBinary GetBinaryProp(ULONG tag) const;
    // Writes text as the value of tag through CheckHr; a null text writes
    // nothing and raises nothing.
    void SetStringProp(ULONG tag, LPCSTR text) const;
    // Writes the block's bytes as the value of tag; unchecked result code.
    HRESULT SetBinaryProp(ULONG tag, const CMapiBinary& bin) const;

    // Full property tag of a named property: the id the store gives the name
    // (created when flags has MAPI_CREATE) in the upper 16 bits, type in the
    // lower 16. GetIDsFromNames through CheckHr; no tag array back, or a
    // PT_ERROR tag for the name (the store has no id for it):
    // CMAPIException(MAPI_E_NOT_FOUND, "CGenMapiPropPtr::GetIDFromName").
    ULONG GetIDFromName(const GUID& propSet, LPCWSTR name, ULONG type, ULONG flags) const;
    ULONG GetIDFromName(const GUID& propSet, LONG id, ULONG type, ULONG flags) const;

protected:
    CGenMapiPropPtr() = default;
    CGenMapiPropPtr(const CGenMapiPropPtr&) = default;
    CGenMapiPropPtr& operator=(const CGenMapiPropPtr&) = default;

    // The interface for a call; throws CMAPIException(MAPI_E_INVALID_OBJECT)
    // with empty context for an empty wrapper.
    LPMAPIPROP RequireProp() const;
};

// The free form of GetIDFromName on a raw property interface (string name).
ULONG GetIDFromName(LPMAPIPROP prop, const GUID& propSet, LPCWSTR name, ULONG type, ULONG flags);

// A generic object opened by entry identifier (a folder, a message, ...).
// Callers that know the object's kind cast _rawInterface() and wrap it again
// (e.g. IMAPIFolderPtr(static_cast<LPMAPIFOLDER>(p._rawInterface()))).
class IMAPIPropPtr : public CGenMapiPropPtr {
public:
    IMAPIPropPtr() = default;
    explicit IMAPIPropPtr(LPMAPIPROP prop) : m_ptr(prop) {}

    LPMAPIPROP _rawInterface() const override { return m_ptr.get(); }
    explicit operator bool() const { return static_cast<bool>(m_ptr); }

private:
    CInterfaceRef<IMAPIProp> m_ptr;
};
