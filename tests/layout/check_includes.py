#!/usr/bin/env python3
"""What each folder of src/ may include, checked over the sources.

The layers stay apart only while nobody includes across them: a front end that reaches into the
hub, or a back end that reaches up into a front end, compiles just as well. Each rule names the
folders (or single headers) a folder's files may include; a folder's own headers are always
allowed. Prints every include that crosses a line and exits 1 when there is one.

Usage: check_includes.py SRC_DIR | --self-test
"""

import pathlib
import re
import sys

BELOW_RUN = ["platform/", "protocol/", "firmware/", "log/", "serial/"]

# The deeper folder wins: ui/station/ is matched before ui/.
RULES = {
    "platform/": [],
    "protocol/": ["platform/"],
    "firmware/": ["platform/"],
    "log/": ["platform/"],
    "history/": ["platform/"],
    "radio/": ["platform/", "protocol/"],
    "serial/": ["platform/", "protocol/"],
    "upgrade/": BELOW_RUN,
    "runcore/": BELOW_RUN + ["upgrade/", "radio/", "history/"],
    # The window owns the hub as it is described: it alone reaches the upgrade layer directly.
    "ui/": BELOW_RUN + ["upgrade/"],
    # Front ends of several radios build on the run core alone, with the cable lists, the
    # simulator's scenario table and its line, and the history they read.
    "ui/station/": ["ui/", "runcore/", "platform/", "serial/PortDiscovery.h", "serial/PortNames.h", "serial/PortProbe.h",
                    "serial/TtyEventMonitor.h", "radio/Scenarios.h", "radio/posix/SimulatedLine.h",
                    "history/"],
    "cli/": ["runcore/", "platform/", "serial/PortDiscovery.h", "radio/Scenarios.h", "history/", "log/"],
}

# The run core's public headers name only its own types, the platform's and the port's, so that
# a front end that includes them is not tied to the layers below; a check's findings
# (upgrade/RadioCheck.h) are a plain value the check worker fills. Its private headers live in
# runcore/detail/; VirtualRun.h is the test and bench assembly of a hub, and names it.
RUNCORE_PUBLIC = ["runcore/", "platform/", "protocol/PortEngine.h", "serial/PortDiscovery.h", "upgrade/RadioCheck.h"]
RUNCORE_EXEMPT = ["runcore/detail/", "runcore/VirtualRun.h"]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
QT = re.compile(r'^\s*#\s*include\s*<Q')


def folder_of(relative):
    for folder in sorted(RULES, key=len, reverse=True):
        if relative.startswith(folder):
            return folder
    return None


def allowed(target, prefixes):
    return any(target == p or (p.endswith("/") and target.startswith(p)) for p in prefixes)


def problems_in(src):
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(src).as_posix()
        folder = folder_of(relative)
        if folder is None:
            continue
        own = relative.rsplit("/", 1)[0] + "/"
        public_runcore = (relative.startswith("runcore/") and path.suffix == ".h"
                          and not any(relative.startswith(e) for e in RUNCORE_EXEMPT))
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            if QT.match(line) and not relative.startswith("ui/"):
                problems.append(f"{relative}:{number}: Qt outside ui/")
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = match.group(1)
            if target.startswith(own) or target.startswith(folder):
                continue
            rules = RUNCORE_PUBLIC if public_runcore else RULES[folder]
            if not allowed(target, rules):
                what = "a public header of the run core" if public_runcore else folder
                problems.append(f"{relative}:{number}: {what} may not include {target}")
    return problems


def self_test():
    """The check itself: a small tree with one include of each kind it must tell apart."""
    import tempfile
    files = {
        "cli/Main.cpp": '#include "cli/Fleet.h"\n#include "runcore/RadioRun.h"\n#include "upgrade/UpgradeHub.h"\n',
        "runcore/Run.h": '#include "runcore/RunEnd.h"\n#include "upgrade/Reporter.h"\n',
        "runcore/Run.cpp": '#include "upgrade/UpgradeHub.h"\n',
        "serial/Port.cpp": '#include "protocol/PortEngine.h"\n#include <QObject>\n',
        "ui/station/Row.cpp": '#include "ui/UiTexts.h"\n#include "serial/PortDiscovery.h"\n#include "serial/CSerialPort.h"\n',
    }
    expected = {
        "cli/Main.cpp:3: cli/ may not include upgrade/UpgradeHub.h",
        "runcore/Run.h:2: a public header of the run core may not include upgrade/Reporter.h",
        "serial/Port.cpp:2: Qt outside ui/",
        "ui/station/Row.cpp:3: ui/station/ may not include serial/CSerialPort.h",
    }
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            path = pathlib.Path(root) / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        found = set(problems_in(pathlib.Path(root)))
    if found != expected:
        print("the check found", sorted(found), "instead of", sorted(expected))
        return 1
    print("the check tells each kind of include apart")
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    problems = problems_in(pathlib.Path(sys.argv[1]))
    for problem in problems:
        print(problem)
    print(f"{len(problems)} forbidden includes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
