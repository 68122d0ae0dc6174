// A list of property values to write, owning the data they point at.
//
// SetProps takes an array of SPropValue whose strings and byte blocks the
// caller keeps alive; PropBag keeps them in stable storage for as long as
// the bag lives, so building a message's properties needs no MAPI buffers.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <mapidefs.h>

namespace mapi::tools {

class PropBag {
public:
    PropBag() = default;
    PropBag(const PropBag&) = delete;
    PropBag& operator=(const PropBag&) = delete;

    void Long(ULONG tag, LONG value);
    void Bool(ULONG tag, bool value);
    void Time(ULONG tag, FILETIME value);
    // tag's type decides the form: PT_STRING8 keeps the UTF-8 text,
    // PT_UNICODE stores it converted to UTF-16.
    void Text(ULONG tag, const std::string& utf8);
    void Binary(ULONG tag, const std::string& bytes);
    // PT_MV_STRING8 (or PT_MV_UNICODE) from UTF-8 texts.
    void TextList(ULONG tag, const std::vector<std::string>& utf8);

    ULONG Count() const { return static_cast<ULONG>(values_.size()); }
    SPropValue* Values() { return values_.data(); }

    // SetProps on target; fails with the first problem the object reports.
    HRESULT ApplyTo(IMAPIProp* target) { return ApplyTo(target, nullptr); }
    HRESULT ApplyTo(IMAPIProp* target, ULONG* failedTag);

private:
    SPropValue& Add(ULONG tag);

    std::vector<SPropValue> values_;
    std::deque<std::string> narrow_;
    std::deque<std::u16string> wide_;
    std::deque<std::vector<LPSTR>> narrowLists_;
    std::deque<std::vector<LPWSTR>> wideLists_;
};

}  // namespace mapi::tools
