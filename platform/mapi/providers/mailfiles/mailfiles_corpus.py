#!/usr/bin/env python3
"""Reads mail that no one here wrote: the test messages shipped with two mail
libraries in Debian (Go's enmime, golang-github-jhillyerd-enmime-dev, and
Python's email package, libpython3.11-testsuite) as a tree of .eml files,
and the Python ones once more as an mbox written by Python's mailbox module.
Each store is copied into an embedded store with quirnel-copy. A file must
fail exactly when Python's email parser finds no header in it either; every
other one must arrive, and the mbox must yield as many items as Python's
mailbox module reads from it.

usage: mailfiles_corpus.py BUILD_DIR
"""
import email
import email.policy
import glob
import mailbox
import os
import re
import shutil
import subprocess
import sys
import tempfile

CORPORA = {
    'enmime-mail': '/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/mail/*',
    'enmime-low-quality': '/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/low-quality/*',
    'enmime-parts': '/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/parts/*',
    'enmime-encode': '/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/encode/*',
    'enmime-attach': '/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata/attach/*',
    'python-email': '/usr/lib/python3.11/test/test_email/data/msg_*.txt',
}


def has_header(raw):
    return len(email.message_from_bytes(raw, policy=email.policy.default).keys()) > 0


def main():
    build = sys.argv[1]
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    problems = []
    with tempfile.TemporaryDirectory(prefix='mailfiles-corpus-') as tmp:
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'))

        def run(*args):
            r = subprocess.run(args, env=env, capture_output=True, text=True)
            return r.returncode, r.stdout + r.stderr

        tree = os.path.join(tmp, 'eml')
        expected = {}  # folder: (files, files without a header)
        python_messages = []
        for folder, pattern in CORPORA.items():
            files = sorted(f for f in glob.glob(pattern) if os.path.isfile(f))
            if not files:
                problems.append('no files at %s (see scripts/install-deps.sh)' % pattern)
                continue
            os.makedirs(os.path.join(tree, folder))
            headerless = 0
            for i, f in enumerate(files):
                with open(f, 'rb') as src:
                    raw = src.read()
                if not has_header(raw):
                    headerless += 1
                elif folder == 'python-email':
                    python_messages.append(raw)
                shutil.copy(f, os.path.join(tree, folder, '%03d %s.eml' % (i, os.path.basename(f))))
            expected[folder] = (len(files), headerless)

        mbox_dir = os.path.join(tmp, 'mbox')
        os.makedirs(mbox_dir)
        box = mailbox.mbox(os.path.join(mbox_dir, 'python-email'))
        for raw in python_messages:
            box.add(raw)
        box.flush()
        mbox_count = len(mailbox.mbox(os.path.join(mbox_dir, 'python-email')))

        for store, where in (('corpus-eml', tree), ('corpus-mbox', mbox_dir)):
            rc, out = run(mapiprofile, 'add', store, where)
            if rc != 0:
                problems.append('add %s: %s' % (store, out))
                continue
            target = store + '-copy'
            run(mapiprofile, 'create', target, os.path.join(tmp, target + '.db'))
            rc, log = run(copy, '--source', store, '--target', target)
            failed, folder = {}, None
            for line in log.splitlines():
                m = re.match(r'Copy folder \\(\S.*) to ', line)
                if m:
                    folder = m.group(1)
                elif line.startswith('Error '):
                    failed[folder] = failed.get(folder, 0) + 1
            rc, dump = run(mapiprofile, 'dump', target)
            arrived = {m.group(1): int(m.group(2))
                       for m in re.finditer(r'^folder \\(.*) items=(\d+)', dump, re.M)}
            wanted = expected if store == 'corpus-eml' else {'python-email': (mbox_count, 0)}
            for name, (total, headerless) in sorted(wanted.items()):
                got, bad = arrived.get(name, 0), failed.get(name, 0)
                print('%s/%s: %d messages, %d read, %d failed (%d without any header)' % (
                    store, name, total, got, bad, headerless))
                if got != total - headerless or bad != headerless:
                    problems.append('%s/%s: expected %d read and %d failed' % (
                        store, name, total - headerless, headerless))
    for p in problems:
        print('FAILED ' + p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
