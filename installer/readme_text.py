#!/usr/bin/env python3
"""Writes README.txt for the release: the README's opening and its part for users, as plain text a
user opens in Notepad (CR LF line ends, no Markdown marks).

Usage: python3 installer/readme_text.py README.md VERSION OUTPUT
"""

import re
import sys
from pathlib import Path

USERS_HEADING = "## For users"


def users_part(markdown):
    """The opening paragraphs (before the first "## " heading) and the users' section."""
    lines = markdown.splitlines()
    first_section = next(i for i, line in enumerate(lines) if line.startswith("## "))
    start = lines.index(USERS_HEADING)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    # The title line of the opening is replaced by the versioned one.
    return lines[1:first_section], lines[start + 1:end]


def plain(line):
    """One Markdown line as plain text: links keep their target, emphasis and code marks go."""
    heading = re.match(r"^(#{3,})\s+(.*)$", line)
    if heading:
        text = plain(heading.group(2))
        return f"{text}\n{'-' * len(text)}"
    line = re.sub(r"!\[([^\]]*)\]\(([^)]*)\)", r"\1 (\2)", line)
    line = re.sub(r"\[([^\]]*)\]\(([^)]*)\)",
                  lambda link: link[1] if link[1] == link[2] else f"{link[1]} ({link[2]})", line)
    line = re.sub(r"\*\*([^*]+)\*\*", r"\1", line)
    line = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"\1", line)
    return line.replace("`", "")


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, version, output = argv
    opening, users = users_part(Path(source).read_text(encoding="utf-8"))
    title = f"Ventora {version}"
    body = [title, "=" * len(title), *map(plain, opening), "Using Ventora", "-------------",
            *map(plain, users)]
    text = "\n".join(body).strip() + "\n"
    Path(output).write_bytes(re.sub(r"\n{3,}", "\n\n", text).replace("\n", "\r\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
