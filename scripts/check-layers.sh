#!/usr/bin/env bash
# Holds the build's link graph to the layer table of README.md ("## Layout"): every direct link of
# every project target must be named in the "may link" cell of the target's row, and no target of the
# headless rows (up to and including the row of editor_core) may reach Qt5::Widgets at all.
#   scripts/check-layers.sh [BUILD_DIR]     (default: build; the folder must be configured)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out="$build/layers"
rm -rf "$out"
mkdir -p "$out"
# One graph of direct links; no per-target files.
cat > "$build/CMakeGraphVizOptions.cmake" <<'OPTS'
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
OPTS
cmake --graphviz="$out/links.dot" "$build" > "$out/cmake.log" 2>&1 || { cat "$out/cmake.log"; exit 1; }
exec python3 - README.md "$out/links.dot" <<'PY'
import fnmatch
import re
import sys

readme, dot = sys.argv[1], sys.argv[2]

# Used by every target: shared compile settings and Qt's code generators (build steps, not links).
ALWAYS = {"project_options", "Qt5::moc", "Qt5::uic", "Qt5::rcc"}
HEADLESS_LAST = "editor_core"
WIDGETS = "Qt5::Widgets"


def layer_rows(path):
    text = open(path, encoding="utf-8").read()
    section = text.split("\n## Layout\n", 1)
    if len(section) != 2:
        sys.exit("check-layers: README.md has no '## Layout' section")
    rows = []
    for line in section[1].splitlines():
        if line.startswith("## "):
            break
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 4 or cells[0] in ("layer", "") or set(cells[0]) <= set("-"):
            continue
        names = lambda cell: re.findall(r"`([^`]+)`", cell)
        rows.append((cells[0], names(cells[2]), set(names(cells[3]))))
    if not rows:
        sys.exit("check-layers: no layer table under '## Layout' in README.md")
    return rows


def read_graph(path):
    nodes, edges = {}, {}
    for line in open(path, encoding="utf-8"):
        m = re.match(r'\s*"(node\d+)" \[ label = "([^"]*)", shape = (\w+) \];', line)
        if m:
            nodes[m.group(2)] = m.group(3)
            continue
        m = re.search(r"// (.+?) -> (.+?)\s*$", line)
        if m:
            edges.setdefault(m.group(1), set()).add(m.group(2))
    return nodes, edges


rows = layer_rows(readme)
nodes, edges = read_graph(dot)
# The project's own targets: executables and libraries that are not imported (imported names hold
# "::") and are not plain library files.
own = sorted(n for n, shape in nodes.items()
             if shape in ("egg", "octagon", "doubleoctagon", "pentagon", "hexagon")
             and "::" not in n and "/" not in n and n not in ALWAYS)


def row_of(target):
    for index, (layer, patterns, allowed) in enumerate(rows):
        if any(fnmatch.fnmatchcase(target, p) for p in patterns):
            return index
    return None


headless = 0
for index, (_, patterns, _) in enumerate(rows):
    if HEADLESS_LAST in patterns:
        headless = index
        break
else:
    sys.exit("check-layers: the table has no row for " + HEADLESS_LAST)

failures = []
for target in own:
    index = row_of(target)
    if index is None:
        failures.append(f"{target}: no row of the layer table names it")
        continue
    layer, _, allowed = rows[index]
    for dep in sorted(edges.get(target, ())):
        if dep in ALWAYS or "*" in allowed or dep in allowed:
            continue
        failures.append(f"{target} -> {dep}: not allowed for layer '{layer}'")
    if index <= headless:
        seen, stack, parent = {target}, [target], {}
        while stack:
            node = stack.pop()
            for dep in edges.get(node, ()):
                if dep not in seen:
                    seen.add(dep)
                    parent[dep] = node
                    stack.append(dep)
        if WIDGETS in seen:
            path, node = [WIDGETS], WIDGETS
            while node != target:
                node = parent[node]
                path.append(node)
            failures.append(f"{target}: headless layer '{layer}' reaches {WIDGETS} via "
                            + " -> ".join(reversed(path)))

for failure in failures:
    print("check-layers: " + failure, file=sys.stderr)
if failures:
    sys.exit(1)
print(f"check-layers: {len(own)} targets follow the layer table of README.md ({len(rows)} rows)")
PY
