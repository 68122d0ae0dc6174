#!/usr/bin/env python3
"""One batch of 12 lines shared by 3 shards, as on 3 machines.

- Each shard runs in a process of its own with a home of its own (profile,
  runtime and documents folders); only the batch directory and the stores
  that are files are shared. Shard 1 is killed with its runs in the middle
  of its third line and started again: the report says failed and not
  started for its last two lines before, every line completed after, and
  every target holds each item of its source exactly once (embedded stores
  counted by mapiprofile, accounts of the test Dovecot read with imaplib).
- The GNU parallel recipe (this machine as its one "remote" host) runs a
  second batch of the same shape to the same report; the Slurm script runs
  a shard of it the way a task of an array would, and the Kubernetes
  manifest is read for what makes it an indexed Job of 3 shards.

usage: shards_e2e.py BUILD_DIR [ITEMS]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from concurrency_e2e import fail, failures, read, wait_for  # noqa: E402
from concurrency_e2e import dovecot_fixture, imap_check, message_total, PASSWORD  # noqa: E402

RUNNERS = os.path.join(HERE, 'runners')
LINES, SHARDS, SOURCES = 12, 3, 4
ACCOUNT_LINES = (1, 5, 7, 12)  # the rest go to embedded stores
STATE = re.compile(r'^Line (\d+) (\S+) -> \S+: ([a-z ]*[a-z])', re.M)
TOTAL = re.compile(r'^Total: .*$', re.M)


class Shared:
    """The storage every "machine" sees, and one home per machine."""

    def __init__(self, build, tmp, server, items):
        self.build, self.tmp, self.server = build, tmp, server
        self.mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
        self.copy = os.path.join(build, 'copy/quirnel-copy')
        self.dir = os.path.join(tmp, 'shared')
        os.mkdir(self.dir)
        self.homes = [self.home(i) for i in range(SHARDS)]
        self.totals = {}
        for k in range(SOURCES):
            name = 'src-%d' % k
            self.must(0, self.mapiprofile, 'sample', name, self.path(name + '.db'), '--items',
                      str(items), '--seed', str(k + 1))
            self.totals[name] = self.items(name)

    def home(self, i):
        home = os.path.join(self.tmp, 'home-%d' % i)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, '.config'),
                   XDG_RUNTIME_DIR=os.path.join(home, 'run'),
                   XDG_DOCUMENTS_DIR=os.path.join(home, 'Documents'),
                   QUIRNEL_IMAP_PASSWORD=PASSWORD, QUIRNEL_IMAP_CA_FILE=self.server.ca_file)
        for key in ('MAPI_PROFILE', 'QUIRNEL_IMAP_PASSWORD_FILE'):
            env.pop(key, None)
        for key in ('XDG_CONFIG_HOME', 'XDG_RUNTIME_DIR', 'XDG_DOCUMENTS_DIR'):
            os.makedirs(env[key], 0o700)
        return env

    def path(self, name):
        return os.path.join(self.dir, name)

    def run(self, i, *args, **kw):
        r = subprocess.run(args, env=self.homes[i], capture_output=True, text=True,
                           timeout=kw.get('timeout', 300))
        return r.returncode, r.stdout + r.stderr

    def must(self, i, *args):
        rc, out = self.run(i, *args)
        if rc != 0:
            raise SystemExit('%s: exit %d\n%s' % (' '.join(args), rc, out))
        return out

    def items(self, store):
        dump = self.must(0, self.mapiprofile, 'dump', store)
        return sum(int(n) for n in re.findall(r'items=(\d+)', dump))

    def batch(self, prefix):
        """A batch file of LINES lines; [(source, target, account or None)]."""
        lines = []
        for k in range(1, LINES + 1):
            source = 'src-%d' % (k % SOURCES)
            if k in ACCOUNT_LINES:
                user = '%s%d' % (prefix, ACCOUNT_LINES.index(k))
                target = 'acct-' + user
                self.must(0, self.mapiprofile, 'add', target, self.server.url(user))
                lines.append((source, target, user))
            else:
                target = '%s-%d' % (prefix, k)
                self.must(0, self.mapiprofile, 'create', target, self.path(target + '.db'))
                lines.append((source, target, None))
        path = self.path(prefix + '.txt')
        with open(path, 'w') as f:
            f.writelines('%s\t%s\n' % line[:2] for line in lines)
        return path, lines

    def share_profile(self):
        """Every machine's profile names the batch's stores alike."""
        mine = os.path.join(self.homes[0]['XDG_CONFIG_HOME'], 'quirnel', 'profile.ini')
        for env in self.homes[1:]:
            os.makedirs(os.path.join(env['XDG_CONFIG_HOME'], 'quirnel'), exist_ok=True)
            shutil.copy(mine, os.path.join(env['XDG_CONFIG_HOME'], 'quirnel', 'profile.ini'))

    def start_shard(self, batch, i):
        return subprocess.Popen([self.copy, '--batch', batch, '--shard', '%d/%d' % (i, SHARDS)],
                                env=self.homes[i], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, start_new_session=True)

    def report(self, batch, want_rc, want, what):
        rc, out = self.run(0, self.copy, '--batch-report', batch)
        states = {int(n): s for n, _, s in STATE.findall(out)}
        if rc != want_rc or states != want:
            fail('%s: report exit %d, states %r, not %d and %r\n%s'
                 % (what, rc, states, want_rc, want, out))
        return out

    def check_targets(self, lines, what):
        """Every item of each line's source in its target exactly once."""
        for number, (source, target, user) in enumerate(lines, 1):
            want = self.totals[source]
            if user is None:
                there, twice = self.items(target), 0
            else:
                contents, _ = imap_check.account_contents(self.server.port, user, PASSWORD)
                twice = sum(n - 1 for n in imap_check.provenance_entries(contents).values())
                there = message_total(self.server.port, user)
            if there != want or twice:
                fail('%s: line %d (%s) holds %d items, %d of them twice, for %d'
                     % (what, number, target, there, twice, want))


