#!/usr/bin/env python3
"""Every number the documents give, and what it is checked against.

    docs/figures.py TREE DOCUMENT...

TREE is a source tree with its release builds: TREE/build/release/argreport,
and the arm64 and ppc64el releases beside it (docs/check_figures.sh builds
them); DOCUMENT are the English documents, which docs/check_figures.sh
names. Prints "ok: ..." or "FAILED: ..." for each rule below, and the
status is 1 if any failed.

A number in the prose of the English documents (docs/documents.py figures
reads them) is one of:
  - written by what makes it: the build's settings, the system's limits,
    the program's own output, each compared exactly with the text;
  - a bound the text states, and checked;
  - a measurement of one machine on one day, in the benchmark's table of
    docs/performance.md under its date and machine, which the prose cites
    without restating it;
  - not a figure, but a name or a position (entry 1, revision 2, Debian
    12's release, a manual's section (1)), each kind by a rule below that
    says so.
A number that no rule claims is an error: a figure is checked or not
written. The Chinese documents give the same numbers, block by block, as the
docs part checks (docs/documents.py parity), so the rules read the English
ones. A rule that matches nothing in a document it names is an error too,
as the sentence it checked has changed.
"""
import functools
import os
import re
import subprocess
import sys

# The module beside it, imported without leaving compiled Python in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import FIGURE, read  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TREE = None
DOCS = []  # the English documents, as the command line names them
PAGES = ('README.md', 'argreport.1.in')


def source(path):
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        return f.read()


def grouped(n):
    return f'{n:,}'


def number(text):
    return int(text.replace(',', ''))


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, **kw)


@functools.cache
def release():
    return os.path.join(TREE, 'build/release/argreport')


def report(args):
    """The release's report for these arguments, as text."""
    return run([release()] + args).stdout.decode('utf-8', 'replace')


def gives(argument, value):
    num = report([argument]).rsplit('num = ', 1)[-1].strip()
    return None if num == value else f'`{argument}` gives {num}'


def no_numbers(listed):
    """The arguments a list of those that hold no number names."""
    return (re.findall(r'`([^`]*)`', listed) + [''] * ('empty argument' in listed)
            + ['１２'] * ('full-width digits' in listed))


@functools.cache
def buffer_size():
    return int(re.search(r'^set\(ARGREPORT_BUFFER_SIZE (\d+)\)$', source('CMakeLists.txt'), re.M)[1])


def writes(args):
    """The sizes of the release's writes to standard output."""
    trace = os.path.join(TREE, 'build/figures.trace')
    subprocess.run(['strace', '-f', '-qq', '-e', 'trace=write', '-o', trace, release()] + args,
                   stdout=subprocess.DEVNULL)
    with open(trace) as f:
        return [int(m[1]) for m in re.finditer(r'write\(1, .*\) += (\d+)$', f.read(), re.M)]


def sized(size, entries):
    """That many arguments, whose report is size bytes: each byte more in an
    argument is one more in the report."""
    args = ['1'] + [''] * (entries - 1)
    width = (size - len(report(args).encode())) // entries
    args = ['1'] + ['x' * width] * (entries - 1)
    args[-1] += 'x' * (size - len(report(args).encode()))
    return args


def check_buffer(kib, size=None):
    if number(kib) * 1024 != buffer_size() or (size and number(size) != buffer_size()):
        return f'the buffer is {grouped(buffer_size())} bytes (ARGREPORT_BUFFER_SIZE in CMakeLists.txt)'
    return one_write()


@functools.cache
def one_write():
    """A report one byte shorter than the buffer leaves in one write, of short
    entries or with a long last one; one byte longer, in several."""
    size = buffer_size()
    for args, want in ((sized(size - 1, 300), 1), (sized(size - 1, 2), 1), (sized(size + 1, 300), None)):
        n = len(writes(args))
        if (want and n != want) or (not want and n < 2):
            return f'a report of {len(report(args).encode())} bytes went out in {n} writes'
    return None


