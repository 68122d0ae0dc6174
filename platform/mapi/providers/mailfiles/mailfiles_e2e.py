#!/usr/bin/env python3
"""End to end through the command-line tools: a generated store and every
.pst sample are copied with quirnel-copy into a Maildir, an mbox and an .eml
folder store; each copy is checked with Python's email and mailbox modules
against the source's dump (mailfiles_check), then copied back into an
embedded store whose dump must keep every property MIME carries
(mailfiles_roundtrip).

usage: mailfiles_e2e.py BUILD_DIR SHARED_DIR [ITEMS]
"""
import glob
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
KINDS = ('maildir', 'mbox', 'eml')


def main():
    build, shared = sys.argv[1], sys.argv[2]
    items = sys.argv[3] if len(sys.argv) > 3 else '300'
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    failures = []
    with tempfile.TemporaryDirectory(prefix='mailfiles-e2e-') as tmp:
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'))

        def run(*args):
            r = subprocess.run(args, env=env, capture_output=True, text=True)
            return r.returncode, r.stdout + r.stderr

        def dump(name):
            path = os.path.join(tmp, name + '.dump')
            rc, out = run(mapiprofile, 'dump', name, '--props')
            with open(path, 'w', encoding='utf-8') as f:
                f.write(out)
            return rc, path

        sources = []
        rc, out = run(mapiprofile, 'sample', 'generated', os.path.join(tmp, 'generated.db'),
                      '--items', items)
        if rc != 0:
            failures.append('sample: ' + out)
        else:
            sources.append('generated')
        samples = sorted(glob.glob(os.path.join(shared, 'fixtures/pst/*.pst')))
        if not samples:
            failures.append('no .pst samples in %s/fixtures/pst' % shared)
        for pst in samples:
            name = 'pst-' + os.path.splitext(os.path.basename(pst))[0]
            rc, out = run(mapiprofile, 'add', name, pst)
            if rc == 0:
                sources.append(name)
            else:
                print('skipped %s: %s' % (pst, out.strip()))

        for source in sources:
            rc, source_dump = dump(source)
            if rc != 0:
                failures.append('dump %s failed' % source)
                continue
            for kind in KINDS:
                target = '%s-%s' % (source, kind)
                where = os.path.join(tmp, target)
                rc, out = run(mapiprofile, 'create', target, where, '--kind', kind)
                if rc != 0:
                    failures.append('create %s: %s' % (target, out))
                    continue
                rc, out = run(copy, '--source', source, '--target', target)
                if rc != 0 or 'Error ' in out:
                    failures.append('copy %s -> %s: exit %d\n%s' % (source, target, rc, out[-2000:]))
                rc, out = run(sys.executable, os.path.join(HERE, 'mailfiles_check.py'), kind, where,
                              source_dump)
                print('%s: %s' % (target, out.strip().splitlines()[-1] if out.strip() else out))
                if rc != 0:
                    failures.append('check %s:\n%s' % (target, out[-3000:]))
                back = target + '-back'
                rc, out = run(mapiprofile, 'create', back, os.path.join(tmp, back + '.db'))
                rc2, out2 = run(copy, '--source', target, '--target', back)
                if rc != 0 or rc2 != 0:
                    failures.append('copy back %s: %s%s' % (target, out, out2[-2000:]))
                    continue
                rc, back_dump = dump(back)
                rc, out = run(sys.executable, os.path.join(HERE, 'mailfiles_roundtrip.py'),
                              source_dump, back_dump)
                print('%s: %s' % (back, out.strip().splitlines()[-1] if out.strip() else out))
                if rc != 0:
                    failures.append('round trip %s:\n%s' % (target, out[-3000:]))
    for f in failures:
        print('FAILED ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
