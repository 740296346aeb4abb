"""The work of scripts/rc-corpus.sh: finds the VERSIONINFO scripts in the
unpacked source packages, compiles each with windres and with quillmark-cli
and compares what they make. Run through rc-corpus.sh, which fetches the
packages and builds the program."""

import argparse
import collections
import concurrent.futures
import json
import os
import re
import shutil
import struct
import subprocess
import sys

# What a project's build passes to its resource compiler, beyond the
# script's own folder: include folders (relative to the package's root) and
# defines, read from each project's build files (a root "include" folder is
# always searched). What a configure step would write is made up with
# plausible values: "gen" writes headers into a folder put first on the
# include path, "copy" puts a file the project ships there under the name
# its build gives it, "configure" fills a template into the package's tree.
PROJECTS = {
    "curl": {"I": ["include"]},
    "libpng1.6": {"I": ["."], "copy": {"pnglibconf.h": "scripts/pnglibconf.h.prebuilt"}},
    "xz-utils": {"I": [".", "src/liblzma/api", "src/common"], "D": ["HAVE_CONFIG_H"],
                 "gen": {"config.h": '#define PACKAGE_NAME "XZ Utils"\n#define PACKAGE_URL "https://tukaani.org/xz/"\n'}},
    "vim": {"I": ["src", "src/proto"], "D": ["FEAT_GUI_MSWIN", "FEAT_HUGE"]},
    "python3.11": {"I": ["Include", "PC"], "D": ["FIELD3=2150", 'MS_DLL_ID="3.11"', 'PYTHON_DLL_NAME="python311.dll"',
                                               'ORIGINAL_FILENAME="python311.dll"']},
    "tcl8.6": {"I": ["generic", "win", "win/rc"], "copy": {"tclsh.exe.manifest": "win/tclsh.exe.manifest.in"}},
    "tk8.6": {"I": ["generic", "win", "win/rc", "xlib", "../tcl8.6/generic"],
              "copy": {"wish.exe.manifest": "win/wish.exe.manifest.in"}},
    "wine": {"I": ["include"], "D": ["__WINESRC__"], "gen": {"config.h": "#define PACKAGE_VERSION \"8.0\"\n"}},
    "ffmpeg": {"I": ["."],
               "gen": {"config.h": '#define FFMPEG_CONFIGURATION ""\n#define CONFIG_THIS_YEAR 2023\n'
                                   '#define CC_IDENT "gcc"\n#define BUILDSUF ""\n#define SLIBSUF ".dll"\n',
                       "libavutil/ffversion.h": '#define FFMPEG_VERSION "6.0"\n',
                       "libavutil/avconfig.h": "#define AV_HAVE_BIGENDIAN 0\n#define AV_HAVE_FAST_UNALIGNED 1\n"}},
    "libsdl2": {"I": ["include"]},
    "libgit2": {"I": ["include"], "D": ['LIBGIT2_FILENAME="git2"']},
    "openvpn": {"I": [".", "include", "src/compat"], "D": ["HAVE_CONFIG_H"],
                "gen": {"config.h": '#define PACKAGE_NAME "OpenVPN"\n#define PACKAGE_VERSION "2.6.3"\n'
                                    '#define OPENVPN_VERSION_RESOURCE 2,6,3,0\n'}},
    "sqlite3": {"I": ["."], "D": ["RC_VERONLY"],
                "gen": {"sqlite3.h": '#define SQLITE_VERSION "3.40.1"\n'
                                     '#define SQLITE_SOURCE_ID "2022-12-28 14:03:47 df5c253c0b3dd24916e4ec7cf77d3db5294cc9fd45ae7b9c5e82ad8197f3alt1"\n',
                        "sqlite3rc.h": "#define SQLITE_RESOURCE_VERSION 3,40,1,0\n"}},
    "putty": {"I": [".", "windows"], "D": ["HAVE_WINRESRC_H=1"],
              "gen": {"licence.h": '#define SHORT_COPYRIGHT_DETAILS "1997-2022 Simon Tatham"\n'
                                   '#define LICENCE_TEXT(parsep) "Copyright 1997-2022 Simon Tatham." parsep\n'}},
    "git": {"I": ["."], "D": ["MAJOR=2", "MINOR=39", "MICRO=2", "PATCHLEVEL=0", 'GIT_VERSION="2.39.2"']},
    "nodejs": {"I": ["src"]},
    "gettext": {"D": ["PACKAGE_VERSION_MAJOR=0", "PACKAGE_VERSION_MINOR=21", "PACKAGE_VERSION_SUBMINOR=0",
                      'PACKAGE_VERSION_STRING="0.21"']},
    "libtheora": {"D": ["TH_VERSION_FIELD=1,1,0,0", 'TH_VERSION_STRING="1.1.1"']},
    "expat": {"D": ["VER_FILEVERSION=2,5,0,0"]},
    "postgresql-15": {"I": ["src/include", "src/port"],
                      "D": ["_ICO_=", 'FILEDESC="PostgreSQL server"', '_INTERNAL_NAME_="postgres"', '_ORIGINAL_NAME_="postgres.exe"'],
                      "gen": {"pg_config.h": '#define PG_MAJORVERSION_NUM 15\n#define PG_MINORVERSION_NUM 5\n'
                                             '#define PG_VERSION "15.5"\n'}},
    "gnupg2": {"configure": {"common/w32info-rc.h": "common/w32info-rc.h.in"}},
    "libxml2": {"gen": {"rcVersion.h": '#define LIBXML_MAJOR_VERSION 2\n#define LIBXML_MINOR_VERSION 9\n'
                                      '#define LIBXML_MICRO_VERSION 14\n#define LIBXML_DOTTED_VERSION "2.9.14"\n'}},
    "lz4": {"I": ["lib"]},
    "wxwidgets3.2": {"D": ["WXMAKINGDLL", "WXMAKINGDLL_BASE", "WXDLLNAME=wxbase32u", "_UNICODE"]},
    "cmake": {"gen": {"config.h": '#define PACKAGE_NAME "XZ Utils"\n#define PACKAGE_URL "https://tukaani.org/xz/"\n'}},
    "libzstd": {"I": ["lib"]},
}

