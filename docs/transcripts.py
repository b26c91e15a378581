#!/usr/bin/env python3
"""Turns the examples of the documents into cram tests.

    docs/transcripts.py [--built-as VERSION=NAME] OUTDIR DOCUMENT...
    docs/transcripts.py --block DOCUMENT RUNNER NAME

An example shown as a command with its output ("$ " lines with the output
under them) is a transcript. In Markdown it is an indented code block; in a
man page's roff source, an .EX/.EE block. Each document becomes OUTDIR/NAME.t,
which cram runs in one shell, transcript after transcript, comparing every
byte of the shown output with what the commands print (stderr included).

A transcript that cannot be compared byte for byte is marked where the reader
does not see it, on the line before the block: an HTML comment in Markdown,
a roff comment among the requests before .EX in a man page:

    <!-- transcript: CLAUSE; CLAUSE -->          .\\" transcript: CLAUSE; CLAUSE

  varies: output matches ERE   the output depends on the machine, the time or
                               the load: each command must exit with status 0
                               and print at least one line, every line of it
                               matching ERE; the ERE bounds what the text
                               claims (a count of runs below 100, say), so
                               that output unlike the claim fails
  as a terminal shows it       the output is compared with the screen of a
                               terminal (tmux) that ran the commands
  elided                       a "..." line stands for lines left out; the
                               other shown lines must be on the screen
  status N                     the last command exits with status N
  needs podman                 the commands use podman (the caller builds the
                               images it names); implied when a command names
                               it
  on a machine booted with systemd
                               the commands need systemd as PID 1, with cron
                               and atd: they go to a test of their own, which
                               the caller runs on such a machine

A block marked <!-- file: NAME --> (in a man page, .\\" file: NAME) is
written to NAME, a path under the directory where the transcripts run, as a
reader told to save it would.

Every other block is a command too, to be typed as shown, and must say who
runs it, or why nobody can:

    <!-- run by SCRIPT: NAME -->       SCRIPT, another check, runs it as
                                       typed: it takes the block, by NAME,
                                       from --block (.ci/lib.sh's doc_block)
    <!-- not run: REASON -->           it cannot run in CI, for the REASON
                                       given: a key only its owner holds, say

A block with no prompt and no such mark is an error; so is a SCRIPT that
does not exist or never names NAME. --block prints the lines of the block
that RUNNER runs under NAME in DOCUMENT.

A translation (README.zh-CN.md of README.md, argreport.zh_CN.1.in of
argreport.1.in) shows the same examples as its original, which the docs
part of CI checks. Given both, the translation's examples are not run a
second time when they are the same, block for block, as the original's.

The documents show a release: a build between releases names itself a
snapshot (docs/releasing.md), and says so in what it prints, in the package
note that readelf shows, for one. So one string, and no other, may differ
from what is shown, and only in output, never in a command: with
--built-as VERSION=NAME, the release's version VERSION, wherever shown
output holds it whole (not as part of a longer number), is expected as NAME,
the name of this build (cmake/version.cmake prints it). In a
build of the release, NAME is VERSION, and nothing differs.

Any "$ " line that no transcript took is an error, so that a new example
cannot go unchecked by being written in a form this does not read.
"""
import os
import re
import subprocess
import sys

# The module beside it, imported without leaving compiled Python in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import documents  # noqa: E402  (one reading of the documents)
from documents import Fault  # noqa: E402


def kind_of(block, where):
    """A code block's marker kind and text: what it says, or a transcript's."""
    if block.marker:
        return block.mark()
    if block.lines[0].startswith('$ '):
        return 'transcript', ''
    raise Fault(f'{where}: a command block that no check runs and no mark explains: {block.lines[0]!r}')


def complete(command):
    """Whether bash reads the lines as a whole command."""
    return subprocess.run(['bash', '-n', '-c', command], capture_output=True).returncode == 0


