// Message and attachment doubles: properties (fake_prop.h), recipients,
// attachments by number, and embedded messages opened through
// PR_ATTACH_DATA_OBJ. A message shares its store's entry registry and name
// map; an attachment and an embedded message share their message's map.
#pragma once

#include <memory>
#include <vector>

#include "fake_prop.h"
#include "fake_table.h"

namespace fake {

class Message;

class Attach : public PropObject<IAttach> {
public:
    static constexpr ULONG kObjectType = MAPI_ATTACH;
    explicit Attach(Context context) : PropObject(std::move(context), kObjectType, false) {}

    mapi::ComRef<Message> embedded;

protected:
    HRESULT OpenObject(ULONG tag, LPCIID iid, ULONG flags, LPUNKNOWN* out) override;
    bool Supports(REFIID riid) const override;
};

class Message : public PropObject<IMessage> {
public:
    static constexpr ULONG kObjectType = MAPI_MESSAGE;
    // A message of its own (an entry registry and name map for it alone).
    Message() : Message(Context::Alone("message")) {}
    explicit Message(Context context, bool registered = true)
        : PropObject(std::move(context), kObjectType, registered) {}

    std::shared_ptr<mapi::MemoryRows> recipients = std::make_shared<mapi::MemoryRows>();
    std::vector<mapi::ComRef<Attach>> attachments;

    Attach* AddAttachment();

    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* out) override;
    HRESULT OpenAttach(ULONG num, LPCIID, ULONG, LPATTACH* out) override;
    HRESULT CreateAttach(LPCIID, ULONG, ULONG* num, LPATTACH* out) override;
    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* out) override;
    // Only MODRECIP_ADD.
    HRESULT ModifyRecipients(ULONG flags, LPADRLIST list) override;

    // The contents-table row of this message: its properties and PR_ENTRYID.
    std::vector<const SPropValue*> Row(SPropValue* eidValue) const;

protected:
    bool Supports(REFIID riid) const override;
};

}  // namespace fake
