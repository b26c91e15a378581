#!/usr/bin/env python3
"""The prose of the documents, as the checks of their translations, figures
and names read it.

    docs/documents.py blocks DOCUMENT...      each block: DOCUMENT:LINE KIND TEXT
    docs/documents.py parity ORIGINAL TRANSLATION
    docs/documents.py dangling DOCUMENT...    its links to no section
    docs/documents.py sections DOCUMENT PART...
                                              its sections without PARTS
    docs/documents.py figures DOCUMENT...     each figure of the prose:
                                              DOCUMENT:LINE<TAB>FIGURE<TAB>TEXT
    docs/documents.py names DOCUMENT...       each file name given in code:
                                              DOCUMENT:LINE<TAB>NAME
    docs/documents.py examples DOCUMENT...    each line of its examples
    docs/documents.py bold DOCUMENT...        each word of its code spans
                                              (a man page's bold) that
                                              holds a letter

A document is Markdown or a man page's roff source. It reads as a sequence
of blocks: headings, paragraphs, list items, table rows and code blocks, and
in a man page the tags of .TP as items of their own. In a block's TEXT, code
is between backticks: Markdown's code spans, and a man page's bold, which
sets the names, commands and values a reader types (its italics, the
placeholders, are plain text). A code block's TEXT is its lines, its marker
first, joined by " / ". A code block's lines are what a reader copies: an
escape in them that is not known here is an error, not left out. The
markers are HTML comments in Markdown and roff comments among the requests
before .EX in a man page (docs/transcripts.py says what they mean).

parity: a translation says what its original says in other words, never
with other figures or other code. Block by block, in order, the two must
have the same kind, the same numbers outside code and the same code spans
(but for a man page's references to its own sections, whose names are
translated), and their code blocks the same lines under the same markers.
Each difference is printed, with the lines of both documents; the status is
1 if there is any.

figures: the numbers written in the prose, outside code: each maximal run of
digits, with its grouping commas, decimal points and a leading minus, that is
not part of a word or a name (x86-64, arm64, C++17 and UTF-8 hold none), and
each date written YYYY-MM-DD.

names: the file names of artefacts that code in the prose gives, whole:
packages, tarballs, archives, checksums, signatures, SBOMs and provenance.

    docs/documents.py names-check TREE VERSION TARGETS LISTED DOCUMENT...

checks each of them against the files under TREE/build, which a release of
VERSION has written, or, for the files that only a whole release has (the
image archive, the checksums, the provenance, the signatures), against the
names in the file LISTED, as packaging/release/release.sh --names prints
them, and prints "ok: ..." or "FAILED: ..." for each (the status is 1 if
any failed).
TARGETS is what `cmake -P cmake/musl.cmake` prints. In a name, VERSION and
NAME stand for the release's name, PV for the packages' version
(NAME-0upstreamN), N for a revision, ARCH, RPMARCH and MACHINE for an
architecture as Debian, RPM and `uname -m` name it.
"""
import difflib
import os
import re
import sys

MARKER = re.compile(r'^\s*<!--\s*(transcript|file|run by \S+|not run):\s*(.*?)\s*-->\s*$')
ROFF_MARKER = re.compile(r'^\.\\"\s*(transcript|file|run by \S+|not run):\s*(.*?)\s*$')

FIGURE = re.compile(r'(?<![\w.+/\\-])(?:\d{4}-\d{2}-\d{2}(?![\w-])|-?\d+(?:,\d{3})*(?:\.\d+)*(?![\w+/,.]?\d|[\w+/]))')
# A code span opens with a run of backticks and closes with a run as long,
# so that ``a `quote` in it`` is one span.
CODE = re.compile(r'(?<!`)(`+)(?!`)(.*?)(?<!`)\1(?!`)')
NAME = re.compile(r'(?:[\w.+-]+/)*argreport[-_][\w.+-]*?(?:\.deb|\.rpm|\.tar\.gz|-oci\.tar|\.cdx\.json|\.intoto\.jsonl'
                  r'|\.SHA256SUMS(?:\.asc)?|\.tar\.gz\.asc|\.src\.rpm)(?![\w.])|\bSHA256SUMS\b')


class Fault(Exception):
    pass