def commands(block, where):
    """[(command lines, output lines)] of a transcript."""
    out, i = [], 0
    while i < len(block):
        if not block[i].startswith('$ '):
            raise Fault(f'{where}: output before any command: {block[i]!r}')
        cmd = [block[i][2:]]
        i += 1
        while not complete('\n'.join(cmd)):
            if i == len(block):
                raise Fault(f'{where}: the command {cmd[0]!r} does not end')
            cmd.append(block[i])
            i += 1
        shown = []
        while i < len(block) and not block[i].startswith('$ '):
            shown.append(block[i])
            i += 1
        out.append((cmd, shown))
    return out


def quoted(text):
    return "'" + text.replace("'", "'\\''") + "'"


def expected(line):
    """A shown line as cram's expectation: cram gives meaning to some endings,
    and reads a line that starts with "> " as more of the command."""
    if re.search(r' \((re|glob|esc|no-eol)\)$', line) or line.endswith(' ') or line.startswith('> '):
        escaped = line.encode('unicode_escape').decode('ascii')
        return re.sub(r'^>', r'\\x3e', escaped) + ' (esc)'
    return line


def built_as(line):
    """A line of shown output as this build prints it: the one difference allowed."""
    if not BUILT_AS:
        return line
    version, name = BUILT_AS
    return re.sub(r'(?<![0-9.])' + re.escape(version) + r'(?![0-9]|\.[0-9])', lambda m: name, line)


BUILT_AS = None


def clauses(text, where):
    found = {}
    for clause in filter(None, (c.strip() for c in text.split(';'))):
        if clause.startswith('varies: output matches '):
            found['varies'] = clause[len('varies: output matches '):]
        elif clause.startswith('status '):
            found['status'] = int(clause[len('status '):])
        elif clause in ('as a terminal shows it', 'elided', 'needs podman', 'on a machine booted with systemd'):
            found[clause] = True
        else:
            raise Fault(f'{where}: unknown clause {clause!r} in the marker')
    return found


def heredoc(cmd):
    """The command, given to a helper on standard input."""
    end = 'TRANSCRIPT'
    return [f"<<'{end}'"] + cmd + [end]


def read(path):
    """The document's name, lines, whether it is roff, and its code blocks:
    (line number, marker kind, marker text, block lines) for each."""
    name = os.path.relpath(path)
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    blocks = [(b.line, *kind_of(b, f'{name}:{b.line}'), b.lines) for b in documents.read(path) if b.kind == 'code']
    return name, lines, documents.roffish(path), blocks


ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def runner(script, name, where):
    """A block that another check runs: the check must exist and take it by name."""
    try:
        with open(os.path.join(ROOT, script), encoding='utf-8') as f:
            text = f.read()
    except OSError:
        raise Fault(f'{where}: {script}, said to run the block, does not exist')
    if not re.search(r'doc_block\b.*' + re.escape(name), text):
        raise Fault(f'{where}: {script} takes no block named {name!r} (doc_block ... {name!r})')