@functools.cache
def statuses():
    """What the program exits with, where the documents say it does."""
    argreport = release()
    seen = {run([argreport, 'x']).returncode, run([argreport]).returncode,
            run(f'{argreport} x >/dev/full', shell=True).returncode}
    seen.add(run(['bash', '-c', f'{argreport} $(seq 100000) | head -1 >/dev/null; exit ${{PIPESTATUS[0]}}']).returncode)
    seen.add(max_arg()[1])
    return seen


@functools.cache
def max_arg():
    """The longest argument that reaches a program, plus one, and bash's status for it."""
    size = 1 << 17  # MAX_ARG_STRLEN: 32 pages of 4 KiB, on every Linux
    ok = run(['bash', '-c', f'"$0" "$(head -c {size - 1} /dev/zero | tr "\\0" x)" >/dev/null', release()])
    too = run(['bash', '-c', f'"$0" "$(head -c {size} /dev/zero | tr "\\0" x)" >/dev/null', release()])
    if ok.returncode == 0 and too.returncode and b'Argument list too long' in too.stderr:
        return size, too.returncode
    return None, None


def aligned(kib, *arches):
    """Whether the release of each architecture aligns its segments to kib KiB."""
    return next(filter(None, (same({number(kib) * 1024}, alignment(os.path.join(build_folders()[a], 'argreport')),
                                   f"{a}'s alignment") for a in arches)), None)


@functools.cache
def build_folders():
    """Each architecture's build folder, as the target table gives it."""
    table = run(['cmake', '-P', os.path.join(ROOT, 'cmake/musl.cmake')], text=True, check=True).stdout
    return {row.split()[0]: row.split()[7] for row in table.splitlines() if row.strip()}


def alignment(path):
    out = run(['readelf', '-lW', os.path.join(TREE, path)], text=True).stdout
    return {int(line.split()[-1], 16) for line in out.splitlines() if line.split()[:1] == ['LOAD']}


@functools.cache
def syscalls(n):
    """The system calls of the release's run with n arguments of 20 bytes,
    named argreport, as the benchmark runs it and counts them: from its
    execve to its exit."""
    trace = os.path.join(TREE, 'build/figures.trace')
    args = [f'{i:020d}' for i in range(1, n + 1)]
    subprocess.run(['strace', '-f', '-qq', '-o', trace, '--', 'bash', '-c', 'exec -a argreport "$0" "$@"', release()]
                   + args, stdout=subprocess.DEVNULL)
    with open(trace) as f:
        calls = [line.split(None, 1)[1].split('(')[0] for line in f if '+++' not in line]
    return calls[len(calls) - 1 - calls[::-1].index('execve'):]


def table_args():
    rows = [b.text for b in read(os.path.join(ROOT, 'docs/performance.md')) if b.kind == 'row']
    return {number(r.split('|')[1]) for r in rows if re.match(r'^\| [\d,]+ \|', r)}


def os_release():
    with open('/etc/os-release') as f:
        return dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', f.read(), re.M))


def words(n):
    return ['zero', 'one', 'two', 'three', 'four', 'five', 'six', 'seven', 'eight', 'nine', 'ten'][n]


def same(value, expected, what):
    return None if value == expected else f'{what} is {expected}'