class Block:
    def __init__(self, line, kind, text, lines=None, marker=None):
        self.line, self.kind, self.text = line, kind, text
        self.lines, self.marker = lines or [], marker

    def mark(self):
        """A code block's marker as its kind and its text, or None."""
        return tuple(self.marker.split(': ', 1)) if self.marker else None

    def code(self):
        return [' '.join(m[2].split()) for m in CODE.finditer(self.text)]

    def prose(self):
        """The text outside code, each code span blanked out where it was."""
        return CODE.sub(lambda m: ' ' * len(m[0]), self.text)

    def figures(self):
        return FIGURE.findall(self.prose())


def markdown(lines):
    blocks, i = [], 0
    marker = None
    while i < len(lines):
        line = lines[i]
        m = MARKER.match(line)
        if m:
            marker = f'{m.group(1)}: {m.group(2)}'
            i += 1
            continue
        if not line.strip() or line.lstrip().startswith('<!--'):
            i += 1
            continue
        start = i + 1
        if line.startswith('    ') or (line.startswith('      ') and blocks and blocks[-1].kind == 'item'):
            indent = re.match(r' *', line).group(0)
            code = []
            while i < len(lines) and lines[i].startswith(indent) and lines[i].strip():
                code.append(lines[i][len(indent):])
                i += 1
            blocks.append(Block(start, 'code', ' / '.join(([marker] if marker else []) + code), code, marker))
        elif line.startswith('#'):
            blocks.append(Block(start, 'heading', line.lstrip('#').strip()))
            blocks[-1].level = len(line) - len(line.lstrip('#'))
            i += 1
        elif line.startswith('|'):
            if not re.match(r'^\|[-:| ]+\|$', line):
                blocks.append(Block(start, 'row', line))
            i += 1
        else:
            kind = 'item' if re.match(r'^([-*]|\d+\.) ', line) else 'paragraph'
            text = [re.sub(r'^([-*]|\d+\.) ', '', line)]
            i += 1
            while i < len(lines) and lines[i].strip() and not re.match(r'^([-*]|\d+\.) |^#|^\||^<!--', lines[i]) \
                    and not (lines[i].startswith('    ') and kind == 'paragraph'):
                if kind == 'item' and lines[i].startswith('      '):
                    break
                text.append(lines[i].strip())
                i += 1
            text = ' '.join(text)
            text = re.sub(r'\[([^]]*)\]\([^)]*\)', r'\1', text)  # a link reads as its text
            blocks.append(Block(start, kind, text))
        marker = None
    return blocks


ROFF_NAMED = {'lq': '“', 'rq': '”', 'dq': '"', 'aq': "'", 'ga': '`', 'ti': '~', 'ha': '^', 'em': '—', 'en': '–'}


def roff_text(text, where=None):
    """A line of roff text as plain text, bold between backticks; given
    where it is, a line of an example, whose every escape must be known."""
    out, i, bold = [], 0, False
    while i < len(text):
        c = text[i]
        if c != '\\':
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1:i + 2]
        if where and not (nxt in '-e&~ \\' or nxt == '(' and text[i + 2:i + 4] in ROFF_NAMED or text[i + 1:i + 5] == '*(Sp'):
            raise Fault(f'{where}: roff escape {text[i:i + 4]!r} in an example is not known here')
        if nxt == 'f':
            font = text[i + 2:i + 3]
            i += 3
            if font == 'B' and not bold:
                out.append('`')
                bold = True
            elif font in 'RPI' and bold:
                out.append('`')
                bold = False
        elif nxt == '(':
            out.append(ROFF_NAMED.get(text[i + 2:i + 4], ''))
            i += 4
        elif nxt == '*':
            # A string of the pages' own: a blank in a command (Sp), or the
            # Chinese page's break points, which read as nothing.
            name = text[i + 3:i + 5] if text[i + 2:i + 3] == '(' else text[i + 2:i + 3]
            out.append(' ' if name == 'Sp' else '')
            i += 5 if text[i + 2:i + 3] == '(' else 3
        elif nxt in ('-', 'e', '\\'):
            out.append('-' if nxt == '-' else '\\')
            i += 2
        elif nxt in ('~', ' '):
            out.append(' ')
            i += 2
        else:  # \& \c \: and the like
            i += 2
    if bold:
        out.append('`')
    return ''.join(out)


