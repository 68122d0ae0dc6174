#!/usr/bin/env python3
"""Checks a Maildir, mbox or .eml folder store against the dump of the store
it was copied from, with nothing but Python's standard library: every
message must parse without a defect (email, policy=default), the mailbox
module must read the same number of items per folder, and per folder the
subjects, senders, recipients, plain bodies and attachment bytes must be
those of the source.

usage: mailfiles_check.py KIND STORE_DIR SOURCE_DUMP
Prints one line per problem and a summary; exit status 1 on any problem.
"""
import email
import email.policy
import hashlib
import mailbox
import os
import re
import sys

# ---------------------------------------------------------------- the dump


def unquote(text):
    """A quoted dump payload ("...", \\xHH for bytes outside 0x20-0x7E) as str."""
    out = bytearray()
    i = 1
    while i < len(text) - 1:
        c = text[i]
        if c == '\\':
            n = text[i + 1]
            if n == 'x':
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out.extend(n.encode())
            i += 2
            continue
        out.extend(c.encode('utf-8'))
        i += 1
    return out.decode('utf-8', 'replace')


def payload(text):
    if text.startswith('"'):
        return unquote(text)
    if text.startswith('<') and text.endswith('>'):
        return bytes.fromhex(text[1:-1])
    if re.fullmatch(r'-?\d+', text):
        return int(text)
    return text


class Block:
    def __init__(self, kind):
        self.kind = kind
        self.props = {}
        self.children = []

    def get(self, prop_id):
        """The value of a numbered property by its 16-bit id, any type."""
        for tag, value in self.props.items():
            if tag.startswith('0x') and int(tag[2:6], 16) == prop_id:
                return value
        return None


def parse_dump(text):
    """[(path, special, [item Block])] in dump order."""
    folders = []
    stack = []
    for line in text.splitlines():
        if line.startswith('folder '):
            m = re.match(r'folder (.*) items=(\d+)(?: special=(\w+))?$', line)
            folders.append((m.group(1), m.group(3), []))
            stack = []
            continue
        indent = len(line) - len(line.lstrip(' '))
        body = line.strip()
        while stack and stack[-1][0] >= indent:
            stack.pop()
        if body in ('item', 'recipient', 'attachment', 'message'):
            block = Block(body)
            if body == 'item':
                folders[-1][2].append(block)
            else:
                stack[-1][1].children.append(block)
            stack.append((indent, block))
            continue
        m = re.match(r'(0x[0-9A-F]{8}|\{[^}]*\}:[^=]*)=(.*)$', body)
        if m and stack:
            stack[-1][1].props[m.group(1)] = payload(m.group(2))
    return folders


def source_signature(item):
    subject = item.get(0x0037) or ''
    sender = ''
    for pid in (0x5D02, 0x0065, 0x5D01, 0x0C1F):
        v = item.get(pid)
        if isinstance(v, str) and '@' in v:
            sender = v.lower()
            break
    # Saved transport headers are kept as they are; where they name a kind
    # of recipient, the message says what they say, which is not always
    # what the recipient table says.
    in_headers = {}
    headers = item.get(0x007D)
    if isinstance(headers, str) and ':' in headers:
        parsed = email.message_from_string(headers.strip() + '\n\n', policy=email.policy.default)
        for header, kind in (('to', 1), ('cc', 2), ('bcc', 3)):
            if parsed[header] is not None:
                in_headers[kind] = [(kind, a.addr_spec.lower()) for a in parsed[header].addresses
                                    if '@' in a.addr_spec]
    recipients = [r for kind in in_headers.values() for r in kind]
    attachments = []
    embedded = 0
    for child in item.children:
        if child.kind == 'recipient':
            addr = child.get(0x39FE) or child.get(0x3003) or ''
            kind = child.get(0x0C15) or 1
            if isinstance(addr, str) and '@' in addr and kind not in in_headers:
                recipients.append((kind, addr.lower()))
        elif child.kind == 'attachment':
            method = child.get(0x3705)
            if method == 5:
                embedded += 1
            else:
                data = child.get(0x3701)
                if isinstance(data, bytes):
                    attachments.append(hashlib.sha1(data).hexdigest())
    body = item.get(0x1000)
    # Without a plain body the message gets an empty text part.
    return (subject, sender, tuple(sorted(recipients)), normalize(body) if isinstance(body, str) else '',
            tuple(sorted(attachments)), embedded)


def normalize(text):
    return text.replace('\r\n', '\n').replace('\r', '\n').rstrip()

# ------------------------------------------------------------- the target


def unescape(name):
    return re.sub(r'%([0-9A-Fa-f]{2})', lambda m: chr(int(m.group(1), 16)), name)


def maildir_folders(root):
    """{folder path tuple: [message bytes]}"""
    def read(path):
        box = mailbox.Maildir(path, factory=None, create=False)
        return [box.get_bytes(k) for k in sorted(box.keys())]
    out = {('Inbox',): read(root)}
    for entry in sorted(os.listdir(root)):
        full = os.path.join(root, entry)
        if not entry.startswith('.') or not os.path.isdir(full) or entry in ('.', '..'):
            continue
        parts = [unescape(p) for p in entry[1:].split('.')]
        if parts[0] == 'INBOX':
            parts[0] = 'Inbox'
        out[tuple(parts)] = read(full)
    return out