# (documents, pattern, check): the pattern's groups are the figures it
# claims; the check returns None if they hold, or what holds instead. A
# check of None marks what is not a figure, the reason beside it.
RULES = [
    # Names and positions, not figures.
    (DOCS, r'\b[Ee]ntr(?:y|ies) (\d+)|numbered (?:from )?(\d+)|\(n = (\d+)\)', None),  # a place in the report
    (DOCS, r'`[^`]+`\((\d)\)', None),  # a manual's section
    (DOCS, r'\b[Rr]evisions? (\d+)(?: and (\d+))?', None),  # a revision, by its number
    (['docs/releasing.md'], r'\bLevel (\d)', None),  # SLSA's levels, by their names
    (['docs/building.md'], r'\bFedora (\d+)\b', None),  # a distribution's release, for its tag's sake
    # The version the documents show, which the tree declares.
    (DOCS, r'\b(?:release of|after|before|packages of) (\d+\.\d+\.\d+)\b', lambda m: same(m[1], re.search(
        r'^project\(argreport VERSION (\S+)', source('CMakeLists.txt'), re.M)[1], 'project(VERSION)')),
    # The systems the documents speak of.
    (DOCS, r'\bDebian (\d+)\b', lambda m: same(m[1], os_release().get('VERSION_ID'), "this machine's Debian")),
    (['README.md', 'docs/building.md'], r'CMake (\d+\.\d+) or later',
     lambda m: same(m[1], re.search(r'cmake_minimum_required\(VERSION (\S+)\)', source('CMakeLists.txt'))[1],
                    'cmake_minimum_required')),
    (['docs/architectures.md'], r"gcc (\d+)'s link rules",
     lambda m: same(m[1], run(['arm-linux-gnueabihf-gcc', '-dumpversion'], text=True).stdout.strip().split('.')[0],
                    "armhf's gcc")),
    (['docs/building.md'], r'user and group (\d+)',
     lambda m: None if f'--user {m[1]}:{m[1]}' in source('packaging/image/build-image.sh')
     else "packaging/image/build-image.sh's user"),
    (['docs/building.md', 'docs/launchers.md'], r'sshd (?:that the part starts )?on (\d+\.\d+\.\d+\.\d+)',
     lambda m: None if f'ListenAddress {m[1]}' in source('docs/check_launchers.sh') else "check_launchers.sh's address"),
    # The guide's launchers: an exit status it names is one of its examples',
    # which the transcripts run (0 unmarked, any other marked "status N").
    (['docs/launchers.md'], r'exits (?:with status )?(\d+)(?! all the same)|exits with status (\d+) all the same',
     lambda m: None if (m[1] or m[2]) == '0' or re.search(rf'<!-- transcript: (?:[^>]*; )?status {m[1] or m[2]}\b',
                                                          source('docs/launchers.md'))
     else 'no example of the guide exits so'),
    (['docs/launchers.md', 'docs/building.md'], r'\bPID (1)\b', None),  # a name: the process that init is
    (['docs/launchers.md'], r'With no argument at\s+all it prints only .* and exits with status (\d+)',
     lambda m: None if int(m[1]) in statuses() else f'the program exits with {sorted(statuses())}, as run'),
    (['docs/releasing.md'], r'CycloneDX (\d+\.\d+)|validator for (\d+\.\d+)',
     lambda m: None if f'"specVersion": "{m[1] or m[2]}"' in source('packaging/release/sbom.py')
     else "sbom.py's specVersion"),
    (['docs/releasing.md'], r'N is (\d+) unless',
     lambda m: None if f'set(ARGREPORT_PACKAGE_REVISION {m[1]} CACHE' in source('packaging/packaging.cmake')
     else 'the default revision in packaging/packaging.cmake'),
    # The program's buffer, the system's limits.
    (DOCS, r'(?:shorter than )?(\d+) KiB (?:\(([\d,]+) bytes\)|buffer)|shorter than (\d+) KiB',
     lambda m: check_buffer(m[1] or m[3], m[2])),
    (DOCS, r'`PIPE_BUF` bytes \(([\d,]+) on Linux\)', lambda m: same(
        number(m[1]), int(run(['getconf', 'PIPE_BUF', '/'], text=True).stdout), 'PIPE_BUF')),
    (PAGES, r'stops at (\d+) KiB of arguments', lambda m: same(number(m[1]) * 1024, int(re.search(
        r'actually using: (\d+)', run(['xargs', '--show-limits'], stdin=subprocess.DEVNULL, text=True).stderr)[1]),
        "the command buffer of find's and xargs's")),
    (PAGES, r'argument of ([\d,]+) bytes or more', lambda m: same(number(m[1]), max_arg()[0],
                                                                  'the shortest argument refused')),
    # What the program does, as it does it.
    (PAGES, r'[Ss]tatus (?:is )?(\d+)|exits with (?:status )?(\d+)|^\| (\d+)(?: \(in a shell\))? \|',
     lambda m: None if int(next(g for g in m.groups() if g)) in statuses() else
     f'the program exits with {sorted(statuses())}, as run'),
    (PAGES, r'`([^`]*)` gives (-?\d+)', lambda m: gives(m[1].strip('"'), m[2])),
    (['README.md'], r'`([^`]*)` and `([^`]*)` give (-?\d+)', lambda m: gives(m[1], m[3]) or gives(m[2], m[3])),
    (PAGES, r'[Nn]o number at all \(([^)]*)\)(?:: the `num` line shows|, the value shown is) (0)',
     lambda m: next(filter(None, (gives(a, m[2]) for a in no_numbers(m[1]))), None)),
    (PAGES, r'limits of a (\d+)-bit signed integer|range of a (\d+)-bit signed integer',
     lambda m: gives('9' * 20, str(2 ** (int(m[1] or m[2]) - 1) - 1))),
    (['docs/hardening-audit.md'], r'It exits with status (\d+)', lambda m: same(
        m[1], re.search(r'<!-- transcript: status (\d+) -->\n {4}\$ hardening-check',
                        source('docs/hardening-audit.md'))[1], "the status its example shows")),
    # What the binaries are.
    (['docs/hardening.md'], r'(\d+) KiB on x86-64, and (\d+) KiB on arm64 and ppc64el, whose kernels often use (\d+) KiB',
     lambda m: aligned(m[1], 'amd64') or aligned(m[2], 'arm64', 'ppc64el') or same(m[3], m[2], 'the alignment')),
    (['docs/architectures.md'], r'aligns their segments to (\d+) KiB, so that they load on kernels with (\d+) KiB',
     lambda m: aligned(m[1], 'arm64', 'ppc64el') or same(m[2], m[1], 'the alignment')),
    (['docs/architectures.md'], r'load on (\d+) KiB kernels', lambda m: aligned(m[1], 'arm64')),
    # The benchmark: its table is a measurement, of its machine and day,
    # which the paragraph before it names; but the system calls of the
    # release depend on the binary alone.
    (['docs/performance.md'], r'^Measured on \d{4}-\d{2}-\d{2} on .*?\)\.', None),  # the table's date and machine
    (['docs/performance.md'], r'^\| [\d,]+ \| (?!\*\*argreport, musl static \(release\)\*\*).*', None),  # the table
    # The release's rows: its time, page faults and ratios measured, its
    # system calls checked.
    (['docs/performance.md'], r'(?<=\*\*argreport, musl static \(release\)\*\* \| )[\d,]+ µs \| \d+ \|', None),
    (['docs/performance.md'], r'\| (?:\*\*)?\d+\.\d+(?:\*\*)? \| (?:\*\*)?\d+\.\d+(?:\*\*)? \|(?: \d+\.\d+ \|)?$', None),
    (['docs/performance.md'], r'^\| ([\d,]+) \| \*\*argreport, musl static \(release\)\*\* \| [\d,]+ µs \| \d+ \| (\d+) \| ',
     lambda m: same(number(m[2]), len(syscalls(number(m[1]))), f'its system calls at {m[1]} arguments')),
    (['docs/performance.md'], r'(\d+)-byte (?:arguments|copy)', lambda m: None if re.search(
        rf'std::string\({m[1]} - digits\.size\(\)', source('bench/bench.cpp')) else "bench.cpp's arguments"),
    (['docs/performance.md'], r'\b[Aa]t ([\d,]+)(?: and ([\d,]+))?(?! KiB)',
     lambda m: None if {number(g) for g in m.groups() if g} <= table_args() else 'the table has no such rows'),
    (['docs/performance.md'], r'at two arguments its (\w+) system calls are ((?:`\w+`|[^.`])*)', lambda m: same(
        (m[1], re.findall(r'`(\w+)`', m[2])), (words(len(syscalls(2))), syscalls(2)), 'what strace counts')),
    (['docs/performance.md'], r'here of ([\d,]+), ([\d,]+), ([\d,]+) and ([\d,]+) bytes', lambda m: same(
        [number(g) for g in m.groups()], [int(w) for w in re.findall(r'\) = (\d+)$', source('docs/performance.md').split(
            '$ strace -e write', 1)[1].split('+++', 1)[0], re.M)], 'what its example writes')),
    (['docs/performance.md'], r'-n 460 argreport`, whose reports are each shorter than (\d+) KiB', lambda m: (
        check_buffer(m[1]) or same(max(xargs_reports(460)) < buffer_size(), True,
                                                           'that -n 460 makes its reports shorter')
        or same(min(xargs_reports(1000)) > buffer_size(), True, 'that -n 1000 makes its reports longer'))),
]