# Defines that one script's build passes, by the script's path (a copy of a
# project inside another package gets its project's).
RULES = [
    (r"/zlib[^/]*/win32/zlib1\.rc$|^zlib/", {"D": ["GCC_WINDRES"]}),
    (r"/cmliblzma/", {"I": ["Utilities/cmliblzma/common", "Utilities/cmliblzma/liblzma/api"], "D": ["HAVE_CONFIG_H"]}),
    (r"^python3\.11/PC/sqlite3\.rc$", {"D": ["SQLITE_MAJOR_VERSION=3", "SQLITE_MINOR_VERSION=40",
                                              "SQLITE_MICRO_VERSION=1", "SQLITE_PATCH_VERSION=0",
                                              'SQLITE_VERSION="3.40.1"']}),
]

# What i686-w64-mingw32-gcc predefines that scripts and mingw-w64's headers
# test; given to quillmark-cli with --system-headers.
GCC_MACROS = {"__GNUC__", "__GNUC_MINOR__", "__GNUC_PATCHLEVEL__", "_WIN32", "WIN32", "__WIN32__",
              "__MINGW32__", "_X86_", "__MSVCRT__"}

TEMPLATE = re.compile(r"\.(in|cmake|cmakein|tpl|template|meson)$", re.I)
SCRIPT_NAME = re.compile(r"\.(rc|rc2|rci|ver|dlg|rc3)(\.in|\.cmake|\.cmakein|\.in\.in|\.tpl|\.template)?$", re.I)
INCLUDE = re.compile(rb'^[ \t]*#[ \t]*include[ \t]*["<]([^">]+)[">]', re.M)
PLACE = re.compile(r"line \d+, column \d+|[^\s:]+:\d+:\d+")
NUMERIC = re.compile(r"MAJOR|MINOR|MICRO|NANO|PATCH|REV|NUMBER|LEVEL|YEAR|_N$|^N$|SERIAL|_CURRENT|_AGE", re.I)


