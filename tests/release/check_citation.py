# SPDX-License-Identifier: GPL-3.0-or-later
"""CITATION.cff parses as YAML, holds what Citation File Format 1.2 requires
and what the project promises (title, version, licence, repository, the
preferred citation), and names the version CMake's project(VERSION) sets.

Usage: check_citation.py SOURCE_DIR VERSION"""

import os
import sys
import unittest

import yaml

SOURCE, VERSION = sys.argv[1], sys.argv[2]


class Citation(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(SOURCE, "CITATION.cff"), encoding="utf-8") as file:
            self.cff = yaml.safe_load(file)

    def test_required_keys(self):
        for key in ("cff-version", "message", "title", "authors", "version", "license",
                    "repository-code", "preferred-citation"):
            self.assertIn(key, self.cff)
        self.assertEqual(self.cff["cff-version"], "1.2.0")
        self.assertTrue(all("name" in a or "family-names" in a for a in self.cff["authors"]))
        preferred = self.cff["preferred-citation"]
        for key in ("type", "title", "authors"):
            self.assertIn(key, preferred)

    def test_one_version_and_licence(self):
        # YAML reads 1.0.0 as text, but 1.0 as a number: compare as text.
        self.assertEqual(str(self.cff["version"]), VERSION)
        self.assertEqual(str(self.cff["preferred-citation"].get("version", VERSION)), VERSION)
        self.assertEqual(self.cff["license"], "GPL-3.0-or-later")
        with open(os.path.join(SOURCE, "CHANGELOG.md"), encoding="utf-8") as file:
            self.assertIn("## [%s]" % VERSION, file.read())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
