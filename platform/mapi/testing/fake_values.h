// Values, name maps and entry identifiers of the test doubles.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <mapix.h>

#include "fake_object.h"
#include "runtime/mapi_ptr.h"

namespace fake {

// One property value in its own MAPI chain, for building doubles:
// fake::Str(PR_SUBJECT_A, "Hello"), fake::Long(...), fake::Bin(...),
// fake::Err(tag, MAPI_E_CORRUPT_DATA) (a property that is there but unreadable).
class Value {
public:
    explicit Value(const SPropValue& v);
    const SPropValue& get() const { return *value_; }

private:
    mapi::MapiBuffer<SPropValue> value_;
};
Value Long(ULONG tag, LONG l);
Value Str(ULONG tag, const std::string& text);
Value Bin(ULONG tag, const Bytes& bytes);
Value Err(ULONG tag, SCODE code);

// The ids a store gives names (GetIDsFromNames, GetNamesFromIDs), shared by
// every object of the store. New names take nextId and count upward.
class NameMap {
public:
    struct Name {
        GUID guid;
        ULONG kind;
        LONG id;
        std::u16string text;
        ULONG propId;
    };
    // One GetIDsFromNames request, as asked.
    struct Request {
        bool nullGuid;
        GUID guid;
        ULONG kind;
        LONG id;
        std::u16string name;
        ULONG flags;
        // "{GUID} id 0x8083" or "{GUID} name Keywords".
        std::string Text() const;
    };

    std::vector<Name> names;
    std::vector<Request> requests;
    ULONG nextId = 0x8000;
    // GetIDsFromNames answers S_OK but hands back no tag array, as a broken
    // provider might.
    bool answerWithoutTags = false;

    // The property id of n, made when create is set; 0 when unknown.
    ULONG Find(const MAPINAMEID& n, bool create);
    // Gives a string name a fixed id, whatever it had before.
    void Pin(const GUID& guid, const std::u16string& text, ULONG propId);
    const Name* ById(ULONG propId) const;
};

// Entry identifier -> object, for OpenEntry: one registry per store (or per
// lone folder, message or session), filled as objects are made.
class Entries {
public:
    explicit Entries(std::string prefix) : prefix_(std::move(prefix)) {}

    // A new identifier, unique in this registry.
    Bytes NewEid();
    // object is not owned; it must be removed before it goes away.
    void Add(const Bytes& eid, IUnknown* object, ULONG type);
    template <class T>
    void Add(const Bytes& eid, T* object) {
        Add(eid, static_cast<IUnknown*>(object), T::kObjectType);
    }
    void Remove(const Bytes& eid, const IUnknown* object);
    // AddRefs and hands out the object under eid; MAPI_E_NOT_FOUND when none.
    HRESULT Open(ULONG cb, LPENTRYID eid, ULONG flags, ULONG* type, LPUNKNOWN* out);

    // Opening these identifiers fails with the code.
    std::map<Bytes, HRESULT> failOpen;
    ULONG lastFlags = 0;
    Bytes lastOpened;

private:
    struct Entry {
        IUnknown* object;
        ULONG type;
    };
    std::string prefix_;
    int next_ = 0;
    std::map<Bytes, Entry> map_;
};

// What the objects of one store share.
struct Context {
    std::shared_ptr<Entries> entries;
    std::shared_ptr<NameMap> names;

    static Context Alone(const std::string& prefix) {
        return {std::make_shared<Entries>(prefix), std::make_shared<NameMap>()};
    }
};

inline Bytes BytesOf(ULONG cb, const void* pb) {
    const auto* p = static_cast<const BYTE*>(pb);
    return p != nullptr ? Bytes(p, p + cb) : Bytes();
}

}  // namespace fake
