#!/usr/bin/env python3
"""Items per second of one batch run as 1, 2 and 3 shards, each shard a
quirnel-copy --batch --shard I/N process with a home of its own (as on a
machine of its own), against a Dovecot started here on 127.0.0.1.

The batch has LINES lines, generated stores of ITEMS items into fresh
accounts; every shard runs one copy at a time, so the shard count is the
number of copies writing the server at once. The rate is the messages the
accounts hold at the end over the time from the first shard's start to the
last one's end, the best of ROUNDS rounds (1, 2, 3 shards in each: the first
round also pays for warming the server up). The machine's cores bound what
more shards can give.

usage: shard_bench.py BUILD_DIR [ITEMS]   (default 200 per store)
"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'copy'))
from shards_e2e import SOURCES, Shared  # noqa: E402
from concurrency_e2e import dovecot_fixture, message_total, PASSWORD  # noqa: E402

LINES = 6
SHARD_COUNTS = (1, 2, 3)
ROUNDS = 2  # the best of each; other work on the machine only slows a run down


def run_batch(shared, batch, n, users):
    started = time.monotonic()
    shards = [subprocess.Popen([shared.copy, '--batch', batch, '--shard', '%d/%d' % (i, n)],
                               env=shared.homes[i], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True) for i in range(n)]
    outs = [p.communicate()[0] for p in shards]
    seconds = time.monotonic() - started
    if any(p.returncode != 0 for p in shards):
        sys.exit('%d shard(s): exits %r\n%s' % (n, [p.returncode for p in shards],
                                                '\n'.join(outs)[-2000:]))
    rc, report = shared.run(0, shared.copy, '--batch-report', batch)
    if rc != 0:
        sys.exit('%d shard(s): the batch did not complete\n%s' % (n, report))
    stored = sum(message_total(shared.server.port, user) for user in users)
    print('%d shard(s): %d messages in %.2f s, %.1f items/s' % (n, stored, seconds,
                                                              stored / seconds), flush=True)
    return stored / seconds


def main():
    build = sys.argv[1]
    items = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    users = {'s%d_%d_%d' % (r, n, k): PASSWORD for r in range(ROUNDS) for n in SHARD_COUNTS
             for k in range(LINES)}
    with dovecot_fixture.Dovecot(users=users) as server, \
            tempfile.TemporaryDirectory(prefix='shard-bench-') as tmp:
        shared = Shared(build, tmp, server, items)
        batches = {}
        for r in range(ROUNDS):
            for n in SHARD_COUNTS:
                batches[r, n] = shared.path('batch-%d-%d.txt' % (r, n))
                with open(batches[r, n], 'w') as f:
                    for k in range(LINES):
                        user = 's%d_%d_%d' % (r, n, k)
                        shared.must(0, shared.mapiprofile, 'add', 'acct-' + user,
                                    server.url(user))
                        f.write('src-%d\tacct-%s\n' % ((k + 1) % SOURCES, user))
        shared.share_profile()
        rates = {n: 0.0 for n in SHARD_COUNTS}
        for r in range(ROUNDS):
            for n in SHARD_COUNTS:
                rate = run_batch(shared, batches[r, n], n,
                                 ['s%d_%d_%d' % (r, n, k) for k in range(LINES)])
                rates[n] = max(rates[n], rate)
        print('items/s   ' + '   '.join('%d shard(s): %.1f' % (n, rates[n])
                                        for n in SHARD_COUNTS))
        print('speed-up  ' + '   '.join('%d shard(s): %.2fx' % (n, rates[n] / rates[1])
                                        for n in SHARD_COUNTS))
    return 0


if __name__ == '__main__':
    sys.exit(main())
