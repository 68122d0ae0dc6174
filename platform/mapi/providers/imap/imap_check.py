#!/usr/bin/env python3
"""Checks an IMAP account against the dump of the store copied into it,
through Python's imaplib alone: per source folder the mailbox it maps to
(Inbox to INBOX, the deleted items folder to the server's \\Trash, the rest
by name below those), its message count, the \\Seen and \\Flagged flags
against the source's read and flag states, RFC822.SIZE against the bytes
FETCH gives, and every message through Python's email package compared
with its source item (subject, sender, recipients, plain body, attachment
bytes; mailfiles_check's signatures). Also gives each message's
X-Quirnel-Source entry, so a caller can see that every item is there once.

usage: imap_check.py PORT USER PASSWORD SOURCE_DUMP
"""
import collections
import email
import email.policy
import imaplib
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'mailfiles'))
from mailfiles_check import (defects_of, parse_dump, source_signature,  # noqa: E402
                             target_signature)

MSGFLAG_READ = 0x1
FLAG_STATUS_FLAGGED = 2


def decode_mutf7(name):
    """RFC 3501 modified UTF-7 to str."""
    out, i = [], 0
    while i < len(name):
        c = name[i]
        if c != '&':
            out.append(c)
            i += 1
            continue
        end = name.index('-', i)
        if end == i + 1:
            out.append('&')
        else:
            b64 = name[i + 1:end].replace(',', '/')
            b64 += '=' * (-len(b64) % 4)
            import base64
            out.append(base64.b64decode(b64).decode('utf-16-be'))
        i = end + 1
    return ''.join(out)


def unescape(level):
    return re.sub(r'%([0-9A-Fa-f]{2})', lambda m: chr(int(m.group(1), 16)), level)


LIST_LINE = re.compile(rb'\((?P<flags>[^)]*)\) (?P<delim>"[^"]*"|NIL) (?P<name>.*)$')


def list_mailboxes(imap):
    """[(wire name, path tuple, set of attributes)]"""
    typ, data = imap.list()
    assert typ == 'OK', data
    out = []
    for line in data:
        m = LIST_LINE.match(line)
        flags = set(m.group('flags').decode().split())
        delim = m.group('delim').decode().strip('"')
        wire = m.group('name').decode()
        if wire.startswith('"'):
            wire = wire[1:-1].replace('\\"', '"').replace('\\\\', '\\')
        parts = wire.split(delim) if delim and delim != 'NIL' else [wire]
        out.append((wire, tuple(unescape(decode_mutf7(p)) for p in parts), flags))
    return out


FETCH_HEAD = re.compile(rb'UID (\d+)|FLAGS \(([^)]*)\)|RFC822\.SIZE (\d+)')


def fetch_all(imap, wire):
    """[(uid, flags set, size, bytes)] of one mailbox."""
    typ, data = imap.select('"%s"' % wire.replace('\\', '\\\\').replace('"', '\\"'), readonly=True)
    assert typ == 'OK', (wire, data)
    if int(data[0]) == 0:
        return []
    typ, data = imap.uid('FETCH', '1:*', '(UID FLAGS RFC822.SIZE BODY.PEEK[])')
    assert typ == 'OK', data
    out = []
    for part in data:
        if not isinstance(part, tuple):
            continue
        uid, flags, size = None, set(), None
        for m in FETCH_HEAD.finditer(part[0]):
            if m.group(1):
                uid = int(m.group(1))
            elif m.group(3):
                size = int(m.group(3))
            else:
                flags = set(m.group(2).decode().split())
        out.append((uid, flags, size, part[1]))
    return out


def account_contents(port, user, password):
    """{path tuple: [(uid, flags, size, bytes)]}, {attribute: path tuple}"""
    imap = imaplib.IMAP4('127.0.0.1', port)
    imap.login(user, password)
    boxes = list_mailboxes(imap)
    contents, special = {}, {}
    for wire, path, flags in boxes:
        if '\\Noselect' in flags or '\\NonExistent' in flags:
            continue
        contents[path] = fetch_all(imap, wire)
        for f in flags:
            if f in ('\\Sent', '\\Trash', '\\Drafts', '\\Junk'):
                special[f] = path
    imap.logout()
    return contents, special


def provenance_entries(contents):
    """How often each source item (X-Quirnel-Source entry, else Message-ID) is there."""
    seen = collections.Counter()
    for messages in contents.values():
        for _, _, _, raw in messages:
            m = re.search(rb'(?im)^X-Quirnel-Source:.*?entry=([0-9A-F]+)', raw)
            if m is None:
                # Without provenance the Message-ID has to tell items apart.
                m = re.search(rb'(?im)^Message-ID:\s*(\S+)', raw)
            if m is not None:  # items with neither are counted per folder only
                seen[m.group(1).decode()] += 1
    return seen


def target_path(path, wastebasket, trash):
    names = tuple(path.split('\\')[1:])
    if wastebasket is not None and (path == wastebasket or path.startswith(wastebasket + '\\')):
        return trash + names[1:]
    if names and names[0].lower() == 'inbox':
        return ('INBOX',) + names[1:]
    return names


def check(port, user, password, dump_text):
    source = parse_dump(dump_text)
    contents, special = account_contents(port, user, password)
    problems = []
    wastebasket = next((p for p, s, _ in source if s == 'wastebasket'), None)
    trash = special.get('\\Trash')
    if trash is None:
        problems.append('the server marks no mailbox \\Trash')
        trash = ('Trash',)
    checked = 0
    mapped = {target_path(path, wastebasket, trash) for path, _, _ in source}
    for names, messages in contents.items():
        if messages and names not in mapped:
            problems.append('%d messages in %s, which no source folder maps to'
                            % (len(messages), '/'.join(names)))
    for path, _, items in source:
        names = target_path(path, wastebasket, trash)
        messages = contents.get(names)
        if messages is None:
            if items:
                problems.append('%s: no mailbox %s' % (path, '/'.join(names)))
            continue
        if len(messages) != len(items):
            problems.append('%s: %d items in the source, %d in %s'
                            % (path, len(items), len(messages), '/'.join(names)))
        read = sum(1 for i in items if (i.get(0x0E07) or 0) & MSGFLAG_READ)
        flagged = sum(1 for i in items if i.get(0x1090) == FLAG_STATUS_FLAGGED)
        seen = sum(1 for m in messages if '\\Seen' in m[1])
        marked = sum(1 for m in messages if '\\Flagged' in m[1])
        if (read, flagged) != (seen, marked):
            problems.append('%s: read/flagged %d/%d in the source, \\Seen/\\Flagged %d/%d'
                            % (path, read, flagged, seen, marked))
        want = sorted(map(source_signature, items), key=repr)
        got = []
        for uid, _, size, raw in messages:
            if size != len(raw):
                problems.append('%s: UID %s has RFC822.SIZE %s but %d bytes'
                                % (path, uid, size, len(raw)))
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            defects = defects_of(msg)
            if defects:
                problems.append('%s: %r has defects %s' % (path, str(msg['subject']), defects))
            got.append(target_signature(msg))
            checked += 1
        got.sort(key=repr)
        for w, g in zip(want, got):
            if w != g:
                problems.append('%s: %r differs: %r / %r' % (path, w[0], w, g))
    return problems, checked, contents


def main():
    port, user, password, dump = sys.argv[1:5]
    with open(dump, encoding='utf-8') as f:
        problems, checked, _ = check(int(port), user, password, f.read())
    for p in problems:
        print(p)
    print('checked %d messages: %d problems' % (checked, len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