def roff_args(rest):
    return [plain or quoted for quoted, plain in re.findall(r'"([^"]*)"|(\S+)', rest)] if rest else []


def roff(lines, doc):
    blocks, text, start, kind = [], [], 0, 'paragraph'

    def flush():
        # The lines of a block are read together: a font holds over a line end.
        nonlocal text, kind
        if text:
            joined = ''.join(line[:-2] if line.endswith('\\c') else line + ' ' for line in text)
            blocks.append(Block(start, kind, re.sub(r'\s+', ' ', roff_text(joined)).strip()))
        text, kind = [], 'paragraph'

    i, tag, marker = 0, False, None
    while i < len(lines):
        line = lines[i]
        i += 1
        m = ROFF_MARKER.match(line)
        if m:
            marker = f'{m.group(1)}: {m.group(2)}'
            continue
        if line.startswith('.\\"') or line.startswith("'\\\""):
            continue
        request = re.match(r'^\.\s*(\S+)\s*(.*)$', line)
        if request:
            name, rest = request.groups()
            if name in ('B', 'I', 'BR', 'RB', 'BI', 'IB', 'IR', 'RI'):
                # One font for all the arguments, or two taking turns.
                args = roff_args(rest)
                if len(name) == 1:
                    args = [' '.join(args)]
                line = ''.join(f'\\f{name[n % len(name)]}{arg}\\fR' for n, arg in enumerate(args))
            elif name in ('SH', 'SS'):
                flush()
                blocks.append(Block(i, 'heading', roff_text(' '.join(roff_args(rest)))))
                continue
            elif name in ('PP', 'P', 'LP', 'IP', 'RS', 'RE', 'TP'):
                flush()
                if name == 'TP':
                    tag = True
                continue
            elif name == 'EX':
                flush()
                code, first = [], i
                while i < len(lines) and lines[i].strip() != '.EE':
                    code.append(roff_text(lines[i], f'{doc}:{i + 1}'))
                    i += 1
                i += 1
                blocks.append(Block(first + 1, 'code', ' / '.join(([marker] if marker else []) + code), code, marker))
                marker = None
                continue
            else:  # .TH, .nh, .nr, .ds, .if and the like set nothing a reader reads
                continue
        if not text:
            start = i
        text.append(line)
        if tag:
            kind = 'tag'
            flush()
            tag = False
    flush()
    return blocks


def roffish(path):
    """Whether the document is a man page's roff, its source or as built."""
    return bool(path.endswith('.in') or re.search(r'\.[1-9]$', path))


def read(path):
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    return roff(lines, os.path.relpath(path)) if roffish(path) else markdown(lines)


def signature(block, headings):
    if block.kind == 'code':
        return ('code', tuple(block.lines), block.marker)
    code = sorted(c for c in block.code() if c not in headings)
    return (block.kind, tuple(sorted(block.figures())), tuple(code))


def parity(original, translation):
    a, b = read(original), read(translation)
    ha = {x.text for x in a if x.kind == 'heading'}
    hb = {x.text for x in b if x.kind == 'heading'}
    sa, sb = [signature(x, ha) for x in a], [signature(x, hb) for x in b]
    faults = 0

    def show(doc, block, sig):
        what = ' / '.join(block.lines) if sig[0] == 'code' else f'numbers {list(sig[1])}, code {list(sig[2])}'
        return f'{doc}:{block.line} ({block.kind}): {what}'

    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, sa, sb, autojunk=False).get_opcodes():
        if op == 'equal':
            continue
        faults += 1
        print(f'FAILED: {original} and {translation} differ here:')
        for k in range(i1, i2):
            print('  - ' + show(original, a[k], sa[k]))
        for k in range(j1, j2):
            print('  + ' + show(translation, b[k], sb[k]))
    return 1 if faults else 0