def find_scripts(tree, packages):
    """Every script file that holds a VERSIONINFO, or includes (by file name,
    through any chain of scripts) one that does."""
    files = []
    for pkg in packages:
        for folder, dirs, names in os.walk(os.path.join(tree, pkg)):
            dirs[:] = [d for d in dirs if d not in (".git", ".pc")]
            for name in names:
                path = os.path.join(folder, name)
                if SCRIPT_NAME.search(name) and os.path.isfile(path) and not os.path.islink(path):
                    files.append((pkg, path))
    data = {}
    for pkg, path in files:
        with open(path, "rb") as f:
            data[path] = f.read()
    # Scripts saved by Visual Studio are often UTF-16.
    holds = {p for p in data if re.search(rb"\bVERSIONINFO\b", data[p], re.I) or
             "VERSIONINFO".encode("utf-16-le") in data[p]}
    # An include is matched by file name within its own package.
    package_of = dict((p, pkg) for pkg, p in files)
    names = {(package_of[p], os.path.basename(p).lower()) for p in holds}
    while True:
        more = {p for p in data if p not in holds and
                any((package_of[p], os.path.basename(i.decode("latin-1")).lower()) in names
                    for i in INCLUDE.findall(data[p]))}
        if not more:
            break
        holds |= more
        names |= {(package_of[p], os.path.basename(p).lower()) for p in more}
    return sorted((pkg, p) for pkg, p in files if p in holds)


def placeholder(name, in_string, whole, commas):
    if NUMERIC.search(name) and "FILEVERSION" not in name.upper():
        return "1"
    if in_string:
        return "1.2.3" if "VERSION" in name.upper() else "example-" + name.lower()
    if whole and "VERSION" not in name.upper():
        return "1"
    if "VERSION" in name.upper() or "COMMA" in name.upper():
        # As many parts as the four the statement takes leave to it.
        return ",".join(["1", "2", "3", "0"][:max(1, 4 - commas)])
    return "1"


def fill_template(text):
    """Replaces @VAR@ and ${VAR} by values that fit where they stand: a
    version text inside a literal, a comma list for a whole version,
    small numbers for its parts."""
    out = []
    for line in text.split("\n"):
        pieces = []
        pos = 0
        in_string = False
        for m in re.finditer(r'"|@([A-Za-z_][A-Za-z0-9_]*)@|\$\{([A-Za-z_][A-Za-z0-9_]*)\}', line):
            pieces.append(line[pos:m.start()])
            if m.group(0) == '"':
                # A doubled quote inside a literal stays inside it.
                in_string = not in_string
                pieces.append('"')
            else:
                name = m.group(1) or m.group(2)
                whole = re.match(r"\s*\w+\s*$", line[:m.start()]) is not None and line[m.end():].strip() == ""
                commas = re.sub(r"@\w+@|\$\{\w+\}", "", line.split("//")[0]).count(",")
                pieces.append(placeholder(name, in_string, whole, commas))
            pos = m.end()
        pieces.append(line[pos:])
        out.append("".join(pieces))
    return "\n".join(out)


def stub(name):
    """Stands in for a file a script names that its build makes (an icon
    drawn by a tool, a manifest from a template): the version block does
    not depend on it, but windres will not compile the script without it."""
    ext = os.path.splitext(name)[1].lower()
    bmp_info = struct.pack("<IiiHHIIiiII", 40, 1, 2, 1, 32, 0, 8, 0, 0, 0, 0) + b"\0" * 8
    if ext in (".ico", ".cur"):
        kind = 1 if ext == ".ico" else 2
        return struct.pack("<HHH", 0, kind, 1) + struct.pack("<BBBBHHII", 1, 1, 0, 0, 1, 32, len(bmp_info), 22) + bmp_info
    if ext in (".bmp", ".dib"):
        body = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 32, 0, 4, 0, 0, 0, 0) + b"\0" * 4
        return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 54) + body
    if ext == ".manifest" or ext == ".mft" or ext == ".xml":
        return b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n'
    return b"\0"