def test(path):
    name, lines, roff, blocks = read(path)
    # Those that need podman go to a test of their own, which the caller
    # runs once it has built the image they name.
    plain = [f'Transcripts of {name}, run by docs/check_transcripts.sh.', '']
    podman = [f'Transcripts of {name} that need podman, run by docs/check_transcripts.sh.', '']
    machine = [f'Transcripts of {name} on a machine booted with systemd, run by docs/check_transcripts.sh.', '']
    taken = set()
    count = {'plain': 0, 'podman': 0, 'machine': 0}
    for number, kind, text, block in blocks:
        where = f'{name}:{number}'
        if kind == 'file':
            made = f'mkdir -p {quoted(os.path.dirname(text))} && ' if os.path.dirname(text) else ''
            for t in plain, podman, machine:
                t += [f'{where}: the file {text}', f"  $ {made}cat > {quoted(text)} <<'END_OF_FILE'"]
                t += ['  > ' + l for l in block] + ['  > END_OF_FILE', '']
            continue
        if kind == 'not run':
            if not text:
                raise Fault(f'{where}: a block marked "not run" must say why')
            continue
        if kind.startswith('run by '):
            runner(kind[len('run by '):], text, where)
            continue
        marks = clauses(text, where)
        # A command that names podman needs it, marked or not.
        if any('podman' in line for line in block if line.startswith('$ ')):
            marks['needs podman'] = True
        group = 'machine' if 'on a machine booted with systemd' in marks else 'podman' if 'needs podman' in marks else 'plain'
        t = {'plain': plain, 'podman': podman, 'machine': machine}[group]
        count[group] += 1
        parts = commands(block, where)
        t.append(f'{where}' + (f' ({text})' if text else ''))
        for n, (cmd, shown) in enumerate(parts):
            last = n == len(parts) - 1
            if 'varies' in marks:
                # What is shown must itself have the shape that is checked.
                unlike = subprocess.run(['grep', '-Ev', '--', marks['varies']], input='\n'.join(shown) + '\n',
                                        capture_output=True, text=True).stdout
                if not shown or unlike:
                    raise Fault(f'{where}: the output shown is unlike /{marks["varies"]}/: {unlike or "(none)"!r}')
                run = [f'shape {quoted(marks["varies"])} ' + heredoc(cmd)[0]] + heredoc(cmd)[1:]
                want = [f'status {marks.get("status", 0) if last else 0}, output like the pattern']
            elif 'as a terminal shows it' in marks:
                run = ['on_terminal ' + heredoc(cmd)[0]] + heredoc(cmd)[1:]
                want = [built_as(l) for l in shown]
                if 'elided' in marks:
                    want = [built_as(l) for l in shown if l != '...']
                    run[0] += ' | grep -Fx ' + ' '.join('-e ' + quoted(l) for l in want)
            else:
                run, want = cmd, [built_as(l) for l in shown]
            t.append('  $ ' + run[0])
            t += ['  > ' + l for l in run[1:]]
            t += ['  ' + expected(l) for l in want]
            if last and marks.get('status') and 'varies' not in marks:
                t.append(f'  [{marks["status"]}]')
        t.append('')
    # Every "$ " line must have been taken by a transcript.
    for number, kind, text, block in blocks:
        if kind == 'transcript':
            taken.update(l for l in block if l.startswith('$ '))
    for number, line in enumerate(lines, 1):
        m = re.match(r'^\s*(\$ .*)$', line)
        if m:
            command = documents.roff_text(m.group(1), f'{name}:{number}') if roff else m.group(1)
            if command not in taken:
                raise Fault(f'{name}:{number}: a command shown with "$ " that is in no transcript: {line.strip()!r}')
    return plain, podman, machine, count, [block[1:] for block in blocks]


def block(path, script, name):
    """The lines of the block that script runs under name, for --block."""
    found = [lines for _, kind, text, lines in read(path)[3] if kind == f'run by {script}' and text == name]
    if len(found) != 1:
        raise Fault(f'{path}: {len(found)} blocks marked "run by {script}: {name}", not one')
    return found[0]


def main():
    global BUILT_AS
    args = sys.argv[1:]
    if args and args[0] == '--block':
        try:
            print('\n'.join(block(*args[1:4])))
        except (Fault, OSError) as fault:
            print(f'{sys.argv[0]}: {fault}', file=sys.stderr)
            return 1
        return 0
    if args and args[0] == '--built-as':
        BUILT_AS = args[1].split('=', 1)
        args = args[2:]
    outdir, docs = args[0], args[1:]
    status = 0
    done = {}
    for path in docs:
        try:
            plain, podman, machine, count, blocks = test(path)
        except Fault as fault:
            print(f'FAILED: {fault}')
            status = 1
            continue
        done[path] = blocks
        original = re.sub(r'\.zh[-_]CN(?=\.)', '', path)
        if original != path and done.get(original) == blocks:
            print(f'{path}: the same examples as {original}, which run there')
            continue
        base = re.sub(r'[^A-Za-z0-9.-]+', '_', os.path.relpath(path)).lstrip('._')
        for t, suffix, n in ((plain, '.t', count['plain']), (podman, '.podman.t', count['podman']),
                             (machine, '.systemd.t', count['machine'])):
            if n:
                with open(os.path.join(outdir, base + suffix), 'w', encoding='utf-8') as f:
                    f.write('\n'.join(t) + '\n')
        print(f'{path}: {sum(count.values())} transcripts, {count["podman"]} with podman'
              + (f', {count["machine"]} on a machine booted with systemd' if count['machine'] else ''))
    return status


if __name__ == '__main__':
    sys.exit(main())
