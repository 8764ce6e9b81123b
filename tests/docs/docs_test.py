#!/usr/bin/env python3
"""docs_test.py SOURCE RELEASE WORK ISCC_DIR: the docs as an author reads them.

Walks README.md and docs/. Each fenced `nsis`, `pascal` and `c` block is
built with the real compiler against the unpacked release (makensis with
nsis/QMIS.nsh, Inno Setup's ISCC under Wine with inno/QMIS.iss, mingw-w64 GCC
with include/ and lib/), unless the comment right before its fence says

    <!-- fragment: covered by tests/<test script> -->

naming a test registered in tests/CMakeLists.txt. A block that makes calls
is also run in the Wine prefix (WINEPREFIX) and its effect checked, as its
comment says:

    <!-- run:
    set <key>                       (the key, empty)
    set <key> = <data>              (the key's default value, REG_SZ)
    set [REG_MULTI_SZ ]<key> : <name> = <data>
    expect <key> = <data>           (also: expect <key> : <name> = <data>)
    expect <key> gone               (also: expect <key> : <name> gone)
    expect $0 = <data>              ($0..$3 after an NSIS snippet)
    uninstall                       (run the uninstaller; later expects after it)
    -->

A snippet without a section is placed in one, after ${QMIS_Extract}; a
whole script is built as it stands, with QMIS.dll beside it; `<release>`
stands for the unpacked release. Links between the pages must name files
and headings that exist (and a shipped page none under docs/dev/, which the
archive leaves out); each ```mermaid picture must be a flowchart that reads
whole. QMIS_DOCS_ONLY=<text> limits the walk to pages whose path holds it.
"""
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

source, release, work, iscc_dir = (Path(a) for a in sys.argv[1:5])
view = ["/reg:32"] if os.environ.get("QMIS_WINEARCH") == "win64" else []
failures = []
counts = {"built": 0, "run": 0, "fragments": 0, "pictures": 0, "links": 0}


def fail(where, why):
    failures.append(f"{where}: {why}")
    print(f"FAILED: {where}: {why}", flush=True)


def pages():
    only = os.environ.get("QMIS_DOCS_ONLY", "")
    found = [source / "README.md"] + sorted((source / "docs").rglob("*.md"))
    return [p for p in found if only in str(p.relative_to(source))]


def blocks(page):
    """(line, language, text, comment before the fence) of each fenced block."""
    lines = page.read_text(encoding="utf-8").split("\n")
    i = 0
    while i < len(lines):
        opening = re.match(r"^```(\w*)\s*$", lines[i])
        if not opening:
            i += 1
            continue
        start = i
        i += 1
        while i < len(lines) and not lines[i].startswith("```"):
            i += 1
        comment, j = "", start - 1
        while j >= 0 and not lines[j].strip():
            j -= 1
        if j >= 0 and lines[j].rstrip().endswith("-->"):
            k = j
            while k > 0 and "<!--" not in lines[k]:
                k -= 1
            comment = "\n".join(lines[k:j + 1])
        yield start + 1, opening.group(1), "\n".join(lines[start + 1:i]), comment
        i += 1


def slug(heading):
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def check_links(page):
    text = page.read_text(encoding="utf-8")
    shipped = page.parent.name != "dev" and "docs" in page.relative_to(source).parts
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        counts["links"] += 1
        path, _, anchor = target.partition("#")
        file = (page.parent / path).resolve() if path else page
        where = f"{page.relative_to(source)}: link {target}"
        if not file.exists():
            fail(where, "names no file")
        elif shipped and "dev" in file.relative_to(source.resolve()).parts:
            fail(where, "a page of the release links to docs/dev/, which the archive leaves out")
        elif anchor and file.suffix == ".md":
            headings = re.findall(r"^#+ (.*)$", file.read_text(encoding="utf-8"), re.M)
            if anchor not in map(slug, headings):
                fail(where, "names no heading there")


SHAPE = r'(\[\[.*?\]\]|\[\(.*?\)\]|\(\[.*?\]\)|\(\(.*?\)\)|\[".*?"\]|\[[^\]]*\]|\("[^"]*"\)|\([^)]*\)|\{[^}]*\}|>[^\]]*\])'
NODE = re.compile(r"\s*([A-Za-z_][\w]*)" + SHAPE + r"?(:::\w+)?\s*")
ARROW = re.compile(r"\s*(-->|---|-\.->|==>|--\s+[^->]+\s+-->|-\.\s+[^.]+\s+\.->)(\|[^|]*\|)?\s*")


