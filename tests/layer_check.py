#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer it may not use, or reaches the host
outside platform/.

The layers depend one way: tool -> index/expr -> engine -> platform. A layer's tests may use
what the layer uses, plus the shared test helpers in tests/testutil. Outside platform/, the code
of the layers (not their tests) reaches files, names, locks, errors, the clock and sleep only
through the host environment (platform/env.h).
"""
import pathlib
import re
import sys

ALLOWED = {
    "platform": {"platform"},
    "engine": {"engine", "platform"},
    "expr": {"expr", "engine", "platform"},
    "index": {"index", "expr", "engine", "platform"},
    "tool": {"tool", "index", "expr", "engine", "platform"},
}
LAYERS = set(ALLOWED)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
# What only platform/ may use: the host's headers and calls, and the primitives the host
# environment is made of.
HOST = [
    (re.compile(r'^\s*#\s*include\s*<(unistd\.h|fcntl\.h|dirent\.h|filesystem|sys/[^>]*)>'), "a host header"),
    (re.compile(r'^\s*#\s*include\s*"platform/(fileio|filesys)\.h"'), "the host primitives (use platform/env.h)"),
    (re.compile(r'\berrno\b'), "errno (use TEnv::LastError)"),
    (re.compile(r'std::filesystem|\bsleep_for\b|\busleep\b'), "a host call"),
]
COMMENT = re.compile(r'^\s*//')


def layer_of(rel):
    """The layer whose rules apply to a file, and whether it is a test file."""
    parts = rel.parts
    if parts[0] in LAYERS:
        return parts[0], False
    if parts[0] == "tests" and len(parts) > 2 and parts[1] in LAYERS:
        return parts[1], True
    if parts[0] == "tests" and len(parts) > 2 and parts[1] == "testutil":
        return "platform", True
    return None, False


def main(root):
    root = pathlib.Path(root)
    bad = []
    files = 0
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        rel = path.relative_to(root)
        if rel.parts[0].startswith("build"):
            continue
        layer, is_test = layer_of(rel)
        if layer is None:
            continue
        files += 1
        allowed = ALLOWED[layer] | ({"testutil"} if is_test else set())
        for n, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            if layer != "platform" and not is_test and not COMMENT.match(line):
                for pattern, what in HOST:
                    if pattern.search(line):
                        bad.append(f"{rel}:{n}: {layer} reaches {what}")
            m = INCLUDE.match(line)
            if not m:
                continue
            first = m.group(1).split("/")[0]
            if "/" in m.group(1) and (first in LAYERS or first == "testutil") and first not in allowed:
                bad.append(f"{rel}:{n}: {layer} may not include \"{m.group(1)}\"")
    for line in bad:
        print(line)
    print(f"layer check: {files} files, {len(bad)} findings")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent))
