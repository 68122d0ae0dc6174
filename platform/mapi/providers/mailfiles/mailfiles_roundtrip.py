#!/usr/bin/env python3
"""Compares the dump of a store with the dump of its copy that went through
a mail file store and back: per folder, every item must keep every property
that MIME carries (listed below, with what carries it). Everything else a
MAPI message may hold has no place in an Internet message and is not
compared; properties the way back adds (transport headers and the like)
are allowed. String properties compare without regard to their 8-bit or
Unicode type.

usage: mailfiles_roundtrip.py SOURCE_DUMP BACK_DUMP
"""
import re
import sys

from mailfiles_check import parse_dump

MESSAGE_CARRIED = {
    0x0017,  # PR_IMPORTANCE: Importance
    0x0037,  # PR_SUBJECT: Subject
    0x0039,  # PR_CLIENT_SUBMIT_TIME: Date
    0x0042,  # PR_SENT_REPRESENTING_NAME: From
    0x0C1A,  # PR_SENDER_NAME: Sender, else From
    0x1000,  # PR_BODY: text/plain
    0x1035,  # PR_INTERNET_MESSAGE_ID: Message-ID
    0x1039,  # PR_INTERNET_REFERENCES: References
    0x1042,  # PR_IN_REPLY_TO_ID: In-Reply-To
}
# Addresses travel only when they are Internet addresses.
MESSAGE_SMTP = {0x0064: 0x0065, 0x0C1E: 0x0C1F}   # address type: address
RECIPIENT_CARRIED = {0x0C15, 0x3001}              # type, display name
RECIPIENT_SMTP = {0x3002: 0x3003}
ATTACHMENT_CARRIED = {
    0x3701,  # PR_ATTACH_DATA_BIN: the part's bytes
    0x3705,  # PR_ATTACH_METHOD: by value or message/rfc822
    0x3707,  # PR_ATTACH_LONG_FILENAME: filename
    0x370E,  # PR_ATTACH_MIME_TAG: Content-Type
    0x3712,  # PR_ATTACH_CONTENT_ID: Content-ID
}
# Contacts travel as vCards: names, organisation, title, telephones.
CONTACT_CARRIED = {0x3A06, 0x3A11, 0x3A44, 0x3A45, 0x3A05, 0x3A16, 0x3A17, 0x3A08, 0x3A09, 0x3A1C}
NAMED_CARRIED = (
    '{00062004-0000-0000-C000-000000000046}:0x00008083:',  # e-mail 1: EMAIL
    '{00062004-0000-0000-C000-000000000046}:0x00008093:',  # e-mail 2
    '{00062004-0000-0000-C000-000000000046}:0x000080A3:',  # e-mail 3
    '{00020329-0000-0000-C000-000000000046}:"Keywords":',  # Keywords
    '{00062002-0000-0000-C000-000000000046}:0x0000820D:',  # appointment start: DTSTART
    '{00062002-0000-0000-C000-000000000046}:0x0000820E:',  # appointment end: DTEND
    '{00062002-0000-0000-C000-000000000046}:0x00008208:',  # location: LOCATION
    '{F3C4D0D7-B05B-4214-A817-A819212EA842}:',  # provenance: X-Quirnel-Source
)