def res_versions(data):
    """The version resources of a compiled .res: (name, language, bytes)."""
    found = []
    pos = 0
    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        if header < 32 or pos + header + size > len(data):
            break
        h = pos + 8

        def ident(at):
            (first,) = struct.unpack_from("<H", data, at)
            if first == 0xFFFF:
                return struct.unpack_from("<H", data, at + 2)[0], at + 4
            end = at
            while struct.unpack_from("<H", data, end)[0] != 0:
                end += 2
            return data[at:end].decode("utf-16-le"), end + 2

        rtype, h = ident(h)
        name, h = ident(h)
        h = (h + 3) & ~3
        _, _, lang = struct.unpack_from("<IHH", data, h)
        body = data[pos + header:pos + header + size]
        if rtype == 16:
            found.append((name, lang, body))
        pos = (pos + header + size + 3) & ~3
    return found


def run(cmd, timeout=120):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return 124, b"", "timed out after %d s" % timeout


def first_line(text):
    for line in text.splitlines():
        if line.strip():
            return line.strip()[:400]
    return ""


def show_json(cli, module):
    code, out, err = run([cli, "show", "--json", module])
    if code != 0:
        return None, "show --json exits %d: %s" % (code, first_line(err))
    return json.loads(out), None


def write_generated(pkg, root, gen):
    """The headers a project's configure step would have written."""
    project = PROJECTS.get(pkg, {})
    for name, text in project.get("gen", {}).items():
        os.makedirs(os.path.dirname(os.path.join(gen, name)), exist_ok=True)
        with open(os.path.join(gen, name), "w") as f:
            f.write(text)
    for name, source in project.get("configure", {}).items():
        target = os.path.join(root, name)
        if not os.path.exists(target):
            with open(os.path.join(root, source), encoding="latin-1") as f:
                text = fill_template(f.read())
            with open(target, "w", encoding="latin-1") as f:
                f.write(text)
    for name, source in project.get("copy", {}).items():
        os.makedirs(os.path.dirname(os.path.join(gen, name)), exist_ok=True)
        shutil.copyfile(os.path.join(root, source), os.path.join(gen, name))


