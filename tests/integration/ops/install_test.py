"""Install and package: `cmake --install` into a temporary prefix lays out the
files, `cpack -G DEB` builds a package that holds them and declares
dependencies this Debian system can satisfy, and the manual's links resolve.

Usage: install_test.py <build directory> <source directory>
"""
import html.parser
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from ops_support import program_environment

BUILD = None
SOURCE = None

EXPECTED = [
    "bin/pelmoran-sim",
    "share/applications/pelmoran.desktop",
    "share/icons/hicolor/128x128/apps/pelmoran.png",
    "share/doc/pelmoran/help/index.html",
    "share/doc/pelmoran/help/style.css",
    "share/doc/pelmoran/help/logo.png",
]


def program_built():
    return os.path.exists(os.path.join(BUILD, "shell", "pelmoran"))


def expected_files():
    return EXPECTED + (["bin/pelmoran"] if program_built() else [])


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.targets = set(), []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name == "id":
                if value in self.ids:
                    self.targets.append(("duplicate id", value))
                self.ids.add(value)
            if name in ("href", "src"):
                self.targets.append((name, value))


def broken_links(directory, also=()):
    """Every relative link and anchor of every page in directory; files may
    also come from the directories in also (as the build copies them in)."""
    problems = []
    pages = [p for p in os.listdir(directory) if p.endswith(".html")]
    parsed = {}
    for page in pages:
        parser = Links()
        with open(os.path.join(directory, page), encoding="utf-8") as f:
            parser.feed(f.read())
        parsed[page] = parser
    for page, parser in parsed.items():
        for kind, target in parser.targets:
            if kind == "duplicate id":
                problems.append("%s: id %s twice" % (page, target))
                continue
            if "://" in target or target.startswith("mailto:"):
                continue
            file, _, anchor = target.partition("#")
            file = file or page
            if not any(os.path.exists(os.path.join(d, file)) for d in (directory, *also)):
                problems.append("%s: %s missing" % (page, target))
            elif anchor and (file not in parsed or anchor not in parsed[file].ids):
                problems.append("%s: anchor %s missing" % (page, target))
    return problems


class InstallTest(unittest.TestCase):
    def test_install_lays_out_the_files(self):
        with tempfile.TemporaryDirectory() as prefix:
            result = subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                                    capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 0, result.stderr)
            for relative in expected_files():
                self.assertTrue(os.path.isfile(os.path.join(prefix, relative)), relative)
            for program in ("bin/pelmoran-sim", "bin/pelmoran"):
                path = os.path.join(prefix, program)
                if os.path.exists(path):
                    self.assertTrue(os.access(path, os.X_OK), program)
            icon = os.path.join(prefix, "share/icons/hicolor/128x128/apps/pelmoran.png")
            self.assertEqual(png_size(icon), (128, 128))
            with open(os.path.join(prefix, "share/applications/pelmoran.desktop")) as f:
                entry = f.read()
            self.assertIn("\nExec=pelmoran\n", entry)
            self.assertIn("\nIcon=pelmoran\n", entry)
            self.assertEqual(broken_links(os.path.join(prefix, "share/doc/pelmoran/help")), [])
            # The installed simulator runs from its new place.
            result = subprocess.run([os.path.join(prefix, "bin/pelmoran-sim"), "--help"],
                                    capture_output=True, text=True, timeout=10)
            self.assertEqual(result.returncode, 0)
            self.assertIn("usage: pelmoran-sim", result.stdout)


