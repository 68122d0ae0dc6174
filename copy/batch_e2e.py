#!/usr/bin/env python3
"""quirnel-copy --batch against a Dovecot this test starts: 8 generated
stores into 8 accounts with --jobs 4, and a ninth line whose source does not
exist. The bad line must fail alone; every account must hold exactly its
source's items (checked through imaplib); each line must have its own
output and log file; where the copy keeps ledgers, each must balance and
the total must be their sum. Each account has a password of its own, all
in one password file.

usage: batch_e2e.py BUILD_DIR [ITEMS_PER_STORE]
"""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
IMAP = os.path.join(HERE, '..', 'platform', 'mapi', 'providers', 'imap')
sys.path.insert(0, IMAP)
sys.path.insert(0, os.path.join(IMAP, '..', 'mailfiles'))
import dovecot_fixture  # noqa: E402
import imap_check  # noqa: E402

STORES = 8
LEDGER = re.compile(r'Summary: listed (\d+), filtered (\d+), already there (\d+), copied (\d+), '
                    r'failed (\d+)')


def main():
    build = sys.argv[1]
    items = sys.argv[2] if len(sys.argv) > 2 else '120'
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    users = {'box%d' % i: 'pw%d' % i for i in range(STORES)}
    failures = []
    with dovecot_fixture.Dovecot(users=users) as server, \
            tempfile.TemporaryDirectory(prefix='batch-e2e-') as tmp:
        # Each account its own password, from one file only its owner reads.
        passwords = os.path.join(tmp, 'passwords')
        with open(os.open(passwords, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), 'w') as f:
            for user, password in users.items():
                f.write('%s@127.0.0.1 %s\n' % (user, password))
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'),
                   QUIRNEL_IMAP_PASSWORD_FILE=passwords, QUIRNEL_IMAP_CA_FILE=server.ca_file,
                   XDG_DOCUMENTS_DIR=tmp)
        env.pop('QUIRNEL_IMAP_PASSWORD', None)

        def run(*args):
            r = subprocess.run(args, env=env, capture_output=True, text=True)
            return r.returncode, r.stdout + r.stderr

        dumps = {}
        for i in range(STORES):
            rc, out = run(mapiprofile, 'sample', 'src%d' % i, os.path.join(tmp, 'src%d.db' % i),
                          '--items', items, '--seed', str(100 + i))
            rc2, out2 = run(mapiprofile, 'add', 'acct%d' % i, server.url('box%d' % i))
            if rc or rc2:
                failures.append('setting up %d: %s %s' % (i, out, out2))
            rc, dumps[i] = run(mapiprofile, 'dump', 'src%d' % i, '--props')
        batch = os.path.join(tmp, 'batch.txt')
        with open(batch, 'w') as f:
            f.write('# eight mailboxes and one that is not there\n')
            for i in range(STORES):
                f.write('src%d\tacct%d\n' % (i, i))
                if i == 3:
                    f.write('"no such store" acct0\n')
        r = subprocess.run([copy, '--batch', batch, '--jobs', '4'], env=env,
                           capture_output=True, text=True, timeout=800)
        print(r.stdout)
        done = re.findall(r'^Line (\d+) (\S+|"[^"]*"|no such store) -> (\S+): (exit \d+|.*?) in',
                          r.stdout, re.M)
        if r.returncode != 3:
            failures.append('exit %d, not 3 for one failed line\n%s' % (r.returncode, r.stderr))
        if 'Batch: lines 9, completed 8, not completed 1, not started 0' not in r.stdout:
            failures.append('no total line for 9 lines, 8 completed')
        if sum(1 for d in done if d[3] == 'exit 0') != STORES:
            failures.append('lines that completed: %r' % done)
        ledgers = []
        for entry in sorted(os.listdir(batch + '.d')):
            where = os.path.join(batch + '.d', entry)
            # Beside each line's folder lies the lock a batch holds while
            # that line runs.
            if not os.path.isdir(where):
                continue
            with open(os.path.join(where, 'output.txt'), encoding='utf-8', errors='replace') as f:
                output = f.read()
            m = LEDGER.search(output)
            if m:
                n = list(map(int, m.groups()))
                ledgers.append(n)
                if n[0] != sum(n[1:]):
                    failures.append('%s: ledger does not balance: %s' % (entry, m.group(0)))
            missing_store = 'Please select source and target' in output
            if not missing_store and 'Copy folder' not in output:
                failures.append('%s: the activity lines are missing from its output' % entry)
            if not missing_store and re.search(r'(?m)^(Error |Skip folder)', output):
                failures.append('%s: items failed:\n%s' % (entry, output[-1500:]))
            if not missing_store and not os.path.exists(os.path.join(where, 'quirnel.log')):
                failures.append('%s has no log file of its own' % entry)
        lines = [e for e in os.listdir(batch + '.d') if os.path.isdir(os.path.join(batch + '.d', e))]
        if len(lines) != STORES + 1:
            failures.append('line directories: %r' % lines)
        if ledgers:
            # Every run ends with its ledger, the one that could not start too.
            if len(ledgers) != STORES + 1:
                failures.append('%d ledgers for %d lines' % (len(ledgers), STORES + 1))
            total = [sum(c) for c in zip(*ledgers)]
            want = 'Total: listed %d, filtered %d, already there %d, copied %d, failed %d' % tuple(total)
            if want not in r.stdout:
                failures.append('no total %r' % want)
        else:
            failures.append('no run printed its ledger')
        for i in range(STORES):
            problems, checked, contents = imap_check.check(server.port, 'box%d' % i,
                                                           users['box%d' % i], dumps[i])
            twice = {k: v for k, v in imap_check.provenance_entries(contents).items() if v != 1}
            if problems or twice:
                failures.append('acct%d: %d checked, twice %r\n%s'
                                % (i, checked, twice, '\n'.join(problems[:10])))
    for f in failures:
        print('FAILED ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