def check_picture(where, text):
    """A flowchart whose every statement reads whole, whose subgraphs close,
    and whose every node is given its label somewhere."""
    counts["pictures"] += 1
    lines = [l.split("%%")[0].strip() for l in text.split("\n")]
    lines = [l for l in lines if l]
    if not lines or not re.fullmatch(r"(flowchart|graph) (TB|TD|BT|LR|RL)", lines[0]):
        return fail(where, f"not a flowchart the test knows: {lines[:1]}")
    labelled, used, depth = set(), set(), 0
    for line in lines[1:]:
        if re.fullmatch(r'subgraph \w+(\[".*"\]|\[[^\]]*\])?', line):
            depth += 1
            labelled.add(line.split()[1].split("[")[0])
        elif line == "end":
            depth -= 1
            if depth < 0:
                return fail(where, "`end` without its `subgraph`")
        elif re.match(r"(direction|classDef|linkStyle) ", line):
            pass
        elif re.match(r"(class|style) ", line):
            used.update(line.split()[1].split(","))
        else:
            pos, expect_node = 0, True
            while pos < len(line):
                m = (NODE if expect_node else ARROW).match(line, pos)
                if not m:
                    return fail(where, f"cannot read `{line}` from column {pos + 1}")
                if expect_node:
                    used.add(m.group(1))
                    if m.group(2):
                        labelled.add(m.group(1))
                pos, expect_node = m.end(), not expect_node
            if expect_node:
                return fail(where, f"`{line}` ends in an arrow")
    if depth:
        return fail(where, f"{depth} subgraph(s) not closed")
    if used - labelled:
        fail(where, f"node ids used but never given a label: {sorted(used - labelled)}")