def killed_shard(shared):
    batch, lines = shared.batch('a')
    shared.share_profile()
    every = {k: 'not started' for k in range(1, LINES + 1)}
    shared.report(batch, 3, every, 'before')
    shards = [shared.start_shard(batch, i) for i in range(SHARDS)]
    # Shard 1 holds lines 1, 4, 7 and 10; it dies while line 7 is writing
    # its account, with line 10 still to come.
    victim = ACCOUNT_LINES.index(7)
    line7 = os.path.join(batch + '.d', 'line-007', 'output.txt')
    if not wait_for(lambda: 'Copy folder' in read(line7) and
                    message_total(shared.server.port, 'a%d' % victim) > 0):
        fail('shard 1 never reached its third line')
    os.killpg(shards[1].pid, signal.SIGKILL)
    shards[1].wait()
    for i in (0, 2):
        out, _ = shards[i].communicate(timeout=300)
        if shards[i].returncode != 0:
            fail('shard %d/%d: exit %d\n%s' % (i, SHARDS, shards[i].returncode, out[-1500:]))
    halfway = {k: 'completed' for k in range(1, LINES + 1)}
    halfway.update({7: 'failed', 10: 'not started'})
    shared.report(batch, 3, halfway, 'shard 1 killed')
    rc, out = shared.run(1, shared.copy, '--batch', batch, '--shard', '1/%d' % SHARDS)
    if rc != 0 or out.count('completed before, skipped') != 2:
        fail('shard 1 again: exit %d, lines 1 and 4 not skipped\n%s' % (rc, out[-1500:]))
    done = {k: 'completed' for k in range(1, LINES + 1)}
    report = shared.report(batch, 0, done, 'after the rerun')
    shared.check_targets(lines, 'killed shard')
    listed = sum(shared.totals[source] for source, _, _ in lines)
    print('killed shard: %s' % TOTAL.search(report).group(0), flush=True)
    if 'listed %d,' % listed not in report:
        fail('the report does not sum up %d listed items\n%s' % (listed, report))
    return report


def runner_recipes(shared, first_report):
    batch, lines = shared.batch('p')
    shared.share_profile()
    env = dict(shared.homes[0], QUIRNEL_COPY=shared.copy)
    r = subprocess.run([os.path.join(RUNNERS, 'parallel.sh'), batch, str(SHARDS), ':'],
                       env=env, capture_output=True, text=True, timeout=300)
    tags = sorted(set(re.findall(r'^(\d)\t', r.stdout, re.M)))
    if r.returncode != 0 or tags != ['0', '1', '2']:
        fail('parallel recipe: exit %d, shards %r\n%s%s'
             % (r.returncode, tags, r.stdout[-1500:], r.stderr[-1500:]))
    report = shared.report(batch, 0, {k: 'completed' for k in range(1, LINES + 1)},
                           'parallel recipe')
    # The same sources to the same kinds of target: the same states and
    # totals, save what the killed line found already there.
    def shape(text):
        return (STATE.findall(text), re.findall(r'^Report: .*$', text, re.M),
                [int(a) + int(b) for a, b in re.findall(r'already there (\d+), copied (\d+)',
                                                        text)])
    if shape(report) != shape(first_report):
        fail('parallel recipe: another report than the killed batch\n%s\n%s'
             % (report, first_report))
    shared.check_targets(lines, 'parallel recipe')

    # A task of a Slurm array: its shard of a completed batch has nothing left.
    path = os.path.join(RUNNERS, 'slurm.sbatch')
    if subprocess.run(['bash', '-n', path]).returncode != 0:
        fail('slurm.sbatch does not parse')
    env = dict(shared.homes[2], SLURM_ARRAY_TASK_ID='2', SLURM_ARRAY_TASK_COUNT=str(SHARDS),
               PATH=os.path.dirname(shared.copy) + os.pathsep + os.environ['PATH'])
    r = subprocess.run(['bash', path, batch], env=env, capture_output=True, text=True,
                       timeout=120)
    if r.returncode != 0 or r.stdout.count('completed before, skipped') != LINES // SHARDS:
        fail('slurm.sbatch as task 2: exit %d\n%s%s' % (r.returncode, r.stdout, r.stderr))

    with open(os.path.join(RUNNERS, 'kubernetes-job.yaml')) as f:
        job = yaml.safe_load(f)
    spec = job.get('spec', {})
    args = ' '.join(spec.get('template', {}).get('spec', {}).get('containers', [{}])[0]
                    .get('args', []))
    shard = re.search(r'--shard "?\$\(?JOB_COMPLETION_INDEX\)?/(\d+)', args)
    if (job.get('kind') != 'Job' or spec.get('completionMode') != 'Indexed'
            or shard is None or spec.get('completions') != int(shard.group(1))):
        fail('kubernetes-job.yaml: not an indexed Job with one completion per shard: %r' % job)


def main():
    build = sys.argv[1]
    items = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    users = {'%s%d' % (p, n): PASSWORD for p in 'ap' for n in range(len(ACCOUNT_LINES))}
    with dovecot_fixture.Dovecot(users=users) as server, \
            tempfile.TemporaryDirectory(prefix='shards-e2e-') as tmp:
        shared = Shared(build, tmp, server, items)
        report = killed_shard(shared)
        runner_recipes(shared, report)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