def names_check(tree, version, targets, listed, docs):
    """Each name the documents give against the files a release wrote, or,
    for those only a whole release writes, the names listed (in a file, one
    a line, as packaging/release/release.sh --names prints them)."""
    columns = list(zip(*(row.split()[:5] for row in targets.splitlines() if row.strip())))
    arch, machine, rpm_arch = (f'(?:{"|".join(map(re.escape, set(c)))})' for c in (columns[0], columns[3], columns[4]))
    written = []
    for top, _, files in os.walk(os.path.join(tree, 'build')):
        written += [os.path.relpath(os.path.join(top, f), tree) for f in files]
    with open(listed, encoding='utf-8') as f:
        release = [line.strip() for line in f if line.strip()]
    given = {}
    for doc in docs:
        for block in read(doc):
            code = block.lines if block.kind == 'code' else block.code()
            for name in (m.group(0) for c in code for m in NAME.finditer(c)):
                given.setdefault(name, f'{doc}:{block.line}')
    status = 0
    for name, where in sorted(given.items(), key=lambda x: x[1]):
        pattern = re.escape(name)
        for placeholder, value in (('PV', re.escape(version) + r'-0upstream\d+'), ('VERSION', re.escape(version)),
                                   ('NAME', re.escape(version)), ('RPMARCH', rpm_arch), ('MACHINE', machine),
                                   ('ARCH', arch)):
            pattern = pattern.replace(placeholder, value)
        found = [f for f in written if re.fullmatch(pattern, f if '/' in name else os.path.basename(f))
                 or '/' in name and re.fullmatch(r'(?:.*/)?' + pattern, f)]
        what = f'{where}: {name}'
        named = [f for f in release if re.fullmatch(pattern.rsplit('/', 1)[-1], f)]
        if found:
            print(f'ok: {what} is written, as {found[0]}')
        elif named:
            print(f'ok: {what} is a whole release\'s, as release.sh --names gives it: {named[0]}')
        else:
            print(f'FAILED: {what}: the release writes no such file')
            status = 1
    return status


def dangling(path):
    """The links to a section of the document (#ANCHOR) that none of its
    headings makes, as a Markdown renderer makes anchors: lower case,
    punctuation dropped, blanks as hyphens."""
    anchors = {re.sub(r'[^\w\- ]', '', b.text.lower()).replace(' ', '-') for b in read(path) if b.kind == 'heading'}
    with open(path, encoding='utf-8') as f:
        links = set(re.findall(r'\]\(#([^)]+)\)', f.read()))
    for link in sorted(links - anchors):
        print(f'{path}: a link to no section: #{link}')
    return 1 if links - anchors else 0


def sections(path, *parts):
    """Each section (##) but the first two and the last has paragraphs that
    open with the bold PARTS, in that order."""
    found, status = {}, 0
    for block in read(path):
        if block.kind == 'heading' and block.level == 2:
            found[block.text] = []
        elif found and block.kind == 'paragraph' and re.match(r'\*\*(.+?)\*\*', block.text):
            bold = re.match(r'\*\*(.+?)\*\*', block.text)[1]
            if bold in parts:
                list(found.values())[-1].append(bold)
    for heading, bold in list(found.items())[2:-1]:
        if bold != list(parts):
            print(f'{path}: {heading}: {" ".join(bold) or "none"}')
            status = 1
    return status


def main():
    command, docs = sys.argv[1], sys.argv[2:]
    if command == 'parity':
        return parity(*docs)
    if command == 'dangling':
        return max(dangling(doc) for doc in docs)
    if command == 'sections':
        return sections(*docs)
    if command == 'names-check':
        return names_check(docs[0], docs[1], docs[2], docs[3], docs[4:])
    for doc in docs:
        for block in read(doc):
            if command == 'blocks':
                print(f'{doc}:{block.line} {block.kind} {block.text}')
            elif command == 'figures' and block.kind != 'code':
                for figure in block.figures():
                    print(f'{doc}:{block.line}\t{figure}\t{block.text}')
            elif command == 'examples' and block.kind == 'code':
                for line in filter(None, (line.strip() for line in block.lines)):
                    print(line)
            elif command == 'bold' and block.kind != 'code':
                for word in (w for code in block.code() for w in code.split() if re.search('[A-Za-z]', w)):
                    print(word)
            elif command == 'names':
                code = block.lines if block.kind == 'code' else block.code()
                for name in sorted(set(m.group(0) for c in code for m in NAME.finditer(c))):
                    print(f'{doc}:{block.line}\t{name}')
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Fault as fault:
        print(f'FAILED: {fault}')
        sys.exit(1)