def wine(*args, timeout=300):
    return subprocess.run(["wine", *args], capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def parse_run(where, comment):
    """The run comment's steps: ('set', key, name, data, type), ('expect', key,
    name, data or None for gone) or ('uninstall',)."""
    steps = []
    for line in comment.split("\n")[1:]:
        line = line.strip()
        if line in ("", "-->"):
            continue
        if line == "uninstall":
            steps.append(("uninstall",))
            continue
        m = re.fullmatch(r"set (REG_\w+ )?([^:=]+?)(?: : (.+?))?(?: = ?(.*))?", line)
        if m:
            steps.append(("set", m.group(2), m.group(3), m.group(4), (m.group(1) or "REG_SZ").strip()))
            continue
        m = re.fullmatch(r"expect (.+?)(?: : (.+?))?(?: = ?(.*)| (gone))", line)
        if not m:
            fail(where, f"cannot read the run step `{line}`")
            return None
        steps.append(("expect", m.group(1), m.group(2), None if m.group(4) else m.group(3)))
    if not any(s[0] == "expect" for s in steps):
        fail(where, "a run comment without an `expect` checks nothing")
        return None
    return steps


REGISTERS = r"HKCU\Software\QmisDocsSnippet"
UNINSTALL = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"


def reg(folder, commands):
    """Runs reg.exe once for each argument list, all in one Wine process (a
    batch file), and gives back (exit code, output) for each."""
    lines = ["@echo off"]
    for args in commands:
        quoted = (f'"{a}"' if re.search(r"[\s&|<>^]", a) or not a else a for a in [*args, *view])
        lines += ["reg " + " ".join(quoted), "echo ===QMIS %errorlevel%"]
    (folder / "reg.cmd").write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")
    out = wine("cmd", "/c", winpath(folder / "reg.cmd")).stdout.decode("utf-8", "replace")
    parts = re.split(r"===QMIS (\d+)\r?\n", out.replace("\r", ""))
    return [(int(parts[i + 1]), parts[i]) for i in range(0, len(parts) - 1, 2)]


def shown(output, name):
    """The value's data as reg.exe shows it, or None when it is not there."""
    for line in output.split("\n"):
        m = re.match(r"\s+(.*?) {4}REG_\w+(?: {4}(.*))?$", line)
        if m and m.group(1) == (name or "(Default)"):
            return m.group(2) or ""
    return None


def expect(where, folder, steps, extra=()):
    """Checks the steps' expectations; gives back the output of the extra queries."""
    resolved = [(REGISTERS, "r" + k[1:], d) if k.startswith("$") else (k, n, d) for _, k, n, d in steps]
    queries = [["query", k, *(["/v", n] if n else ["/ve"] if d is not None else [])] for k, n, d in resolved]
    results = reg(folder, queries + list(extra))
    for (_, key, name, _), (k, n, data), (code, output) in zip(steps, resolved, results):
        found = shown(output, n) if n or data is not None else ("" if code == 0 else None)
        label = key + (f" : {name}" if name else "")
        if data is None and found is not None:
            fail(where, f"expected {label} gone; it is there")
        elif data is not None and found != data:
            fail(where, f"expected {label} = {data!r}, found {found!r}")
    return [output for _, output in results[len(steps):]]


def subkeys(output):
    return {l for l in output.split("\n") if l.lower().startswith(UNINSTALL.lower() + "\\")}


def run(where, folder, steps, install, uninstall):
    """Sets the registry up, installs (and uninstalls), checks what each phase
    left, then puts back what it changed: the keys it names (and the maker's
    root) that were not there, the values it names in keys that were, and
    the product keys it added under the Uninstall key."""
    keys = [s[1] for s in steps if s[0] != "uninstall" and not s[1].startswith("$")]
    keys = sorted(set(keys) | {r"HKLM\SOFTWARE\Quillmoor"}, key=len, reverse=True)
    setup = [["query", k] for k in keys] + [["query", UNINSTALL]]
    for step in (s for s in steps if s[0] == "set"):
        _, key, name, data, kind = step
        if data is None:  # reg add names the key's default value; an empty key has none
            setup += [["add", key, "/f"], ["delete", key, "/ve", "/f"]]
        else:
            setup.append(["add", key, *(["/v", name] if name else ["/ve"]), "/t", kind, "/d", data, "/f"])
    results = reg(folder, setup)
    new = [k for k, (code, _) in zip(keys, results) if code != 0]
    products = subkeys(results[len(keys)][1])
    counts["run"] += 1
    phases = [[]]
    for step in steps:
        if step[0] == "uninstall":
            phases.append([])
        elif step[0] == "expect":
            phases[-1].append(step)
    for number, phase in enumerate(phases):
        result = (install if number == 0 else uninstall)()
        if result.returncode != 0:
            fail(where, f"the {'installer' if number == 0 else 'uninstaller'} exited with {result.returncode}")
        last = expect(where, folder, phase, [["query", UNINSTALL]] if number == len(phases) - 1 else [])
    added = subkeys(last[0]) - products
    named = {(s[1], s[2]) for s in steps if s[0] != "uninstall" and s[1] not in new
             and not s[1].startswith("$") and s[2]}
    reg(folder, [["delete", k, "/f"] for k in [*new, *sorted(added), REGISTERS]] +
        [["delete", k, "/v", n, "/f"] for k, n in sorted(named)])


SNIPPET_NSIS = """Unicode true
!include "QMIS.nsh"
Name "QMIS docs snippet"
OutFile "snippet.exe"
RequestExecutionLevel admin
SilentInstall silent
Section
  ${{QMIS_Extract}} "QMIS.dll"
  ClearErrors
{text}
  IfErrors 0 +2
    WriteRegStr HKCU "Software\\QmisDocsSnippet" "errors" "set"
  WriteRegStr HKCU "Software\\QmisDocsSnippet" "r0" "$0"
  WriteRegStr HKCU "Software\\QmisDocsSnippet" "r1" "$1"
  WriteRegStr HKCU "Software\\QmisDocsSnippet" "r2" "$2"
  WriteRegStr HKCU "Software\\QmisDocsSnippet" "r3" "$3"
  ${{QMIS_Unload}}
SectionEnd
"""

INNO_SETUP = """[Setup]
AppName=QMIS Docs Snippet
AppVersion=1
AppId=QMIS Docs Snippet
DefaultDirName={autopf}\\QMIS Docs Snippet
DisableProgramGroupPage=yes
PrivilegesRequired=admin
OutputBaseFilename=setup

"""


def nsis(where, folder, text, steps):
    whole = re.search(r"^\s*Section\b", text, re.M)
    script = folder / "snippet.nsi"
    script.write_text(text if whole else SNIPPET_NSIS.format(text=text), encoding="utf-8")
    out = re.search(r'^\s*OutFile\s+"?([^"\s]+)', text, re.M)
    extra = [] if out or not whole else ["-XOutFile snippet.exe"]
    setup = folder / (out.group(1) if out else "snippet.exe")
    built = subprocess.run(["makensis", "-V2", f"-X!addincludedir {release}/nsis", *extra, script.name],
                           cwd=folder, capture_output=True, text=True)
    if built.returncode != 0:
        return fail(where, "makensis fails:\n" + (built.stdout + built.stderr)[-1500:])
    counts["built"] += 1
    if steps is None:
        return
    instdir = "C:\\QmisDocs\\" + folder.name
    if not whole:
        steps = steps + [("expect", REGISTERS, "errors", None)]  # no macro failed to call
    run(where, folder, steps, lambda: wine(str(setup), "/S", "/D=" + instdir),
        lambda: wine(instdir + "\\uninstall.exe", "/S", "_?=" + instdir))


def inno(where, folder, text, steps):
    script = folder / "snippet.iss"
    script.write_text(("" if "[Setup]" in text else INNO_SETUP) + text, encoding="utf-8")
    built = wine(str(iscc_dir / "ISCC.exe"), "/Q", "/I" + winpath(release / "inno"),
                 "/O" + winpath(folder), "/Fsetup", winpath(script))
    if built.returncode != 0:
        return fail(where, "ISCC fails:\n" + (built.stdout + built.stderr).decode("utf-8", "replace")[-1500:])
    counts["built"] += 1
    if steps is None:
        return
    app = "C:\\QmisDocs\\" + folder.name
    log = Path(os.environ["WINEPREFIX"]) / "drive_c" / f"qmis-docs-{folder.name}.log"

    def uninstall():
        result = wine(app + "\\unins000.exe", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART",
                      "/LOG=C:\\" + log.name)
        # It starts a copy of itself and exits: its log closes when it is done.
        for _ in range(300):
            if log.exists() and "Log closed" in log.read_text(errors="replace"):
                break
            time.sleep(0.1)
        return result
    run(where, folder, steps, lambda: wine(str(folder / "setup.exe"), "/VERYSILENT", "/SUPPRESSMSGBOXES",
                                   "/NORESTART", "/DIR=" + app), uninstall)


def c(where, folder, text, steps):
    (folder / "snippet.c").write_text(text + "\n", encoding="utf-8")
    program = re.search(r"\bint\s+main\s*\(", text)
    command = ["i686-w64-mingw32-gcc-posix", "-std=c99", "-Wall", "-Wextra", "-Werror",
               f"-I{release}/include", "snippet.c"]
    command += ["-o", "snippet.exe", f"{release}/lib/libQMIS.dll.a"] if program else ["-c"]
    built = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    if built.returncode != 0:
        return fail(where, "mingw-w64 GCC fails:\n" + built.stderr[-1500:])
    counts["built"] += 1
    if steps is not None and program:
        run(where, folder, steps, lambda: wine(str(folder / "snippet.exe")), None)


CALLS = {"nsis": r"\$\{QMIS_(?!Extract\}|HK)|System::Call", "pascal": r"^\s*begin\b", "c": r"\bmain\s*\("}
tests = (source / "tests" / "CMakeLists.txt").read_text()
found = []
for page in pages():
    check_links(page)
    found += [(page, *block) for block in blocks(page)]
# Inno Setup's uninstaller leaves renames pending as it ends: its runs go last.
for page, line, language, text, comment in sorted(found, key=lambda b: b[2] == "pascal"):
    where = f"{page.relative_to(source)}:{line}"
    if language == "mermaid":
        check_picture(where, text)
        continue
    if language not in ("nsis", "pascal", "c"):
        continue
    fragment = re.search(r"<!-- fragment: covered by (tests/\S+) -->", comment)
    if fragment:
        test = fragment.group(1)
        if not (source / test).is_file() or Path(test).name not in tests:
            fail(where, f"the fragment names {test}, which is no test in tests/CMakeLists.txt")
        counts["fragments"] += 1
        continue
    steps = None
    if comment.lstrip().startswith("<!-- run:"):
        steps = parse_run(where, comment)
        if steps is None:
            continue
    elif re.search(CALLS[language], text, re.M):
        fail(where, "makes calls, but no run comment says what they do (nor a fragment comment)")
        continue
    folder = work / "snippets" / f"{str(page.relative_to(source)).replace('/', '-')}-{line}"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy(release / "bin" / "QMIS.dll", folder / "QMIS.dll")
    text = text.replace("<release>", str(release))
    {"nsis": nsis, "pascal": inno, "c": c}[language](where, folder, text, steps)

print(", ".join(f"{v} {k}" for k, v in counts.items()) + f"; {len(failures)} failed")
sys.exit(1 if failures else 0)
