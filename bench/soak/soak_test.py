"""The soak run's own arithmetic and reading of the program's log."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402


class Figures(unittest.TestCase):
    def test_parse_status(self):
        text = "Name:\tpelmoran\nVmPeak:\t  200 kB\nVmRSS:\t   12345 kB\nThreads:\t7\n"
        self.assertEqual(soak.parse_status(text), (12345, 7))

    def test_figures_of_a_live_process(self):
        mine = soak.figures(os.getpid())
        self.assertGreater(mine["rss_kib"], 0)
        self.assertGreaterEqual(mine["fds"], 3)
        self.assertGreaterEqual(mine["threads"], 1)


class Growth(unittest.TestCase):
    def test_growth_per_hour(self):
        cases = [
            ("no samples", [], 0.0),
            ("one sample", [(5, 100)], 0.0),
            ("flat", [(0, 50), (60, 50), (120, 50)], 0.0),
            ("one per second", [(0, 0), (1, 1), (2, 2)], 3600.0),
            ("shrinking", [(0, 3600), (1800, 1800), (3600, 0)], -3600.0),
            # Every sample counts, not only the first and last (which say 3600).
            ("noise around a slope", [(0, 0), (10, 25), (20, 20), (30, 30)], 3060.0),
            ("all at one moment", [(7, 1), (7, 2)], 0.0),
        ]
        for name, samples, expected in cases:
            with self.subTest(name):
                self.assertAlmostEqual(soak.growth_per_hour(samples), expected, places=6)

    def test_table(self):
        samples = [(0, {"rss_kib": 1000, "fds": 20, "threads": 8}),
                   (3600, {"rss_kib": 1500, "fds": 20, "threads": 9})]
        lines = soak.table("pelmoran", samples)
        self.assertEqual([line.split() for line in lines[1:]],
                         [["RSS", "(KiB)", "1000", "1500", "+500.0"],
                          ["descriptors", "20", "20", "+0.0"],
                          ["threads", "8", "9", "+1.0"]])


class Log(unittest.TestCase):
    def test_reconnections(self):
        t = "2026-01-01T00:00:00.000 pelmoran: "
        cases = [
            ("never lost", ["endpoint CYCLED connected"], 0),
            ("lost and back twice",
             ["endpoint CYCLED connected", "endpoint CYCLED not connected",
              "endpoint CYCLED connected", "endpoint CYCLED not connected",
              "endpoint CYCLED connected"], 2),
            ("lost at the end", ["endpoint CYCLED connected", "endpoint CYCLED not connected"], 0),
            ("another endpoint's lines do not count",
             ["endpoint STEADY not connected", "endpoint CYCLED connected",
              "endpoint CYCLED2 not connected", "endpoint STEADY connected"], 0),
            ("scan lines between", ["endpoint CYCLED not connected",
                                    "scan cycled-demo-memory.scn on CYCLED: POLL TIMEOUT",
                                    "endpoint CYCLED connected"], 1),
        ]
        for name, lines, expected in cases:
            with self.subTest(name):
                log = "".join(t + line + "\n" for line in lines)
                self.assertEqual(soak.reconnections(log, "CYCLED"), expected)


if __name__ == "__main__":
    unittest.main()
