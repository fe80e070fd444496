#!/usr/bin/env python3
"""Makes a manual page from its template and the program's own --help texts.

usage: make_manual.py PROGRAM TEMPLATE OUTPUT VERSION

The template's @VERSION@ becomes VERSION, @HELP@ the program's --help text,
and @COMMANDS@ one subsection per command that the --help text lists under
"Commands:", holding that command's own --help text.
"""
import os
import re
import subprocess
import sys


def help_text(program, *arguments):
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    done = subprocess.run([program, *arguments, "--help"], capture_output=True, text=True,
                          env=environment, check=False)
    if done.returncode != 0 or not done.stdout.strip():
        sys.exit(f"make_manual: {program} {' '.join(arguments)} --help failed: {done.stderr}")
    return done.stdout


def roff_block(text):
    """TEXT as lines set as they stand, safe from roff's own meanings."""
    lines = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e").replace("-", "\\-")
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return ".nf\n" + "\n".join(lines) + "\n.fi"


def listed_commands(overview):
    """The commands in the order the overview's "Commands:" section names them."""
    commands = []
    in_section = False
    for line in overview.split("\n"):
        if line.startswith("Commands:"):
            in_section = True
            continue
        if in_section:
            if not line.strip():
                break
            match = re.match(r"^  ([a-z][a-z-]*)\b", line)
            if match and match.group(1) not in commands:
                commands.append(match.group(1))
    return commands


def main():
    program, template, output, version = sys.argv[1:5]
    with open(template, encoding="utf-8") as source:
        page = source.read()
    page = page.replace("@VERSION@", version)
    if "@HELP@" in page:
        page = page.replace("@HELP@", roff_block(help_text(program)))
    if "@COMMANDS@" in page:
        sections = []
        for command in listed_commands(help_text(program)):
            sections.append(f".SS {command}\n" + roff_block(help_text(program, command)))
        page = page.replace("@COMMANDS@", "\n".join(sections))
    with open(output, "w", encoding="utf-8") as target:
        target.write(page)


if __name__ == "__main__":
    main()
