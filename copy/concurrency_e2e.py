#!/usr/bin/env python3
"""Two writers meeting on one target, and a batch being stopped.

- Into an embedded store, a Maildir and an account of a Dovecot the test
  starts: while one quirnel-copy writes, a second with --no-wait ends with
  exit 1 naming the first's process, and a second without it (under another
  profile name for the same store where there is one) waits, saying for
  whom; both end with 0 and every item is in the target exactly once.
- A writer that does not see the lock (another machine's lock folder) fills
  the folder a run is in the middle of, while that run is held (SIGSTOP):
  the run, let go, re-checks before each write and copies none of them
  again (at most the one item whose write the stop interrupted).
- A batch naming one target twice (by two names) with --jobs 3 leaves every
  item there once.
- A batch stopped by SIGTERM to its parent, by SIGINT to its parent and by
  SIGINT to its whole process group (Ctrl-C) ends with exit 4, each line's
  run with its ledger, and no process of the group left.

- A batch shared by two shards (--shard 0/2 and 1/2), one of them killed
  halfway with its runs and started again: the report (--batch-report)
  says which lines are not started, failed or completed, the rerun skips
  what was completed, and in the end every line is completed and every
  target holds each item once.

usage: concurrency_e2e.py BUILD_DIR [ITEMS]
"""
import os
import re
import signal
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
from imap_e2e import PASSWORD, message_total  # noqa: E402

LEDGER = re.compile(r'Summary: listed (\d+), filtered (\d+), already there (\d+), copied (\d+), '
                    r'failed (\d+)')
failures = []


def fail(text):
    failures.append(text)
    print('FAILED ' + text, flush=True)


def wait_for(predicate, timeout=120):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def read(path):
    try:
        with open(path, encoding='utf-8', errors='replace') as f:
            return f.read()
    except OSError:
        return ''


class Tools:
    def __init__(self, build, tmp, env):
        self.mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
        self.copy = os.path.join(build, 'copy/quirnel-copy')
        self.tmp, self.env = tmp, env

    def run(self, *args, timeout=600):
        r = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout)
        return r.returncode, r.stdout + r.stderr

    def must(self, *args):
        rc, out = self.run(*args)
        if rc != 0:
            raise SystemExit('%s: exit %d\n%s' % (' '.join(args), rc, out))
        return out

    def items(self, store):
        return sum(int(n) for n in re.findall(r'items=(\d+)', self.must(self.mapiprofile, 'dump',
                                                                         store)))

    def start_copy(self, target, log):
        """A copy of src into target in the background, its output in log."""
        out = open(log, 'w')
        p = subprocess.Popen([self.copy, '--source', 'src', '--target', target], env=self.env,
                             stdout=out, stderr=subprocess.STDOUT)
        out.close()
        return p


def two_writers(tools, kind, first, second, count_copies):
    """first and second name one store; the source holds tools.total items."""
    logs = [os.path.join(tools.tmp, '%s-%d.txt' % (kind, i)) for i in (1, 2)]
    one = tools.start_copy(first, logs[0])
    if not wait_for(lambda: 'Copy folder' in read(logs[0]) or one.poll() is not None):
        fail('%s: the first run never began copying' % kind)
    if one.poll() is not None:
        fail('%s: the first run ended before the second began; more items are needed' % kind)
    holder = 'process %d on host' % one.pid
    rc, out = tools.run(tools.copy, '--source', 'src', '--target', second, '--no-wait')
    if rc != 1 or holder not in out:
        fail('%s: --no-wait during another run: exit %d, not 1 naming "%s"\n%s'
             % (kind, rc, holder, out[-800:]))
    two = tools.start_copy(second, logs[1])
    rcs = [one.wait(timeout=600), two.wait(timeout=600)]
    outs = [read(log) for log in logs]
    if rcs != [0, 0]:
        fail('%s: exits %r\n%s\n%s' % (kind, rcs, outs[0][-800:], outs[1][-800:]))
    if not re.search(r'Waiting for target "%s": it is being written by %s' % (re.escape(second),
                                                                              holder), outs[1]):
        fail('%s: the second run did not say whom it waited for:\n%s' % (kind, outs[1][-800:]))
    copied = [int(LEDGER.search(o).group(4)) if LEDGER.search(o) else -1 for o in outs]
    there = count_copies()
    print('%s: copied %r, in the target %d of %d' % (kind, copied, there, tools.total))
    if copied != [tools.total, 0] or there != tools.total:
        fail('%s: copied %r, target holds %d, source %d' % (kind, copied, there, tools.total))


