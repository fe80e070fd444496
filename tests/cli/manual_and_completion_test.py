#!/usr/bin/env python3
"""The manual pages list the options --help lists, and the bash completion
offers commands, options and stored connection names.

usage: manual_and_completion_test.py VAULTWICK VAULTWICK_1_GZ DESKTOP DESKTOP_1_GZ COMPLETION
"""
import gzip
import os
import re
import subprocess
import sys
import tempfile
import unittest

VAULTWICK, VAULTWICK_PAGE, DESKTOP, DESKTOP_PAGE, COMPLETION = sys.argv[1:6]
OPTION = re.compile(r"--[a-z][a-z-]*")


def run(*arguments, **extra):
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", **extra)
    return subprocess.run(arguments, capture_output=True, text=True, env=environment,
                          check=True).stdout


def page_text(path):
    """The page as roff source with its minus signs plain again."""
    with gzip.open(path, "rt", encoding="utf-8") as page:
        return page.read().replace("\\-", "-")


def sections(text):
    """{'.SS' title: body} and the text outside every '.SS' of the COMMANDS section."""
    parts = re.split(r"^\.S([SH]) (.*)$", text, flags=re.M)
    subsections, outside = {}, parts[0]
    for kind, title, body in zip(parts[1::3], parts[2::3], parts[3::3]):
        if kind == "S":
            subsections[title] = body
        else:
            outside += body
    return subsections, outside


class Manual(unittest.TestCase):
    def test_each_command_lists_the_options_of_its_help(self):
        subsections, outside = sections(page_text(VAULTWICK_PAGE))
        self.assertIn("backup", subsections)
        known = {"--help", "--version"}
        for command, body in subsections.items():
            options = set(OPTION.findall(run(VAULTWICK, command, "--help")))
            self.assertEqual(set(OPTION.findall(body)), options, command)
            known |= options
        # The prose and the examples name no option the program does not take
        # (the example's systemctl line has options of its own).
        ours = "\n".join(line for line in outside.split("\n") if not line.startswith("systemctl"))
        self.assertLessEqual(set(OPTION.findall(ours)), known)

    def test_the_desktop_page_lists_the_options_of_its_help(self):
        help_options = set(OPTION.findall(run(DESKTOP, "--help")))
        self.assertIn("--tray", help_options)
        self.assertEqual(set(OPTION.findall(page_text(DESKTOP_PAGE))), help_options)


class Completion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.store = os.path.join(cls.folder.name, "settings.sqlite")
        for name in ("shop", "New Connection"):
            run(VAULTWICK, "connections", "add", name, "--store", cls.store)

    def offers(self, line):
        """What Tab offers after LINE, one reply per line."""
        script = f"""
source /usr/share/bash-completion/bash_completion
source {COMPLETION!r}
COMP_LINE={line!r}
COMP_POINT=${{#COMP_LINE}}
read -r -a COMP_WORDS <<< "$COMP_LINE"
[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1))
_vaultwick
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
        folder = os.path.dirname(VAULTWICK)
        output = run("bash", "-c", script, PATH=folder + os.pathsep + os.environ["PATH"],
                     VAULTWICK_STORE=self.store)
        return [line for line in output.split("\n") if line]

    def test_commands_options_and_names(self):
        self.assertEqual(self.offers("vaultwick ba"), ["backup"])
        self.assertIn("--connection", self.offers("vaultwick backup --con"))
        self.assertEqual(sorted(self.offers("vaultwick backup --connection ")),
                         ["New\\ Connection", "shop"])
        self.assertEqual(self.offers("vaultwick connections show sh"), ["shop"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