def mbox_folders(root, prefix=()):
    out = {}
    for entry in sorted(os.listdir(root)):
        full = os.path.join(root, entry)
        if entry.startswith('.') or entry.endswith(('.lock', '.msf')):
            continue
        if os.path.isdir(full) and entry.endswith('.sbd'):
            out.update(mbox_folders(full, prefix + (unescape(entry[:-4]),)))
        elif os.path.isfile(full):
            box = mailbox.mbox(full, create=False)
            # mboxrd: a quoted "From " line loses one '>' when read.
            out[prefix + (unescape(entry),)] = [
                re.sub(rb'(?m)^>(>*From )', rb'\1', box.get_bytes(k)) for k in box.keys()]
    return out


def eml_folders(root, prefix=()):
    out = {prefix: []} if prefix else {}
    for entry in sorted(os.listdir(root)):
        full = os.path.join(root, entry)
        if entry.startswith('.'):
            continue
        if os.path.isdir(full):
            out.update(eml_folders(full, prefix + (unescape(entry),)))
        elif entry.lower().endswith('.eml') and prefix:
            with open(full, 'rb') as f:
                out[prefix].append(f.read())
    return out


def defects_of(msg):
    found = []
    for part in msg.walk():
        found += [type(d).__name__ for d in part.defects]
        for name, value in part.items():
            found += ['%s in %s' % (type(d).__name__, name) for d in getattr(value, 'defects', ())]
    return found


def target_signature(msg):
    subject = str(msg['subject'] or '')
    sender = ''
    if msg['from'] is not None:
        for a in msg['from'].addresses:
            if '@' in a.addr_spec:
                sender = a.addr_spec.lower()
                break
    recipients = []
    for header, kind in (('to', 1), ('cc', 2), ('bcc', 3)):
        if msg[header] is not None:
            for a in msg[header].addresses:
                if '@' in a.addr_spec:
                    recipients.append((kind, a.addr_spec.lower()))
    body_part = msg.get_body(preferencelist=('plain',))
    body = normalize(body_part.get_content()) if body_part is not None else ''
    attachments = []
    embedded = 0
    for part in msg.iter_attachments():
        if part.get_content_type() == 'message/rfc822':
            embedded += 1
        elif part.get_content_type() == 'application/rtf' and part.get_filename() == 'body.rtf':
            continue  # the RTF an RTF-only body came with, not an attachment of the source
        else:
            attachments.append(hashlib.sha1(part.get_payload(decode=True) or b'').hexdigest())
    return (subject, sender, tuple(sorted(recipients)), body, tuple(sorted(attachments)), embedded)


def main():
    kind, store, dump = sys.argv[1:4]
    with open(dump, encoding='utf-8') as f:
        source = parse_dump(f.read())
    target = {'maildir': maildir_folders, 'mbox': mbox_folders, 'eml': eml_folders}[kind](store)
    problems = []
    wastebasket = None
    for path, special, _ in source:
        if special == 'wastebasket':
            wastebasket = path
    checked = 0
    for path, special, items in source:
        names = tuple(path.split('\\')[1:])
        if wastebasket is not None and (path == wastebasket or path.startswith(wastebasket + '\\')):
            names = ('Trash',) + names[1:]
        messages = target.get(names)
        if messages is None:
            if items:
                problems.append('%s: no folder %s in the target' % (path, '/'.join(names)))
            continue
        if len(messages) != len(items):
            problems.append('%s: %d items in the source, %d in the target' % (path, len(items), len(messages)))
        want = sorted(map(source_signature, items), key=repr)
        got = []
        for raw in messages:
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            defects = defects_of(msg)
            if defects:
                problems.append('%s: %r has defects %s' % (path, str(msg['subject']), defects))
            # A format's own marks in a subject (a .pst's prefix marker) are
            # control characters that break the header's line.
            subject = str(msg['subject'] or '')
            if any(ord(c) < 0x20 and c != '\t' or ord(c) == 0x7F for c in subject):
                problems.append('%s: the subject %r holds control characters' % (path, subject))
            got.append(target_signature(msg))
            checked += 1
        got.sort(key=repr)
        for w, g in zip(want, got):
            if w != g:
                fields = ['subject', 'sender', 'recipients', 'body', 'attachments', 'embedded']
                diff = [fields[i] for i in range(6) if w[i] != g[i]]
                problems.append('%s: %r differs in %s: %r / %r' % (
                    path, w[0], ', '.join(diff), [w[i] for i in range(6) if w[i] != g[i]],
                    [g[i] for i in range(6) if w[i] != g[i]]))
    for p in problems:
        print(p)
    print('checked %d messages in %d folders: %d problems' % (checked, len(source), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