def writer_past_the_lock(tools, port):
    folders = re.findall(r'^folder (.*) items=(\d+)', tools.must(tools.mapiprofile, 'dump', 'src'),
                         re.M)
    biggest = max(folders, key=lambda f: int(f[1]))[0]
    tools.must(tools.mapiprofile, 'add', 'acct2', 'imap://box2@127.0.0.1:%d' % port)
    log = os.path.join(tools.tmp, 'past-b.txt')
    held_env = dict(tools.env, XDG_RUNTIME_DIR=os.path.join(tools.tmp, 'run-b'))
    with open(log, 'w') as out:
        held = subprocess.Popen([tools.copy, '--source', 'src', '--target', 'acct2'],
                                env=held_env, stdout=out, stderr=subprocess.STDOUT)
    line = 'Copy folder %s to' % biggest
    wait_for(lambda: line in read(log) or held.poll() is not None)
    # Once an item of the folder is on the server, the run has read what
    # the folder held before it.
    before = message_total(port, 'box2')
    wait_for(lambda: message_total(port, 'box2') > before or held.poll() is not None)
    held.send_signal(signal.SIGSTOP)
    stopped_at = message_total(port, 'box2')
    other_env = dict(tools.env, XDG_RUNTIME_DIR=os.path.join(tools.tmp, 'run-a'))
    other = subprocess.run([tools.copy, '--source', 'src', '--target', 'acct2'], env=other_env,
                           capture_output=True, text=True, timeout=600)
    held.send_signal(signal.SIGCONT)
    rc = held.wait(timeout=600)
    contents, _ = imap_check.account_contents(port, 'box2', PASSWORD)
    entries = imap_check.provenance_entries(contents)
    extra = sum(n - 1 for n in entries.values())
    there = message_total(port, 'box2')
    print('past the lock: held at %d items, the other run exit %d, the held run exit %d, '
          '%d items there for %d, %d twice' % (stopped_at, other.returncode, rc, there,
                                               tools.total, extra))
    if (rc != 0 or other.returncode != 0 or there - extra != tools.total or extra > 1
            or stopped_at >= tools.total):
        fail('a writer past the lock: exits %d and %d, %d items for %d, %d twice\n%s'
             % (other.returncode, rc, there, tools.total, extra, read(log)[-1500:]))


def stopped_batch(tools, how):
    """A batch of three lines stopped while each runs; how: 'term', 'int'
    (to the parent) or 'group' (SIGINT to the process group)."""
    batch = os.path.join(tools.tmp, 'stop-%s.txt' % how)
    with open(batch, 'w') as f:
        for i in range(3):
            name = 'stop-%s-%d' % (how, i)
            tools.must(tools.mapiprofile, 'create', name, os.path.join(tools.tmp, name + '.db'))
            f.write('src\t%s\n' % name)
    p = subprocess.Popen([tools.copy, '--batch', batch, '--jobs', '3'], env=tools.env,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         start_new_session=True)
    outputs = [os.path.join(batch + '.d', 'line-%03d' % n, 'output.txt') for n in (1, 2, 3)]
    if not wait_for(lambda: all('Copy folder' in read(o) for o in outputs)):
        fail('batch %s: its lines did not all begin' % how)
    if how == 'group':
        os.killpg(p.pid, signal.SIGINT)
    else:
        p.send_signal(signal.SIGTERM if how == 'term' else signal.SIGINT)
    try:
        out, _ = p.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        fail('batch %s: did not end within 120 s after the signal' % how)
    try:
        os.killpg(p.pid, 0)
        fail('batch %s: a process of the batch is still running' % how)
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    ended = re.findall(r'^Line \d+ src -> \S+: (exit \d+|.*?) in .*listed', out, re.M)
    print('batch %s: exit %d, lines %r' % (how, p.returncode, ended))
    if p.returncode != 4 or ended != ['exit 4'] * 3:
        fail('batch %s: exit %d, lines %r, not 4 with three stopped lines and their ledgers\n%s'
             % (how, p.returncode, ended, out[-1500:]))


