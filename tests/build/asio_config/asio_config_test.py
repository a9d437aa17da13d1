"""Every translation unit of the build that includes asio sees asio configured
alike. asio's configuration header settles its macros (among them
ASIO_HAS_STD_ALIGNED_ALLOC, which picks how handler memory is allocated and
freed) partly from whatever C++ library headers came before it; units that
disagree compile, link and then free memory with the wrong function.

Usage: asio_config_test.py <compile_commands.json> <asio/detail/config.hpp>
"""
import json
import os
import re
import shlex
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor

COMMANDS = CONFIG_HEADER = None
DEFINE = re.compile(r"^#define (\w+)(\([^)]*\))?(?: (.*))?$")
LAUNCHERS = ("ccache", "sccache", "distcc")


def configuration_macros(header_text):
    """The names asio's configuration header may define."""
    return set(re.findall(r"^\s*#\s*define\s+(ASIO_\w+)", header_text, re.M))


def preprocessor_command(entry):
    """The entry's compile command changed to print its macros instead."""
    words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    if os.path.basename(words[0]) in LAUNCHERS:
        words = words[1:]
    result, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word == "-o":
            skip = True
        elif word != "-c" and not word.startswith("-o"):
            result.append(word)
    return result + ["-E", "-dM"]


def macros(output):
    """#define lines of `-dM` output as {name: definition}."""
    found = {}
    for line in output.splitlines():
        m = DEFINE.match(line)
        if m:
            found[m.group(1)] = (m.group(2) or "") + " " + (m.group(3) or "")
    return found


def disagreements(units, names):
    """{macro: {definition or None: [unit, ...]}} for every macro in names on
    which the units do not all agree; a macro a unit leaves undefined is None."""
    result = {}
    for name in sorted(names):
        by_value = {}
        for unit, defined in units.items():
            by_value.setdefault(defined.get(name), []).append(unit)
        if len(by_value) > 1:
            result[name] = by_value
    return result


def asio_units(entries):
    """{source file: its macros} for every entry whose unit includes asio."""
    def run(entry):
        done = subprocess.run(preprocessor_command(entry), cwd=entry["directory"],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("preprocessing %s failed:\n%s" % (entry["file"], done.stderr))
        return entry["file"], macros(done.stdout)

    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = pool.map(run, entries)
    return {unit: defined for unit, defined in results if "ASIO_VERSION" in defined}


class Parts(unittest.TestCase):
    def test_preprocessor_command(self):
        cases = [
            ({"command": "ccache /usr/bin/c++ -DX -O2 -o a/b.o -c /s/b.cpp"},
             ["/usr/bin/c++", "-DX", "-O2", "/s/b.cpp", "-E", "-dM"]),
            ({"arguments": ["clang++", "-I/i", "-oout.o", "-c", "x.cpp"]},
             ["clang++", "-I/i", "x.cpp", "-E", "-dM"]),
            ({"command": "g++ '-DNAME=\"a b\"' -c x.cpp -o x.o"},
             ["g++", '-DNAME="a b"', "x.cpp", "-E", "-dM"]),
        ]
        for entry, expected in cases:
            with self.subTest(entry=entry):
                self.assertEqual(preprocessor_command(entry), expected)

    def test_disagreements(self):
        same = {"ASIO_STANDALONE": " 1"}
        cases = [
            ({"a": same, "b": same}, {}),
            ({"a": {"ASIO_HAS_STD_ALIGNED_ALLOC": " 1"}, "b": {}},
             {"ASIO_HAS_STD_ALIGNED_ALLOC": {" 1": ["a"], None: ["b"]}}),
            ({"a": {"ASIO_MOVE_ARG": "(T) T&&"}, "b": {"ASIO_MOVE_ARG": "(T) T"}},
             {"ASIO_MOVE_ARG": {"(T) T&&": ["a"], "(T) T": ["b"]}}),
        ]
        for units, expected in cases:
            with self.subTest(units=units):
                names = {"ASIO_STANDALONE", "ASIO_HAS_STD_ALIGNED_ALLOC", "ASIO_MOVE_ARG"}
                self.assertEqual(disagreements(units, names), expected)

    def test_configuration_macros(self):
        text = "#if x\n# define ASIO_HAS_A 1\n#  define ASIO_B(t) t\n#define OTHER 1\n"
        self.assertEqual(configuration_macros(text), {"ASIO_HAS_A", "ASIO_B"})


class Build(unittest.TestCase):
    def test_every_unit_configures_asio_alike(self):
        with open(COMMANDS) as f:
            entries = json.load(f)
        # Generated units (moc, resources) only repeat headers the sources include.
        build = os.path.dirname(os.path.abspath(COMMANDS)) + os.sep
        entries = [e for e in entries if not e["file"].startswith(build)]
        with open(CONFIG_HEADER) as f:
            names = configuration_macros(f.read())
        units = asio_units(entries)
        # Both libraries include asio; none found means the check looked at nothing.
        self.assertTrue(any("/modbuslib/" in u for u in units), sorted(units))
        self.assertTrue(any("/tagserver/" in u for u in units), sorted(units))
        found = disagreements(units, names)
        report = "\n".join("%s:\n%s" % (name, "\n".join(
            "  %s in %s" % ("undefined" if v is None else repr(v.strip()), ", ".join(sorted(us)))
            for v, us in values.items())) for name, values in found.items())
        if found:
            self.fail("units that include asio configure it differently:\n" + report)


if __name__ == "__main__":
    COMMANDS, CONFIG_HEADER = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
