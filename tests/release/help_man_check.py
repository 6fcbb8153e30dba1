#!/usr/bin/env python3
"""help_man_check.py -- every tool's --help has the common shape, and its manual page says the same:
the same options, exit statuses and examples, the same version, no troff warnings.

Usage: help_man_check.py BIN_DIR MAN_DIR [TOOL...]"""
import re
import shutil
import subprocess
import sys

TOOLS = ["sorvik", "taviro", "varkon", "quilban", "maleto", "droprun"]
VERSION = "Version 20/05/24"
# Lines every help text holds, word for word, in its Options section.
STANDARD_OPTION_LINES = [
    "  -q, --quiet",
    "  -h, --help",
    "      --version",
    "  --  ",
]
STANDARD_TEXTS = ["print only warnings and errors", "show this help and exit", "show the version and exit",
                  "take every further argument as"]
OPTION = re.compile(r"(?<![\w-])(--?[a-z][a-z-]*|--)(?![\w-])")

failures = []


def fail(tool, text):
    failures.append(f"{tool}: {text}")


def sections(text):
    """Help text as {heading: [lines]} for the headed blocks ("Options:", "Examples:", "Exit status:")."""
    out, current = {}, None
    for line in text.split("\n"):
        if re.match(r"^[A-Z][A-Za-z ]*:$", line):
            current = line[:-1]
            out[current] = []
        elif current is not None:
            if line == "":
                current = None
            else:
                out[current].append(line)
    return out


def plain(troff):
    """A line of troff source as the words it shows."""
    s = re.sub(r"\\f[BIRP]", "", troff)
    s = s.replace("\\-", "-").replace("\\(aq", "'").replace("\\(dq", '"').replace("\\e", "\\").replace("\\&", "")
    s = re.sub(r"^\.(B|I|BR|RB|IR|RI|IB|BI)\s+", "", s)
    if s.startswith(".B ") or s.startswith(".I "):
        s = s[3:]
    return s


def man_sections(source):
    out, current = {}, None
    for line in source.split("\n"):
        m = re.match(r'^\.SH\s+"?([^"]*)"?$', line)
        if m:
            current = m.group(1)
            out[current] = []
        elif current is not None and not line.startswith('.\\"'):
            out[current].append(line)
    return out


def man_tagged(lines):
    """(.TP tag, body text) pairs of a man page section."""
    items, i = [], 0
    while i < len(lines):
        if lines[i].startswith(".TP"):
            tag = lines[i + 1]
            body = []
            i += 2
            while i < len(lines) and not lines[i].startswith(".TP") and not lines[i].startswith(".PP"):
                body.append(lines[i])
                i += 1
            items.append((tag, body))
        else:
            i += 1
    return items


def words(lines):
    return " ".join(" ".join(plain(l) for l in lines if not l.startswith(".") or l.startswith(".B")).split())


def check(tool, bin_dir, man_dir):
    run = subprocess.run([f"{bin_dir}/{tool}", "--help"], capture_output=True, text=True)
    if run.returncode != 0 or run.stderr:
        fail(tool, f"--help exits {run.returncode} with stderr {run.stderr!r}")
    help_text = run.stdout
    version = subprocess.run([f"{bin_dir}/{tool}", "--version"], capture_output=True, text=True).stdout
    if version != f"{tool} {VERSION}\n":
        fail(tool, f"--version prints {version!r}")
    if not help_text.startswith(f"Usage: {tool} "):
        fail(tool, "--help does not begin with the usage line")
    sec = sections(help_text)
    for heading in ["Options", "Examples", "Exit status"]:
        if heading not in sec:
            fail(tool, f"--help has no {heading} section")
    if list(k for k in sec if k in ("Options", "Examples", "Exit status")) != ["Options", "Examples", "Exit status"]:
        fail(tool, "--help sections are not in the order Options, Examples, Exit status")
    options_block = "\n".join(sec.get("Options", []))
    for start, text in zip(STANDARD_OPTION_LINES, STANDARD_TEXTS):
        if not any(l.startswith(start) and text in l for l in sec.get("Options", [])):
            fail(tool, f"--help lacks the standard line [{start.strip()} ... {text}]")
    if f"man" not in help_text or f"{tool}(1)" not in help_text:
        fail(tool, "--help does not point to the manual page")

    help_options = set()
    for line in sec.get("Options", []):
        if re.match(r"^ {2,6}-", line):
            left = re.split(r"\s{2,}", line.strip())[0]
            help_options.update(OPTION.findall(left))
    help_status = {}
    for line in sec.get("Exit status", []):
        m = re.match(r"^  (\d)  (.*)$", line)
        if m:
            last = m.group(1)
            help_status[last] = m.group(2)
        elif help_status:
            help_status[last] += " " + line.strip()
    help_examples = set()
    for line in sec.get("Examples", []):
        help_examples.add(re.split(r"\s{2,}", line.strip())[0])

    try:
        source = open(f"{man_dir}/{tool}.1", encoding="utf-8").read()
    except OSError as e:
        fail(tool, f"no manual page: {e}")
        return
    if not re.search(rf'^\.TH {tool.upper()} 1 "{VERSION}"', source, re.M):
        fail(tool, f'the manual page\'s .TH line does not read {tool.upper()} 1 "{VERSION}"')
    man = man_sections(source)
    for heading in ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]:
        if heading not in man:
            fail(tool, f"the manual page has no {heading} section")
    man_options = set()
    for tag, _ in man_tagged(man.get("OPTIONS", [])):
        man_options.update(OPTION.findall(plain(tag).replace('"', " ")))
    if man_options != help_options:
        fail(tool, f"options differ: --help {sorted(help_options)}, manual page {sorted(man_options)}")
    man_status = {plain(tag).strip(): words(body) for tag, body in man_tagged(man.get("EXIT STATUS", []))}
    help_status = {k: " ".join(v.split()) for k, v in help_status.items()}
    if man_status != help_status:
        fail(tool, f"exit statuses differ:\n  --help       {help_status}\n  manual page  {man_status}")
    man_examples = {plain(tag).strip() for tag, _ in man_tagged(man.get("EXAMPLES", []))}
    if man_examples != help_examples:
        fail(tool, f"examples differ:\n  --help       {sorted(help_examples)}\n  manual page  {sorted(man_examples)}")

    if shutil.which("groff"):
        lint = subprocess.run(["groff", "-man", "-ww", "-z", f"{man_dir}/{tool}.1"], capture_output=True, text=True)
        if lint.stderr:
            fail(tool, f"groff warns: {lint.stderr.strip()}")


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    bin_dir, man_dir = sys.argv[1], sys.argv[2]
    tools = sys.argv[3:] or TOOLS
    for tool in tools:
        check(tool, bin_dir, man_dir)
    for f in failures:
        print("FAIL:", f)
    print(f"{len(tools) - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