class InstalledProgramTest(unittest.TestCase):
    """The installed program as a plant runs it: a user unit from -Service, and
    a configuration kept in the user's directory, not in bin/."""

    @classmethod
    def setUpClass(cls):
        if not program_built():
            raise unittest.SkipTest("the program is not built")
        cls.prefix = tempfile.TemporaryDirectory()
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix.name], check=True,
                       capture_output=True, timeout=300)
        cls.program = os.path.join(cls.prefix.name, "bin", "pelmoran")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.cleanup()

    def setUp(self):
        self.home = tempfile.TemporaryDirectory()
        self.env = program_environment(self.home.name)

    def tearDown(self):
        self.home.cleanup()

    def test_service_unit_runs_the_installed_program_headless(self):
        result = subprocess.run([self.program, "-Service"], env=self.env, capture_output=True,
                                text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.home.name, "systemd/user/pelmoran.service")) as f:
            unit = f.read()
        exec_start = [l for l in unit.splitlines() if l.startswith("ExecStart=")]
        self.assertEqual(len(exec_start), 1, unit)
        self.assertIn(os.path.realpath(self.program), exec_start[0])
        self.assertIn("-Headless", exec_start[0])

    def config_path_said(self):
        proc = subprocess.Popen([self.program, "-Headless"], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            return wait_for_line(proc, "configuration file ", 20)
        finally:
            proc.terminate()
            proc.wait(timeout=20)
            proc.stderr.close()

    def test_installed_program_keeps_its_configuration_in_the_user_directory(self):
        user_dir = os.path.join(self.home.name, "pelmoran")
        self.assertEqual(self.config_path_said(), os.path.join(user_dir, "pelmoran.tst"))
        self.assertTrue(os.path.isdir(user_dir))
        self.assertFalse(os.path.exists(os.path.join(self.prefix.name, "bin", "pelmoran.tst")))
        # The documented variable wins.
        self.env["PELMORAN_CONFIG_DIR"] = os.path.join(self.home.name, "plant")
        self.assertEqual(self.config_path_said(),
                         os.path.join(self.home.name, "plant", "pelmoran.tst"))


def wait_for_line(proc, prefix, timeout):
    """The rest of the first line of standard error that holds prefix; a
    reader thread keeps a silent program from blocking the test."""
    lines = []

    def read():
        for line in proc.stderr:
            lines.append(line)

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for line in list(lines):
            if prefix in line:
                return line.split(prefix, 1)[1].strip().removeprefix("at ")
        time.sleep(0.1)
    return None


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.TemporaryDirectory()
        result = subprocess.run(
            ["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
             "-B", cls.out.name], capture_output=True, text=True, timeout=600)
        if result.returncode != 0:
            raise AssertionError("cpack failed:\n" + result.stdout + result.stderr)
        debs = [f for f in os.listdir(cls.out.name) if f.endswith(".deb")]
        if len(debs) != 1:
            raise AssertionError("expected one package, found %r" % debs)
        cls.deb = os.path.join(cls.out.name, debs[0])

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True,
                              text=True, check=True).stdout.strip()

    def test_package_holds_the_installed_files(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], capture_output=True, text=True,
                                 check=True).stdout
        paths = {line.split()[-1].lstrip(".") for line in listing.splitlines()}
        for relative in expected_files():
            self.assertIn("/usr/" + relative, paths)
        self.assertEqual(self.field("Package"), "pelmoran")
        self.assertEqual(self.field("Version"), "3.04")
        self.assertTrue(self.field("Maintainer"))

    def test_dependencies_are_declared_and_exist_on_this_system(self):
        depends = self.field("Depends")
        names = [alt.split("(")[0].strip() for dep in depends.split(",")
                 for alt in dep.split("|")[:1]]
        for required in ("libqt6widgets6", "libqt6core6", "qt6-qpa-plugins", "libc6"):
            self.assertIn(required, names)
        if program_built():
            self.assertIn("libmodbus5", names)
        for name in names:
            status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name],
                                    capture_output=True, text=True).stdout
            self.assertIn("install ok installed", status, name)

    def test_unpacked_package_runs(self):
        with tempfile.TemporaryDirectory() as root:
            subprocess.run(["dpkg-deb", "-x", self.deb, root], check=True)
            self.assertEqual(broken_links(os.path.join(root, "usr/share/doc/pelmoran/help")), [])
            result = subprocess.run([os.path.join(root, "usr/bin/pelmoran-sim"), "--help"],
                                    capture_output=True, text=True, timeout=10)
            self.assertEqual(result.returncode, 0)


class ManualTest(unittest.TestCase):
    def test_source_manual_links_resolve(self):
        resources = os.path.join(SOURCE, "resources")
        self.assertEqual(broken_links(os.path.join(resources, "help"), [resources]), [])

    def test_manual_beside_the_built_program(self):
        if not program_built():
            self.skipTest("the program is not built")
        help_dir = os.path.join(BUILD, "shell", "help")
        self.assertTrue(os.path.isfile(os.path.join(help_dir, "index.html")))
        self.assertEqual(broken_links(help_dir), [])

    def test_link_checker_finds_what_is_broken(self):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "index.html"), "w") as f:
                f.write('<a href="#here">x</a><a href="#gone">y</a><a href="nope.html">z</a>'
                        '<img src="pic.png"><h2 id="here">h</h2><p id="here"></p>')
            problems = broken_links(d)
        self.assertEqual(sorted(problems), sorted([
            "index.html: anchor #gone missing", "index.html: nope.html missing",
            "index.html: pic.png missing", "index.html: id here twice"]))


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main()
