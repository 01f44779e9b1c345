"""Turns chosen sections of README.md into a plain text that Notepad shows well:
the title and its first paragraph, then each chosen "## " section in the
README's order, with headings underlined, code blocks indented, tables as
aligned columns, code in the text without backticks (quoted when it holds a
blank), bold text plain, and links as their quoted text (or "text (url)"
for web addresses). Lines end with CR LF.

    readme_text.py README.md OUTPUT "Section title" ["Section title" ...]
"""
import re
import sys

LINK = re.compile(r"\[([^\]]+)\]\(([^)]+)\)")
CODE = re.compile(r"`([^`]+)`")
BOLD = re.compile(r"\*\*([^*]+)\*\*")


def inline(text):
    def link(match):
        label, target = match.group(1), match.group(2)
        return '"%s"' % label if target.startswith("#") else "%s (%s)" % (label, target)
    def code(match):
        # Quoted when it holds a blank, so that its ends stay visible.
        text = match.group(1)
        return '"%s"' % text if any(c.isspace() for c in text) else text
    return BOLD.sub(r"\1", CODE.sub(code, LINK.sub(link, text)))


def table(rows):
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows
             if not re.fullmatch(r"\|?[\s|:-]+\|?", row.strip())]
    widths = [max(len(row[i]) for row in cells if i < len(row)) for i in range(len(cells[0]))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


def render(lines):
    out = []
    paragraph = []  # plain lines, taken together: inline code may span a line end

    def flush():
        if paragraph:
            out.extend(inline("\n".join(paragraph)).split("\n"))
            paragraph.clear()

    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.lstrip()
        if stripped.startswith("```"):
            flush()
            indent = len(line) - len(stripped)
            i += 1
            while i < len(lines) and not lines[i].lstrip().startswith("```"):
                out.append(" " * (indent + 4) + lines[i][indent:] if lines[i].strip() else "")
                i += 1
        elif stripped.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].lstrip().startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
            continue
        elif line.startswith("#"):
            flush()
            level, title = len(line) - len(line.lstrip("#")), line.lstrip("#").strip()
            out += [title, ("=" if level <= 2 else "-") * len(title)]
        elif not line.strip():
            flush()
            out.append("")
        else:
            paragraph.append(line)
        i += 1
    flush()
    return out


def main():
    source, target, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(source, encoding="utf-8") as f:
        text = f.read().split("\n")
    # The title, its first paragraph, then the sections by their "## " headings.
    starts = [i for i, line in enumerate(text) if line.startswith("## ")] + [len(text)]
    first_break = text.index("", 2)
    parts = [render(text[:first_break])]
    found = set()
    for start, end in zip(starts, starts[1:]):
        title = text[start][3:].strip()
        if title in wanted:
            found.add(title)
            parts.append(render(text[start:end]))
    missing = [title for title in wanted if title not in found]
    if missing:
        sys.exit("no such section in %s: %s" % (source, ", ".join(missing)))
    lines = [line.rstrip() for part in parts for line in part + [""]]
    while lines and not lines[-1]:
        lines.pop()
    with open(target, "w", encoding="utf-8", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main()