@functools.cache
def xargs_reports(n):
    """The sizes of the reports of seq 1 200000 | xargs -n N argreport."""
    out = run(f'seq 1 200000 | xargs -n {n} "{release()}"', shell=True).stdout
    return [len(r) for r in re.split(rb'(?=^argc = )', out, flags=re.M) if r]


def main():
    global TREE
    TREE = sys.argv[1]
    DOCS[:] = sys.argv[2:]
    claimed, exempt, failures = set(), set(), 0
    blocks = {doc: [b for b in read(os.path.join(ROOT, doc)) if b.kind != 'code'] for doc in DOCS}
    # What is not a figure first: a checked rule leaves its numbers alone.
    for docs, pattern, check in sorted(RULES, key=lambda rule: rule[2] is not None):
        for doc in docs:
            matched = 0
            for block in blocks[doc]:
                prose = block.prose()
                for m in re.finditer(pattern, block.text, re.M):
                    matched += 1
                    if check is None:  # every number in what it matched is a name or a place
                        starts = {f.start() + m.start() for f in FIGURE.finditer(prose[m.start():m.end()])}
                        exempt.update((doc, block.line, start) for start in starts)
                        claimed.update((doc, block.line, start) for start in starts)
                        continue
                    starts = {m.start(g) for g in range(1, m.re.groups + 1) if m.group(g) is not None}
                    if starts and all((doc, block.line, start) in exempt for start in starts):
                        continue  # a dated measurement's, not this machine's
                    claimed.update((doc, block.line, start) for start in starts)
                    figures = ', '.join(g for g in m.groups() if g) if m.re.groups else m[0]
                    try:
                        wrong = check(m)
                    except Exception as error:  # a check that could not run fails
                        wrong = f'the check could not run: {error!r}'
                    if wrong:
                        print(f'FAILED: {doc}:{block.line}: {figures}, where {wrong.strip()}: {m[0]!r}')
                        failures += 1
                    else:
                        print(f'ok: {doc}:{block.line}: {figures}')
            if not matched and docs is not DOCS:
                print(f'FAILED: {doc}: no figure matches /{pattern}/ any more')
                failures += 1
    # Every figure of the prose must be claimed by a rule.
    for doc, doc_blocks in blocks.items():
        for block in doc_blocks:
            prose = block.prose()
            for m in FIGURE.finditer(prose):
                if (doc, block.line, m.start()) not in claimed:
                    print(f'FAILED: {doc}:{block.line}: {m[0]} is a figure that nothing checks: {block.text[:100]!r}')
                    failures += 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
