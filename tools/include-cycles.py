#!/usr/bin/env python3
"""Prints the include cycles between the modules of the folders given; exits 1 when there is one.

    tools/include-cycles.py framework serial cli

A module is a header and the source of the same name beside it (X.h + X.cpp), so a source
including its own header is no cycle. A module depends on another when one of its files
includes the other's header. A header may declare what sources of other names define (the
platform's WinUser.h and Handles.h do, as the real platform's headers do): a file that calls
such a function, or constructs such a class, depends on the module that defines it, since that
is the code it runs. Taking a function's address or naming an object is no call: a window
procedure handed down, or a class table, is how a lower module reaches a higher one.

Only files under the folders given count; include paths are taken from the repository's root
(the folder above tools/) and then from the including file's folder. The parse is plain text:
comments and literals are dropped, then names are read at namespace scope.
"""

import os
import re
import sys

SOURCE_EXTS = (".cpp", ".cc", ".cxx")
HEADER_EXTS = (".h", ".hpp")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
IDENT = r"[A-Za-z_]\w*"
# The name a declaration or definition is about: the last (possibly qualified) name before "(".
CALLABLE_RE = re.compile(r"(~?" + IDENT + r"(?:\s*::\s*~?" + IDENT + r")*)\s*\($")
NOT_NAMES = {"if", "for", "while", "switch", "return", "sizeof", "alignof", "decltype",
             "alignas", "static_assert", "noexcept", "operator", "__attribute__", "defined"}


def strip_code(text):
    """The text without comments, string and character literals, and preprocessor lines."""
    out = []
    i, n = 0, len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if at_line_start and c == "#":
            # A directive runs to the end of its line, continued lines included.
            while i < n and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            continue
        if c == "/" and text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
            continue
        if c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            out.append(" ")
            continue
        if c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(" ")  # a digit separator (1'000)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        if c == "\n":
            at_line_start = True
        elif not c.isspace():
            at_line_start = False
        out.append(c)
        i += 1
    return "".join(out)


def top_level_statements(code):
    """(head, ends_in) pairs at namespace scope: a declaration ending in ';', or the text before
    a '{' that opens a function body, a class or an initializer (ends_in '{')."""
    stack = []  # True for a namespace or extern block, whose inside is still namespace scope
    head = []
    for c in code:
        at_top = all(stack)
        if c == "{":
            text = " ".join("".join(head).split())
            is_scope = bool(re.match(r"^(inline\s+)?namespace\b|^extern\s*\"\"$", text))
            anonymous = re.match(r"^(inline\s+)?namespace$", text) is not None
            if at_top and not is_scope:
                yield text, "{"
            # What an anonymous namespace holds is the file's own.
            stack.append(is_scope and not anonymous)
            head = []
        elif c == "}":
            if stack:
                stack.pop()
            head = []
        elif c == ";":
            if at_top and head:
                yield " ".join("".join(head).split()), ";"
            head = []
        elif at_top:
            head.append(c)


def callable_name(head):
    """The function a head declares or defines, as (qualifier, name); None for anything else."""
    depth, cut = 0, None
    # The name stands before the first '(' outside template arguments and brackets.
    for k, c in enumerate(head):
        if c in "<[":
            depth += 1
        elif c in ">]":
            depth -= 1
        elif c == "(" and depth <= 0:
            cut = k
            break
    if cut is None:
        return None
    m = CALLABLE_RE.search(head[: cut + 1])
    if not m:
        return None
    parts = [p.strip() for p in m.group(1).split("::")]
    if parts[-1] in NOT_NAMES or parts[-1].startswith("operator"):
        return None
    return "::".join(parts[:-1]), parts[-1]


class File:
    def __init__(self, path, rel, module):
        self.path, self.rel, self.module = path, rel, module
        with open(path, encoding="utf-8", errors="replace") as f:
            raw = f.read()
        self.include_names = INCLUDE_RE.findall(raw)
        self.code = strip_code(raw)
        self.includes = []  # File objects, resolved later
        self.functions = set()  # declared (headers) or defined (sources) at namespace scope
        self.classes = set()  # class definitions (headers)
        self.qualified = set()  # (qualifier, name) of definitions out of a class or namespace
        self.statics = set()  # functions a source keeps to itself
        self.parse()

    @property
    def is_header(self):
        return self.rel.endswith(HEADER_EXTS)

    def parse(self):
        for head, end in top_level_statements(self.code):
            words = head.split()
            if not words or words[0] in ("using", "typedef", "friend"):
                continue
            klass = re.match(r"^(?:template\s*<.*>\s*)?(?:class|struct|union)\s+(" + IDENT +
                             r")\b", head)
            if klass:
                if end == "{":
                    self.classes.add(klass.group(1))
                continue  # a forward declaration declares nothing of its own
            if words[0] == "enum" or (words[0] == "template" and "(" not in head):
                continue
            name = callable_name(head)
            if name and not (end == "{" and head.rstrip().endswith("=")):
                qualifier, func = name
                if "static" in words:
                    self.statics.add(func)
                elif qualifier:
                    self.qualified.add((qualifier.split("::")[0], func))
                else:
                    self.functions.add(func)


