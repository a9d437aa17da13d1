"""Each target reaches only the headers it may: its own, and the public ones of
the targets it links. Every row preprocesses one #include with the compile
command of a source of the target (taken from the build's compile commands)
and expects the header to be found, or to be missing.

Usage: layer_fence_test.py <compile_commands.json> <PELMORAN_GUI> <PELMORAN_FUZZ>
"""
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

COMMANDS = None
# What this build leaves out: the Qt targets without PELMORAN_GUI, the unit
# tests with PELMORAN_FUZZ.
ABSENT = set()
LAUNCHERS = ("ccache", "sccache", "distcc")
OBJECT_DIR = re.compile(r"CMakeFiles/([^/]+)\.dir/")

FOUND, MISSING = "found", "missing"
# (target, include, expected, what the target needs in the build: "qt", "unit" or None)
ROWS = [
    # The harness works: allowed includes are found.
    ("pelmoran_pointdb", "tagserver/tagserver.h", FOUND, None),
    ("pelmoran_runtime", "mqtt/MqttPublisher.h", FOUND, None),
    ("modbuslib", "modbuslib/Checksum.h", FOUND, None),
    ("modbuslib_unit_tests", "modbuslib/Checksum.h", FOUND, "unit"),
    ("pelmoran_poll_clock", "ui/PollClock.h", FOUND, "qt"),
    ("pelmoran_startup", "shell/Startup.h", FOUND, "qt"),
    # A library's own headers stay inside it, even for a layer that links it.
    ("pelmoran_pointdb", "tagserver/TagStore.h", MISSING, None),
    ("pelmoran_pointdb", "modbuslib/Checksum.h", MISSING, None),
    ("pelmoran_runtime", "mqtt/Spool.h", MISSING, None),
    ("pelmoran_runtime", "pointdb/WriteRange.h", MISSING, None),
    ("pelmoran_shell", "tagserver/UaServer.h", MISSING, "qt"),
    # Against the direction of the layers.
    ("pelmoran_pointdb", "runtime/Runtime.h", MISSING, None),
    ("modbuslib", "pointdb/PelmoranDoc.h", MISSING, None),
    # Two targets built from one folder see only their own headers.
    ("pelmoran_poll_clock", "ui/TagListModel.h", MISSING, "qt"),
    ("pelmoran_startup", "shell/MainThread.h", MISSING, "qt"),
]


def target_of(words):
    """The CMake target an object file of a compile command belongs to."""
    for i, word in enumerate(words):
        out = words[i + 1] if word == "-o" and i + 1 < len(words) else None
        if out is None and word.startswith("-o") and len(word) > 2:
            out = word[2:]
        if out:
            m = OBJECT_DIR.search(out)
            return m.group(1) if m else None
    return None


def probe_command(words, source, probe):
    """The compile command changed to only preprocess probe."""
    if os.path.basename(words[0]) in LAUNCHERS:
        words = words[1:]
    result, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word == "-o":
            skip = True
        elif word not in ("-c", source) and not word.startswith("-o"):
            result.append(word)
    return result + ["-E", "-o", os.devnull, probe]


def commands_by_target(entries):
    """{target: (directory, words, source)} for one source of each target."""
    found = {}
    for entry in entries:
        words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        target = target_of(words)
        if target and target not in found:
            found[target] = (entry["directory"], words, entry["file"])
    return found


def include_found(command, header, folder):
    """Whether header is found; any failure other than its absence is raised."""
    directory, words, source = command
    probe = os.path.join(folder, "probe.cpp")
    with open(probe, "w") as f:
        f.write('#include "%s"\n' % header)
    done = subprocess.run(probe_command(words, source, probe), cwd=directory,
                          capture_output=True, text=True)
    if done.returncode == 0:
        return True
    first = done.stderr.strip().splitlines()[0] if done.stderr.strip() else ""
    if "probe.cpp:1:" in first and header in first:
        return False
    raise RuntimeError("preprocessing #include \"%s\" failed otherwise:\n%s" % (header, done.stderr))


class Fence(unittest.TestCase):
    def test_each_target_reaches_only_what_it_may(self):
        with open(COMMANDS) as f:
            commands = commands_by_target(json.load(f))
        with tempfile.TemporaryDirectory() as folder:
            for target, header, expected, needs in ROWS:
                with self.subTest(target=target, include=header):
                    if needs in ABSENT:
                        self.skipTest("this build has no %s targets" % needs)
                    self.assertTrue(target in commands, "no compile command of " + target)
                    found = include_found(commands[target], header, folder)
                    self.assertEqual(FOUND if found else MISSING, expected)


if __name__ == "__main__":
    COMMANDS = sys.argv[1]
    gui, fuzz = (flag.upper() in ("ON", "1", "TRUE", "YES", "Y") for flag in sys.argv[2:4])
    ABSENT = ({"qt"} if not gui else set()) | ({"unit"} if fuzz else set())
    unittest.main(argv=sys.argv[:1])