def carried(props, kind):
    ids = {'item': MESSAGE_CARRIED, 'message': MESSAGE_CARRIED,
           'recipient': RECIPIENT_CARRIED, 'attachment': ATTACHMENT_CARRIED}[kind]
    smtp = {'recipient': RECIPIENT_SMTP}.get(kind, MESSAGE_SMTP if kind in ('item', 'message') else {})
    by_id = {int(t[2:6], 16): (t, v) for t, v in props.items() if t.startswith('0x')}
    if kind in ('item', 'message') and str(by_id.get(0x001A, ('', ''))[1]).startswith('IPM.Contact'):
        ids = ids | CONTACT_CARRIED
    out = {}

    def keep(tag, value):
        ptype = {'001E': '001F', '101E': '101F'}.get(tag[6:10], tag[6:10])
        out[tag[:6] + ptype] = value

    for pid in ids:
        if pid in by_id:
            tag, value = by_id[pid]
            keep(tag, value.rstrip('\r\n') if pid == 0x1000 and isinstance(value, str) else value)
    for type_id, address_id in smtp.items():
        if type_id in by_id and str(by_id[type_id][1]).upper() == 'SMTP' and address_id in by_id:
            keep(*by_id[type_id])
            keep(*by_id[address_id])
    if kind in ('item', 'message'):
        flags = by_id.get(0x0E07)
        if flags is not None:  # read and unsent (draft) travel as flags
            out['0x0E070003&0x9'] = flags[1] & 0x9
        html = by_id.get(0x1013)
        cpid = by_id.get(0x3FDE)
        # HTML comes back as UTF-8, so it compares byte for byte only when
        # it was UTF-8 before.
        if html is not None and (cpid is None or cpid[1] == 65001):
            value = html[1] if isinstance(html[1], bytes) else str(html[1]).encode('utf-8')
            # A text part's last line break is the format's, not the text's
            # (an mbox ends every message with one).
            out['0x1013'] = value.replace(b'\r\n', b'\n').rstrip(b'\n')
        cls = by_id.get(0x001A)
        if cls is not None:
            value = str(cls[1])
            # Appointments and contacts come back as such; anything else as a note.
            out['0x001A001F'] = (value if value.startswith(('IPM.Appointment', 'IPM.Note', 'IPM.Contact'))
                                 else 'IPM.Note')
    for tag, value in props.items():
        if tag.startswith(NAMED_CARRIED):
            out[re.sub(r':0x(1?)01E$', r':0x\g<1>01F', tag)] = value
    return out


def signature(block, want=True, headers=False):
    props = carried(block.props, block.kind)
    # An empty value says nothing a missing one does not.
    props = {t: v for t, v in props.items() if v != ''}
    if headers and block.kind == 'recipient':
        # Saved transport headers win, and they may name a recipient
        # otherwise than the recipient table does.
        props.pop('0x3001001F', None)
    has_headers = want and block.kind in ('item', 'message') and block.get(0x007D) is not None
    children = [signature(c, want, has_headers) for c in block.children]
    return (block.kind, sorted(props.items(), key=lambda kv: kv[0]), children)


def contains(want, got):
    """True when got has every carried property of want, recursively."""
    kind_w, props_w, children_w = want
    kind_g, props_g, children_g = got
    g = dict(props_g)
    for tag, value in props_w:
        if g.get(tag) != value:
            return False
    if kind_w != kind_g or len(children_w) != len(children_g):
        return False
    left = list(children_g)
    for child in children_w:
        match = next((c for c in left if contains(child, c)), None)
        if match is None:
            return False
        left.remove(match)
    return True


def main():
    with open(sys.argv[1], encoding='utf-8') as f:
        source = parse_dump(f.read())
    with open(sys.argv[2], encoding='utf-8') as f:
        back = {path: items for path, _, items in parse_dump(f.read())}
    problems = []
    count = 0
    for path, _, items in source:
        got = [signature(i, want=False) for i in back.get(path, [])]
        if len(got) != len(items):
            problems.append('%s: %d items, %d after the way back' % (path, len(items), len(got)))
        for item in items:
            want = signature(item)
            count += 1
            match = next((g for g in got if contains(want, g)), None)
            if match is None:
                # Name what went missing against the closest item.
                subject = item.get(0x0037)
                close = [g for g in got if dict(g[1]).get('0x0037001F') == subject] or got[:1]
                missing = [t for t, v in want[1] if not close or dict(close[0][1]).get(t) != v]
                problems.append('%s: %r lost %s' % (path, subject, ', '.join(missing) or 'sub-objects'))
            else:
                got.remove(match)
    for p in problems:
        print(p)
    print('compared %d items: %d problems' % (count, len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