def check(job):
    index, pkg, path, args = job
    root = os.path.join(args.tree, pkg)
    work = os.path.join(args.out, "work", str(index))
    os.makedirs(work, exist_ok=True)
    project = PROJECTS.get(pkg, {})
    incs = [os.path.dirname(path)]
    gen = os.path.join(args.out, "gen", pkg)
    if os.path.isdir(gen):
        incs.insert(0, gen)
    for rel in project.get("I", []) + ["include"]:
        d = os.path.normpath(os.path.join(root, rel))
        if os.path.isdir(d) and d not in incs:
            incs.append(d)
    rel = os.path.relpath(path, args.tree)
    defines = list(project.get("D", []))
    for pattern, more in RULES:
        if re.search(pattern, rel):
            defines += more.get("D", [])
            incs += [os.path.normpath(os.path.join(root, d)) for d in more.get("I", [])]
    # Last, so that a project's own headers come first.
    incs.append(os.path.join(args.out, "gen", "sdk"))
    options = []
    for d in incs:
        options += ["-I", d]
    # windres hands its defines to the preprocessor through a shell, which
    # would take the quotes of a string value away.
    wr_options = list(options)
    for d in defines:
        options += ["-D", d]
        wr_options += ["-D", d.replace('"', '\\"')]
    result = {"index": index, "package": pkg, "script": rel, "templated": False}
    script = path
    if TEMPLATE.search(path):
        with open(path, "r", encoding="latin-1") as f:
            text = fill_template(f.read())
        script = os.path.join(work, TEMPLATE.sub("", os.path.basename(path)))
        with open(script, "w", encoding="latin-1") as f:
            f.write(text)
        result["templated"] = True
    res = os.path.join(work, "windres.res")
    stubs = os.path.join(work, "stubs")
    made = []
    for _ in range(20):
        code, _, err = run([args.windres, "-J", "rc", "-O", "res"] + wr_options + ["-I", stubs, script, res])
        missing = re.search(r"can't open (?:\w+ )*file `([^']+)'", err)
        if code == 0 or not missing or missing.group(1) in made or missing.group(1).startswith("/"):
            break
        made.append(missing.group(1))
        target = os.path.join(stubs, missing.group(1).replace("\\", "/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(stub(target))
    if made:
        options += ["-I", stubs]
        result["stubs"] = made
    if code != 0:
        result["outcome"] = "windres-refused"
        msg = [l for l in err.splitlines() if "error" in l.lower()] or err.splitlines() or [""]
        result["detail"] = msg[0].replace(args.windres + ": ", "").replace(args.tree + "/", "").replace(work + "/", "")[:400]
        return result
    with open(res, "rb") as f:
        versions = res_versions(f.read())
    if not versions:
        result["outcome"] = "windres-no-version"
        return result
    result["windres_versions"] = len(versions)
    block = os.path.join(work, "quillmark.res")
    qm_options = (options + args.system_include if not args.plain else []) + ["--only-version"]
    code, _, err = run([args.cli, "build"] + qm_options + [script, block])
    if code != 0:
        msg = first_line(err).replace(work + "/", "").replace(args.tree + "/", "")
        # 10 is the program's refusal of a script; anything else (a usage
        # error, a crash, a time-out) is a failure of the program.
        result["outcome"] = "refused-with-place" if PLACE.search(msg) else "refused-without-place"
        if code != 10:
            result["outcome"] = "failed"
            msg = "exit %d: %s" % (code, msg)
        result["detail"] = msg
        return result
    with open(block, "rb") as f:
        mine = f.read()
    theirs = versions[0][2]
    theirs_file = os.path.join(work, "windres.block")
    with open(theirs_file, "wb") as f:
        f.write(theirs)
    if mine != theirs:
        at = next((i for i in range(min(len(mine), len(theirs))) if mine[i] != theirs[i]), min(len(mine), len(theirs)))
        result["outcome"] = "differing"
        result["detail"] = "build: %d bytes, windres %d; first difference at byte %d" % (len(mine), len(theirs), at)
        a, _ = show_json(args.cli, block)
        b, _ = show_json(args.cli, theirs_file)
        if a and b:
            keys = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
            result["detail"] += "; show --json differs in " + ", ".join(keys)
            result["build_diff"] = {k: [a.get(k), b.get(k)] for k in keys}
        return result
    # apply of the script to a module must give what show reads from
    # windres's .res, but for what belongs to the container.
    applied = os.path.join(work, "applied.exe")
    shutil.copyfile(args.module, applied)
    code, _, err = run([args.cli, "apply"] + qm_options + [applied, script])
    if code != 0:
        result["outcome"] = "differing"
        result["detail"] = "build is the same but apply exits %d: %s" % (code, first_line(err).replace(work + "/", ""))
        return result
    # windres's block is read as a block file (its name need not be 1, which
    # a .res is read by); its language is the .res's.
    a, why = show_json(args.cli, applied)
    b, why2 = show_json(args.cli, theirs_file)
    if why or why2:
        result["outcome"] = "failed"
        result["detail"] = why or why2
        return result
    b["language"] = versions[0][1]
    container = ("kind", "signed", "appendedData", "otherLanguages")
    keys = sorted(k for k in set(a) | set(b) if k not in container and a.get(k) != b.get(k))
    if keys:
        result["outcome"] = "differing"
        result["detail"] = "apply: show --json differs from windres's in " + ", ".join(keys)
        result["apply_diff"] = {k: [a.get(k), b.get(k)] for k in keys}
        return result
    result["outcome"] = "same"
    shutil.rmtree(work, ignore_errors=True)
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--windres", required=True)
    ap.add_argument("--module", required=True)
    ap.add_argument("--jobs", type=int, default=2)
    # Without -I and -D, for a program that does not take them yet.
    ap.add_argument("--plain", action="store_true")
    # mingw-w64's headers on quillmark-cli's include path too, and the
    # compiler's platform macros, as windres's preprocessor has them.
    ap.add_argument("--system-headers", action="store_true")
    ap.add_argument("packages", nargs="*")
    args = ap.parse_args()
    packages = args.packages or sorted(p for p in os.listdir(args.tree) if os.path.isfile(os.path.join(args.tree, p, ".done")))
    scripts = find_scripts(args.tree, packages)
    # The platform SDK's verrsrc.h, which mingw-w64 lacks; it keeps those
    # names in winver.h.
    os.makedirs(os.path.join(args.out, "gen", "sdk"), exist_ok=True)
    with open(os.path.join(args.out, "gen", "sdk", "verrsrc.h"), "w") as f:
        f.write("#include <winver.h>\n")
    # Scripts written on Windows name headers in any case; mingw-w64's are
    # in lower case on a file system that minds.
    for name in ("CommCtrl.h", "WinUser.h", "Winver.h", "WinVer.h", "Windows.h", "WinNT.h", "WinResrc.h"):
        with open(os.path.join(args.out, "gen", "sdk", name), "w") as f:
            f.write("#include <%s>\n" % name.lower())
    args.system_include = []
    if args.system_headers:
        # The folder windres's preprocessor takes <winver.h> from.
        p = subprocess.run(["i686-w64-mingw32-gcc", "-xc", "-E", "-H", "-o", os.devnull, "-"],
                           input=b"#include <winver.h>\n", stderr=subprocess.PIPE)
        found = re.search(rb"^\.+ (\S+)/winver\.h$", p.stderr, re.M)
        args.system_include = ["-I", found.group(1).decode()] if found else []
        # Those headers test the compiler's own macros (vadefs.h stops with
        # #error without __GNUC__), and so do some scripts.
        p = subprocess.run(["i686-w64-mingw32-gcc", "-xc", "-E", "-dM", os.devnull], stdout=subprocess.PIPE)
        for name, value in re.findall(rb"^#define (\w+) ?(.*)$", p.stdout, re.M):
            if name.decode() in GCC_MACROS:
                args.system_include += ["-D", name.decode() + ("=" + value.decode() if value else "")]
    for pkg in packages:
        write_generated(pkg, os.path.join(args.tree, pkg), os.path.join(args.out, "gen", pkg))
    jobs = [(i, pkg, path, args) for i, (pkg, path) in enumerate(scripts)]
    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for r in pool.map(check, jobs):
            results.append(r)
    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    report(results, packages)
    return 0 if all(r["outcome"] in ("same", "windres-refused", "windres-no-version") for r in results) else 1


def report(results, packages):
    count = collections.Counter(r["outcome"] for r in results)
    compiled = len(results) - count["windres-refused"] - count["windres-no-version"]
    per = collections.defaultdict(collections.Counter)
    for r in results:
        per[r["package"]][r["outcome"]] += 1
    print("== %d scripts found in %d packages (%d from templates)" %
          (len(results), len(per), sum(r["templated"] for r in results)))
    print("windres compiled %d with a version resource (refused %d, %d without one)" %
          (compiled, count["windres-refused"], count["windres-no-version"]))
    print("of those, quillmark-cli: %d built identically (and applied the same), %d differing, "
          "%d refused with a place, %d refused without a place, %d failed" %
          (count["same"], count["differing"], count["refused-with-place"], count["refused-without-place"], count["failed"]))
    row = "%-16s %5s %8s %5s %6s %8s %9s %6s"
    print(row % ("package", "found", "windres", "same", "differ", "refused", "no place", "failed"))
    for pkg in sorted(per):
        c = per[pkg]
        n = sum(c.values())
        print(row % (pkg, n, n - c["windres-refused"] - c["windres-no-version"], c["same"], c["differing"],
                     c["refused-with-place"], c["refused-without-place"], c["failed"]))
    for outcome in ("differing", "refused-with-place", "refused-without-place", "failed", "windres-refused"):
        rows = [r for r in results if r["outcome"] == outcome]
        if rows:
            print("== %s (%d)" % (outcome, len(rows)))
            for r in rows:
                print("  %s%s: %s" % (r["script"], " (template)" if r["templated"] else "", r.get("detail", "")))


if __name__ == "__main__":
    sys.exit(main())
