#!/usr/bin/env python3
"""Items per second of quirnel-copy --batch into IMAP accounts with 1, 2 and
4 jobs, next to a plain IMAP APPEND loop of the same messages in the same
run, against a Dovecot started here on 127.0.0.1.

Four generated stores of ITEMS items each are copied by a batch of four
lines into four fresh accounts, once per job count. The baseline fetches
every message the 1-job run stored (bytes, flags, internal date) and
APPENDs them again, one after the other over one imaplib connection, into a
fresh account: the cost of the server and the protocol alone. The ratio
says how much of a copy's time is Quirnel's own (reading the source,
converting to MIME, the engine) rather than the server's.

usage: imap_batch_bench.py BUILD_DIR [ITEMS]   (default 500 per store)
"""
import imaplib
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
IMAP = os.path.join(HERE, '..', 'platform', 'mapi', 'providers', 'imap')
sys.path.insert(0, IMAP)
sys.path.insert(0, os.path.join(IMAP, '..', 'mailfiles'))
import dovecot_fixture  # noqa: E402
import imap_check  # noqa: E402

STORES = 4
JOBS = (1, 2, 4)
PASSWORD = 'bench'


def main():
    build = sys.argv[1]
    items = sys.argv[2] if len(sys.argv) > 2 else '500'
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    users = {'j%d_%d' % (j, i): PASSWORD for j in JOBS for i in range(STORES)}
    users['baseline'] = PASSWORD
    with dovecot_fixture.Dovecot(users=users) as server, \
            tempfile.TemporaryDirectory(prefix='imap-bench-') as tmp:
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'),
                   QUIRNEL_IMAP_PASSWORD=PASSWORD, QUIRNEL_IMAP_CA_FILE=server.ca_file,
                   XDG_DOCUMENTS_DIR=tmp)

        def must(*args):
            r = subprocess.run(args, env=env, capture_output=True, text=True)
            if r.returncode != 0:
                sys.exit('%s failed: %s%s' % (' '.join(args[:3]), r.stdout, r.stderr))
            return r.stdout

        for i in range(STORES):
            must(mapiprofile, 'sample', 'src%d' % i, os.path.join(tmp, 'src%d.db' % i),
                 '--items', items, '--seed', str(7 + i))
        rates = {}
        total = 0
        for jobs in JOBS:
            batch = os.path.join(tmp, 'batch%d.txt' % jobs)
            with open(batch, 'w') as f:
                for i in range(STORES):
                    must(mapiprofile, 'add', 'acct%d_%d' % (jobs, i),
                         server.url('j%d_%d' % (jobs, i)))
                    f.write('src%d\tacct%d_%d\n' % (i, jobs, i))
            started = time.monotonic()
            out = must(copy, '--batch', batch, '--jobs', str(jobs))
            seconds = time.monotonic() - started
            stored = 0
            for i in range(STORES):
                contents, _ = imap_check.account_contents(server.port, 'j%d_%d' % (jobs, i),
                                                          PASSWORD)
                stored += sum(len(m) for m in contents.values())
            if total and stored != total:
                sys.exit('%d jobs stored %d messages, 1 job %d' % (jobs, stored, total))
            total = stored
            rates[jobs] = stored / seconds
            print('batch, %d job(s): %d messages in %.2f s, %.1f items/s'
                  % (jobs, stored, seconds, rates[jobs]))
            if not re.search(r'Batch: lines %d, completed %d' % (STORES, STORES), out):
                sys.exit('the batch did not complete:\n' + out)

        # The same messages, as the 1-job run stored them, appended again.
        messages = []
        for i in range(STORES):
            imap = imaplib.IMAP4('127.0.0.1', server.port)
            imap.login('j1_%d' % i, PASSWORD)
            for wire, _, flags in imap_check.list_mailboxes(imap):
                typ, data = imap.select('"%s"' % wire, readonly=True)
                if typ != 'OK' or int(data[0]) == 0:
                    continue
                typ, data = imap.uid('FETCH', '1:*', '(FLAGS INTERNALDATE BODY.PEEK[])')
                for part in data:
                    if isinstance(part, tuple):
                        head = part[0].decode()
                        flags = re.search(r'FLAGS \(([^)]*)\)', head).group(1)
                        flags = ' '.join(f for f in flags.split() if f != '\\Recent')
                        date = re.search(r'INTERNALDATE ("[^"]*")', head).group(1)
                        messages.append((flags, date, part[1]))
            imap.logout()
        imap = imaplib.IMAP4('127.0.0.1', server.port)
        imap.login('baseline', PASSWORD)
        started = time.monotonic()
        for flags, date, raw in messages:
            typ, data = imap.append('INBOX', '(%s)' % flags, date, raw)
            if typ != 'OK':
                sys.exit('baseline APPEND refused: %r' % data)
        seconds = time.monotonic() - started
        imap.logout()
        baseline = len(messages) / seconds
        print('baseline, plain APPEND loop: %d messages in %.2f s, %.1f items/s'
              % (len(messages), seconds, baseline))
        for jobs in JOBS:
            print('%d job(s): %.1f items/s = %.2f x the APPEND loop'
                  % (jobs, rates[jobs], rates[jobs] / baseline))
    return 0


if __name__ == '__main__':
    sys.exit(main())