def shards(tools):
    batch = os.path.join(tools.tmp, 'shards.txt')
    with open(batch, 'w') as f:
        for i in range(4):
            name = 'shard-%d' % i
            tools.must(tools.mapiprofile, 'create', name, os.path.join(tools.tmp, name + '.db'))
            f.write('src\t%s\n' % name)

    def report(want_rc, want):
        rc, out = tools.run(tools.copy, '--batch-report', batch)
        states = re.findall(r'^Line \d+ src -> shard-\d: ([a-z ]*[a-z])', out, re.M)
        if rc != want_rc or states != want:
            fail('report: exit %d, states %r, not %d and %r\n%s' % (rc, states, want_rc, want, out))
        return out

    report(3, ['not started'] * 4)
    # Shard 1 (lines 1 and 3) killed outright, its runs with it.
    p = subprocess.Popen([tools.copy, '--batch', batch, '--shard', '1/2', '--jobs', '2'],
                         env=tools.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    outputs = [os.path.join(batch + '.d', 'line-%03d' % n, 'output.txt') for n in (1, 3)]
    wait_for(lambda: all('Copy folder' in read(o) for o in outputs))
    os.killpg(p.pid, signal.SIGKILL)
    p.wait()
    rc, out = tools.run(tools.copy, '--batch', batch, '--shard', '0/2')
    if rc != 0 or out.count(': exit 0 in') != 2:
        fail('shard 0/2: exit %d\n%s' % (rc, out))
    report(3, ['failed', 'completed', 'failed', 'completed'])
    rc, out = tools.run(tools.copy, '--batch', batch, '--shard', '0/2')
    if rc != 0 or out.count('completed before, skipped') != 2:
        fail('shard 0/2 again: exit %d, the completed lines not skipped\n%s' % (rc, out))
    rc, out = tools.run(tools.copy, '--batch', batch, '--shard', '1/2', '--jobs', '2')
    total = report(0, ['completed'] * 4)
    counts = [tools.items('shard-%d' % i) for i in range(4)]
    print('shards: %r items in the targets, %s' % (counts, total.strip().splitlines()[-1]))
    if counts != [tools.total] * 4:
        fail('shards: targets hold %r items, not %d each' % (counts, tools.total))


def main():
    build = sys.argv[1]
    items = sys.argv[2] if len(sys.argv) > 2 else '1500'
    with dovecot_fixture.Dovecot(users={'box': PASSWORD, 'box2': PASSWORD}) as server, \
            tempfile.TemporaryDirectory(prefix='concurrency-e2e-') as tmp:
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'),
                   QUIRNEL_IMAP_PASSWORD=PASSWORD, QUIRNEL_IMAP_CA_FILE=server.ca_file,
                   XDG_DOCUMENTS_DIR=tmp, XDG_RUNTIME_DIR=os.path.join(tmp, 'run'))
        os.mkdir(env['XDG_RUNTIME_DIR'], 0o700)
        env.pop('QUIRNEL_IMAP_PASSWORD_FILE', None)
        tools = Tools(build, tmp, env)
        tools.must(tools.mapiprofile, 'sample', 'src', os.path.join(tmp, 'src.db'),
                   '--items', items, '--seed', '7')
        tools.total = tools.items('src')

        # Two names of one embedded file: the lock goes by the store, not
        # by the name.
        tools.must(tools.mapiprofile, 'create', 'emb', os.path.join(tmp, 'emb.db'))
        tools.must(tools.mapiprofile, 'add', 'emb-again', os.path.join(tmp, 'emb.db'))
        two_writers(tools, 'embedded', 'emb', 'emb-again', lambda: tools.items('emb'))
        tools.must(tools.mapiprofile, 'create', 'md', os.path.join(tmp, 'md'), '--kind', 'maildir')
        if any(n.endswith('quirnel-lock') for n in os.listdir(os.path.join(tmp, 'md'))):
            fail('maildir: a lock file inside the Maildir')
        two_writers(tools, 'maildir', 'md', 'md', lambda: tools.items('md'))
        tools.must(tools.mapiprofile, 'add', 'acct', server.url('box'))

        def imap_copies():
            contents, _ = imap_check.account_contents(server.port, 'box', PASSWORD)
            entries = imap_check.provenance_entries(contents)
            twice = [k for k, n in entries.items() if n != 1]
            if twice:
                fail('imap: %d items more than once' % len(twice))
            # Not every item carries an identity to check it by; they all count.
            return message_total(server.port, 'box')
        two_writers(tools, 'imap', 'acct', 'acct', imap_copies)
        writer_past_the_lock(tools, server.port)

        batch = os.path.join(tmp, 'twice.txt')
        tools.must(tools.mapiprofile, 'create', 'bt', os.path.join(tmp, 'bt.db'))
        tools.must(tools.mapiprofile, 'add', 'bt-again', os.path.join(tmp, 'bt.db'))
        with open(batch, 'w') as f:
            f.write('src\tbt\nsrc\tbt-again\n')
        rc, out = tools.run(tools.copy, '--batch', batch, '--jobs', '3')
        there = tools.items('bt')
        print('batch twice: exit %d, %d of %d in the target' % (rc, there, tools.total))
        if rc != 0 or there != tools.total:
            fail('batch naming one target twice: exit %d, %d items for %d\n%s'
                 % (rc, there, tools.total, out[-1500:]))
        # The batch itself runs them one after the other: neither had to wait.
        for n in (1, 2):
            if 'Waiting for target' in read(os.path.join(batch + '.d', 'line-%03d' % n,
                                                          'output.txt')):
                fail('batch naming one target twice: line %d ran beside the other' % n)

        for how in ('term', 'int', 'group'):
            stopped_batch(tools, how)
        shards(tools)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
