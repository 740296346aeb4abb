#!/usr/bin/env bash
# Mutation check of the core: plants N classic faults, one at a time, in
# src/codec, src/pe, src/stamp and src/fileio (the files the native build
# compiles) and runs the native tests against each.
#
#   scripts/mutate.sh [N] [SEED]      (defaults: 20 mutants, seed 1)
#
# A fault is one of: a comparison turned around, a constant off by one, a
# condition negated, an assignment deleted, a guard's return deleted. Files
# are drawn in proportion to their size, then one site in the file. The
# working tree is never touched: the sources are copied to a temporary
# folder and built there in a build folder of its own. Default values of
# data members are left alone (the code assigns those members anyway). A mutant that does
# not compile is not counted; one whose tests fail or hang is caught.
# Prints the caught share and every survivor (file:line, the change).
set -euo pipefail

N=${1:-20}
SEED=${2:-1}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-mutate.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The project as it stands, uncommitted changes included, without build trees.
(cd "$ROOT" && git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
  xargs -0 tar -cf - 2>/dev/null) | tar -xf - -C "$WORK"
[ -d "$WORK/src/codec" ] || { echo "mutate.sh: could not copy the sources" >&2; exit 1; }

BUILD="$WORK/build"
# Where ccache is the compiler launcher, runs share objects despite their
# different temporary folders.
export CCACHE_BASEDIR="$WORK"
# The slowest last: a fault the quick ones catch never waits for it.
TARGETS="codec_tests pe_tests stamp_tests winlayout_tests cli_tests"
echo "Building the unmutated core in $WORK ..."
# No optimisation beyond -O1 and no debug information: each mutant rebuilds
# one file and relinks, so compile time is what counts.
nice -n 19 cmake -S "$WORK" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS=-O1 >/dev/null
nice -n 19 cmake --build "$BUILD" -j2 --target $TARGETS >/dev/null

nice -n 19 python3 - "$WORK" "$BUILD" "$N" "$SEED" $TARGETS <<'PYTHON'
import os, random, re, shutil, signal, subprocess, sys, time

work, build, count, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
targets = sys.argv[5:]
TESTS = {"codec_tests": "tests/codec", "pe_tests": "tests/pe", "cli_tests": "tests/cli", "stamp_tests": "tests/stamp",
         "winlayout_tests": "tests/winlayout"}
# The slowest program takes about 8 s unmutated: a fault that makes one
# take over 60 s has made it hang.
BUILD_TIMEOUT, TEST_TIMEOUT = 600, 60