def find_files(root, folders):
    files = {}
    for folder in folders:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            raise SystemExit(f"include-cycles: no folder {base}")
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            for name in sorted(filenames):
                if name.endswith(SOURCE_EXTS + HEADER_EXTS):
                    path = os.path.join(dirpath, name)
                    rel = os.path.relpath(path, root)
                    files[rel] = File(path, rel, os.path.splitext(rel)[0])
    for f in files.values():
        for name in f.include_names:
            for candidate in (name, os.path.join(os.path.dirname(f.rel), name)):
                target = files.get(os.path.normpath(candidate))
                if target:
                    f.includes.append(target)
                    break
    return files


def closure(f):
    seen, todo = [], list(f.includes)
    while todo:
        h = todo.pop()
        if h not in seen:
            seen.append(h)
            todo.extend(h.includes)
    return seen


def build_graph(files):
    """{module: {module: [why, ...]}}"""
    headers = [f for f in files.values() if f.is_header]
    sources = [f for f in files.values() if not f.is_header]
    seen_by = {s.rel: set(h.rel for h in closure(s)) for s in sources}
    # A qualified definition is a class's member, or a function of a namespace. Constructing a
    # class runs its constructor: that is what ties the caller to the class's source.
    classes = set().union(*(h.classes for h in headers))
    constructors = {s.rel: set(q for q, n in s.qualified if q in classes and n == q)
                    for s in sources}
    functions = {s.rel: s.functions | set(n for q, n in s.qualified if q not in classes)
                 for s in sources}
    # Who defines what a header declares: a source that sees the declaration, of another module.
    defined_in = {}  # (header, name) -> [source, ...]
    for h in headers:
        for s in sources:
            if s.module == h.module or h.rel not in seen_by[s.rel]:
                continue
            for name in (h.functions - s.statics) & functions[s.rel]:
                defined_in.setdefault((h.rel, name), []).append(s)
            for name in h.classes & constructors[s.rel]:
                defined_in.setdefault((h.rel, name), []).append(s)
    graph = {f.module: {} for f in files.values()}

    def edge(a, b, why):
        if a != b:
            graph[a].setdefault(b, []).append(why)

    for f in files.values():
        for h in f.includes:
            edge(f.module, h.module, f"{f.rel} includes {h.rel}")
        calls = set(re.findall(r"(~?" + IDENT + r")\s*[({]", f.code))
        for h in closure(f):
            for name in sorted((h.functions | h.classes) & calls):
                for s in defined_in.get((h.rel, name), []):
                    edge(f.module, s.module,
                         f"{f.rel} calls {name} ({h.rel}), defined in {s.rel}")
    return graph


def cycles(graph):
    """The strongly connected components of more than one module (Tarjan)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(max(1000, 4 * len(graph)))
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return sorted(found)


def main(argv):
    args = argv[1:]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if len(args) >= 2 and args[0] == "--root":
        root, args = args[1], args[2:]
    if not args or any(a.startswith("-") for a in args):
        print("usage: include-cycles.py [--root DIR] FOLDER...", file=sys.stderr)
        return 2
    files = find_files(root, [a.rstrip("/") for a in args])
    graph = build_graph(files)
    found = cycles(graph)
    modules = len(graph)
    edges = sum(len(v) for v in graph.values())
    if not found:
        print(f"no include cycle: {modules} modules, {edges} dependencies in {' '.join(args)}")
        return 0
    for component in found:
        members = set(component)
        print(f"include cycle of {len(component)} modules: {' '.join(component)}")
        for a in component:
            for b in sorted(graph[a]):
                if b in members:
                    for why in graph[a][b]:
                        print(f"  {a} -> {b}: {why}")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
