// Older revisions of live items, offered on request: each becomes an item
// of "Recovered items\Older versions" that says which item it is an older
// version of and when that version was last changed, in a named property
// for programs and in an attached text for the user (as damage notes are).
#include <ctime>

#include "providers/pst/format/chk_rescue_parts.h"
#include "providers/pst/format/chk_rescuer.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/msg_subject.h"
#include "providers/pst/format/msg_values.h"
#include "runtime/utf.h"

namespace mapi::pst::fmt::rescue {
namespace {

constexpr uint32_t kTagSubject = 0x0037001F;
constexpr uint32_t kTagSubject8 = 0x0037001E;
constexpr uint32_t kTagLastModificationTime = 0x30080040;
constexpr uint32_t kTagCreationTime = 0x30070040;

// A string value as text: UTF-16 values decoded, 8-bit ones taken as they
// are (the note only has to let a person recognise the item).
std::string Text(const std::vector<PropValue>& props, uint32_t unicodeTag, uint32_t string8Tag) {
    std::vector<PropValue> one;
    if (const PropValue* v = FindValue(props, unicodeTag); v != nullptr)
        one.push_back(*v);
    else if (const PropValue* v8 = FindValue(props, string8Tag); v8 != nullptr)
        one.push_back(*v8);
    if (one.empty()) return "";
    SubjectFromFile(&one);
    const Bytes& b = one.front().bytes;
    if (PropType(one.front().tag) == 0x001E) return std::string(b.begin(), b.end());
    std::u16string units;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        units.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
    std::string out;
    for (char32_t cp : CodePointsFromUtf16(units)) AppendUtf8(out, cp);
    return out;
}

// "2026-12-07 23:04:48 UTC", or "" when the value is missing or absurd.
std::string TimeText(const std::vector<PropValue>& props) {
    const PropValue* v = FindValue(props, kTagLastModificationTime);
    if (v == nullptr || v->bytes.size() != 8) v = FindValue(props, kTagCreationTime);
    if (v == nullptr || v->bytes.size() != 8) return "";
    constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
    uint64_t ft = Get64(v->bytes.data());
    if (ft < kUnixEpoch) return "";
    std::time_t seconds = static_cast<std::time_t>((ft - kUnixEpoch) / 10000000);
    std::tm utc{};
    char text[32];
    if (gmtime_r(&seconds, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc) == 0)
        return "";
    return text;
}

}  // namespace

void Rescuer::AddRevision(uint32_t nid, SalvagedMessage m) {
    DropNamesIfLost(&m);
    if (olderVersions_ == 0) {
        uint32_t items = SpecialFolder(&recoveredItems_, kRecoveredItemsName);
        olderVersions_ = FreshNid(kNidTypeNormalFolder);
        nodes_[olderVersions_] = {items,
                                  PcNode({UnicodeValue(kTagDisplayName, kOlderVersionsName)})};
        folderParent_[olderVersions_] = items;
    }
    // What names the live item for a person: its subject and its folder's
    // name as the live tree has them.
    const NbtEntry& live = file_.Nodes().at(nid);
    std::vector<PropValue> current, folder;
    std::vector<std::string> lost;
    SoundProps(file_.ReadNode(live, false), &current, &lost);
    if (auto f = file_.Nodes().find(live.nidParent); f != file_.Nodes().end())
        SoundProps(file_.ReadNode(f->second, false), &folder, &lost);
    std::string note = "This is an older version of the item \"" +
                       Text(current, kTagSubject, kTagSubject8) + "\" (item " + HexNid(nid) +
                       ") in the folder \"" + Text(folder, kTagDisplayName, kTagDisplayName8) +
                       "\", found in space the file no longer uses.";
    std::string when = TimeText(m.content.props);
    note += when.empty() ? " When this version was last changed is not known."
                         : " This version was last changed " + when + ".";
    if (!m.Whole()) note += "\nParts of this version were lost:\n" + m.Report();
    note += "\n";
    if (revisionNoteId_ != 0)
        SetValue(m.content.props, UnicodeValue((uint32_t{revisionNoteId_} << 16) | 0x001F, note));
    AttachmentContent attachment;
    attachment.props = {LongValue(kTagAttachMethod, kAttachByValue),
                        UnicodeValue(kTagAttachLongFilename, kRevisionAttachmentName),
                        UnicodeValue(kTagDisplayName, kRevisionAttachmentName),
                        UnicodeValue(kTagAttachMimeTag, "text/plain"),
                        BinaryValue(kTagAttachDataBin, Bytes(note.begin(), note.end()))};
    m.content.attachments.push_back(std::move(attachment));
    uint32_t id = FreshNid(NidType(nid));
    std::vector<PropValue> rowProps;
    nodes_[id] = {olderVersions_, BuildMessageNode(m.content, &rowProps)};
    (NidType(nid) == kNidTypeAssocMessage ? associated_ : contents_)[olderVersions_].push_back(id);
    ++stats_->revisions;
}

}  // namespace mapi::pst::fmt::rescue