def code_mask(text):
    """Same length as text; comments, string and character literals and
    preprocessor lines blanked, so no site is found inside them."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i)); i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j])); i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else " "); i = j
        elif c == "#" and (i == 0 or text[i - 1] == "\n"):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i)); i = j
        else:
            out.append(c); i += 1
    return "".join(out)

def closing_paren(line, open_at):
    depth = 0
    for k in range(open_at, len(line)):
        if line[k] == "(":
            depth += 1
        elif line[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1

SWAPS = {"<": ">=", "<=": ">", ">": "<=", ">=": "<", "==": "!=", "!=": "=="}
ASSIGN = re.compile(r"^(\s*)(\+\+|--)?[A-Za-z_][\w.\[\]>*-]*(\+\+|--)?(\s*([-+|&^]|<<|>>)?=\s*[^=].*)?;\s*$")

def member_defaults(masked):
    """Indexes of the lines that give a data member its default value inside
    a struct or class: the code sets those members anyway, so changing the
    default seldom changes anything and would only swell the survivors."""
    found, scopes = set(), []
    for i, code in enumerate(masked):
        if scopes and scopes[-1] == "class" and re.match(r"^\s*[\w:<>, ]+?\s+\w+\s*(=\s*[^=;]+|\{[^{}]*\})(\s*,\s*\w+\s*(=\s*[^=;,]+|\{[^{}]*\}))*;\s*$", code):
            found.add(i)
        for c in code:
            if c == "{":
                scopes.append("class" if re.match(r"^\s*(struct|class)\b", code) and "(" not in code else "block")
            elif c == "}" and scopes:
                scopes.pop()
    return found

def sites(lines, masked):
    """(line index, description, new line) for every mutation of the file."""
    found = []
    skip = member_defaults(masked)
    for i, (line, code) in enumerate(zip(lines, masked)):
        if not code.strip() or i in skip:
            continue
        for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)", code):
            op = m.group(1)
            new = line[:m.start()] + SWAPS[op] + line[m.end():]
            found.append((i, f"'{op}' turned into '{SWAPS[op]}'", new))
        for m in re.finditer(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uU]?[lL]{0,2})(?![\w.])", code):
            literal = m.group(1)
            base = 16 if literal[:2].lower() == "0x" else 8 if len(literal) > 1 and literal[0] == "0" else 10
            try:
                value = int(literal, base)
            except ValueError:
                continue
            for delta in (1, -1):
                if value + delta < 0:
                    continue
                text = {16: hex, 8: lambda v: "0" + format(v, "o"), 10: str}[base](value + delta)
                new = line[:m.start(1)] + text + line[m.end(1):]
                found.append((i, f"constant {m.group(1)} made {text}", new))
        for m in re.finditer(r"\b(if|while) \(", code):
            close = closing_paren(code, m.end() - 1)
            if close < 0:
                continue
            new = line[:m.end()] + "!(" + line[m.end():close] + ")" + line[close:]
            found.append((i, f"{m.group(1)} condition negated", new))
        prev = next((masked[k].rstrip() for k in range(i - 1, -1, -1) if masked[k].strip()), "{")
        starts_statement = prev.endswith((";", "{", "}", ")", ":")) or prev.strip() == "else"
        if (starts_statement and ASSIGN.match(code) and code.count("(") == code.count(")")
                and not code.lstrip().startswith(("return", "break", "continue"))):
            indent = ASSIGN.match(code).group(1)
            found.append((i, "assignment deleted", indent + ";"))
        m = re.match(r"^(\s*)if \(", code)
        if m:
            close = closing_paren(code, m.end() - 1)
            rest = code[close + 1:].strip() if close > 0 else ""
            if rest.startswith("return") and rest.endswith(";"):
                found.append((i, "guard return deleted", line[:close + 1] + " {}"))
        m = re.match(r"^(\s*)return\b.*;\s*$", code)
        if m and re.match(r"^\s*(\} )?(if|else)\b", prev) and not prev.endswith(";"):
            found.append((i, "guard return deleted", m.group(1) + ";"))
    return found

# Only what the native build reads: a fault in a file it never compiles (the
# Win32 file layer) could not be caught here and would only swell the survivors.
deps = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True, check=True).stdout
# Headers are reached through the build's include links, hence realpath.
built = {os.path.relpath(os.path.realpath(os.path.join(build, d.strip())), os.path.realpath(work))
         for d in deps.split("\n") if d.startswith(" ") and d.strip()}
sources = []
for folder in ("src/codec", "src/pe", "src/stamp", "src/fileio"):
    for name in sorted(os.listdir(os.path.join(work, folder))):
        if name.endswith((".cpp", ".h")) and f"{folder}/{name}" in built:
            path = os.path.join(folder, name)
            text = open(os.path.join(work, path), encoding="utf-8").read()
            lines = text.split("\n")
            found = sites(lines, code_mask(text).split("\n"))
            if found:
                sources.append((path, lines, found, len(text)))

# QM_MUTATE_ONLY="src/codec/rc_condition.cpp ..." draws from those files alone
# (to probe the tests of one part); the figure then speaks for them only.
only = os.environ.get("QM_MUTATE_ONLY", "").split()
if only:
    sources = [s for s in sources if s[0] in only]
    if not sources:
        sys.exit("mutate.sh: QM_MUTATE_ONLY names no file the native build compiles")
rng = random.Random(seed)
chosen, seen = [], set()
# QM_MUTATE_LINES="src/pe/foo.cpp:12 src/codec/bar.cpp:34" tries every
# mutation of those lines instead of a random draw (to re-check survivors).
for entry in os.environ.get("QM_MUTATE_LINES", "").split():
    wanted, line_number = entry.rsplit(":", 1)
    for path, lines, found, _ in sources:
        if path == wanted:
            chosen += [(path, lines, f) for f in found if f[0] + 1 == int(line_number)]
while not os.environ.get("QM_MUTATE_LINES") and len(chosen) < count and len(seen) < sum(len(s[2]) for s in sources):
    path, lines, found, _ = rng.choices(sources, weights=[s[3] for s in sources])[0]
    index = rng.randrange(len(found))
    if (path, index) in seen:
        continue
    seen.add((path, index))
    chosen.append((path, lines, found[index]))

def object_file(path):
    library = "qm_" + path.split("/")[1]
    return os.path.join(build, path.rsplit("/", 1)[0], "CMakeFiles", library + ".dir",
                        path.rsplit("/", 1)[1] + ".o")

def run(command, timeout, cwd=None):
    """Exit code, or None on a timeout; the whole process group goes."""
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True, cwd=cwd or work)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return None

# A test that fails without a fault would count every fault as caught: such
# tests are named and left out of the runs below.
FILTERS = {}
for target in targets:
    program = os.path.join(build, TESTS[target], target)
    try:
        out = subprocess.run([program, "--gtest_brief=1", "--gtest_filter=-*Wine*"], capture_output=True, text=True,
                             timeout=TEST_TIMEOUT, cwd=os.path.dirname(program)).stdout
    except subprocess.TimeoutExpired:
        sys.exit(f"mutate.sh: {target} does not finish without any fault planted")
    failing = sorted({t for t in re.findall(r"^\[  FAILED  \] ([\w/.]+)", out, re.M) if "." in t})
    if failing:
        print(f"{target}: left out, failing without a fault: {' '.join(failing)}", flush=True)
    FILTERS[target] = "--gtest_filter=" + ":".join(["-*Wine*"] + failing)

caught, survivors, uncompiled = 0, [], 0
started = time.time()
for number, (path, lines, (line_index, what, new_line)) in enumerate(chosen, 1):
    full = os.path.join(work, path)
    original = open(full, encoding="utf-8").read()
    stat = os.stat(full)
    obj = object_file(path)
    saved_obj = obj + ".unmutated" if path.endswith(".cpp") and os.path.exists(obj) else None
    if saved_obj:
        shutil.copy2(obj, saved_obj)
    mutated = list(lines)
    mutated[line_index] = new_line
    open(full, "w", encoding="utf-8").write("\n".join(mutated))
    where = f"{path}:{line_index + 1}"
    try:
        verdict = "survived"
        # A source file compiles into one object: building that alone first
        # tells a mutant that does not compile from one that does, before
        # any program is linked.
        if saved_obj and run(["ninja", "-C", build, os.path.relpath(obj, build)], BUILD_TIMEOUT) != 0:
            verdict = "does not compile"
        # Then one program at a time, quick ones first: a fault caught by
        # codec_tests never waits for cli_tests to be linked or run. A fault
        # in a header compiles alike in every file that includes it, so the
        # verdict is the one a build of every program first would give.
        for target in targets if verdict == "survived" else []:
            if run(["cmake", "--build", build, "-j2", "--target", target], BUILD_TIMEOUT) != 0:
                verdict = "does not compile"
                break
            program = os.path.join(build, TESTS[target], target)
            # Run where ctest runs it: some tests leave files in their folder.
            code = run([program, "--gtest_brief=1", "--gtest_fail_fast", FILTERS[target]], TEST_TIMEOUT,
                       os.path.dirname(program))
            if code != 0:
                verdict = "caught by " + target + (" (timeout)" if code is None else "")
                break
        if verdict == "does not compile":
            uncompiled += 1
        elif verdict == "survived":
            survivors.append(f"{where}: {what}: {new_line.strip()}")
        else:
            caught += 1
    finally:
        open(full, "w", encoding="utf-8").write(original)
        os.utime(full, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        if saved_obj:
            # The unmutated object, newer than its source again: the next
            # build relinks but does not recompile this file.
            shutil.move(saved_obj, obj)
            os.utime(obj)
        else:
            os.utime(full)  # a header: let the build recompile what uses it
    print(f"[{number}/{len(chosen)}] {where}: {what}: {verdict}", flush=True)

counted = caught + len(survivors)
share = 100.0 * caught / counted if counted else 0.0
print()
print(f"Mutants: {len(chosen)} planted (seed {seed}), {uncompiled} did not compile, {counted} counted")
print(f"Caught: {caught} of {counted} ({share:.1f} %) in {time.time() - started:.0f} s")
if survivors:
    print("Survivors:")
    for s in survivors:
        print("  " + s)
PYTHON
