#!/usr/bin/env python3
"""Writes the manual page filedist.1 from cli/command_help.def.

The same table gives the program its --help texts and its option table, so
the page cannot name an option the program does not take, nor miss one it
does. The build runs this on the build machine (a cross build too), as
    make_man_page.py command_help.def VERSION filedist.1
"""
import re
import sys

KINDS = {
    "FILEDIST_PROGRAM_TEXT": 1, "FILEDIST_COMMAND": 2, "FILEDIST_FORM": 1,
    "FILEDIST_TEXT": 1, "FILEDIST_EXAMPLE": 1, "FILEDIST_OPTION": 3,
    "FILEDIST_EXIT": 2, "FILEDIST_SECTION": 1, "FILEDIST_ENTRY": 2,
}

TOKEN = re.compile(r'''
    (?P<space>\s+) | (?P<comment>//[^\n]*|/\*.*?\*/) |
    (?P<string>"(?:[^"\\\n]|\\.)*") | (?P<name>[A-Za-z_][A-Za-z_0-9]*) |
    (?P<punct>[(),])''', re.S | re.X)

ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def fail(message):
    sys.exit("make_man_page.py: " + message)


def unquote(literal):
    body = literal[1:-1]
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1)) or fail(
        "unknown escape \\" + m.group(1)), body)


def tokens(text):
    position = 0
    while position < len(text):
        match = TOKEN.match(text, position)
        if not match:
            fail("cannot read the table at: " + text[position:position + 40])
        position = match.end()
        if match.lastgroup not in ("space", "comment"):
            yield match.lastgroup, match.group()


def read_table(path):
    """The table's entries in order, as (macro, [argument, ...])."""
    with open(path, encoding="utf-8") as table:
        stream = list(tokens(table.read())) + [("end", "")]
    entries = []
    i = 0
    while stream[i][0] != "end":
        kind, macro = stream[i]
        if kind != "name" or macro not in KINDS or stream[i + 1] != ("punct", "("):
            fail("expected an entry at '%s'" % macro)
        i += 2
        arguments = [""]
        while stream[i] != ("punct", ")"):
            kind, value = stream[i]
            if kind == "string":
                arguments[-1] += unquote(value)
            elif (kind, value) == ("punct", ","):
                arguments.append("")
            else:
                fail("unexpected '%s' in %s" % (value, macro))
            i += 1
        i += 1
        if len(arguments) != KINDS[macro]:
            fail("%s takes %d arguments: %s" % (macro, KINDS[macro], arguments))
        entries.append((macro, arguments))
    return entries


def escape(text):
    """Text for roff: backslashes and hyphens as such (so that options can be
    copied from the page), nothing taken for a request."""
    return text.replace("\\", "\\e").replace("-", "\\-")


def line_start(line):
    return "\\&" + line if line[:1] in (".", "'") else line


def filled(text, width=72):
    """A paragraph as roff input lines; roff fills them again."""
    lines, current = [], ""
    for word in escape(text).split():
        if current and len(current) + 1 + len(word) > width:
            lines.append(line_start(current))
            current = word
        else:
            current = current + " " + word if current else word
    if current:
        lines.append(line_start(current))
    return "\n".join(lines)


def option_tag(name, argument):
    tag = "\\fB\\-\\-%s\\fR" % escape(name)
    return tag + (" \\fI%s\\fR" % escape(argument) if argument else "")


def synopsis(command, form, options):
    out = [".SY \"filedist %s\"" % command]
    for word in form.split():
        # Capitals name what the user gives; the rest is typed as it stands.
        out.append((".I " if word.rstrip(".").isupper() else ".B ") + escape(word))
    named = set(word.strip("[]") for word in form.split())
    for name, argument, _ in options:
        # A form that names the option already shows how it goes there.
        if "--" + name in named:
            continue
        out.append(".OP \\-\\-%s%s" % (escape(name), " " + escape(argument) if argument else ""))
    out.append(".YS")
    return out


def page(entries, version):
    out = [
        '.\\" The manual page of filedist, written by cli/make_man_page.py from',
        '.\\" cli/command_help.def: change that table, not this page.',
        '.TH FILEDIST 1 "" "filedist %s" "User Commands"' % version,
        # Names of files and options broken across lines would not be found
        # by a search of the page. The man macros turn hyphenation on again
        # at each paragraph unless HY says otherwise.
        ".nr HY 0",
        ".nh",
        ".SH NAME",
        "filedist \\- build releases of a folder file by file and bring "
        "installations up to them",
    ]
    commands = []  # (name, summary, forms, options, items)
    program_text = []
    sections = []  # (title, items)
    for name, arguments in entries:
        if name == "FILEDIST_PROGRAM_TEXT":
            program_text.append(arguments[0])
        elif name == "FILEDIST_COMMAND":
            commands.append((arguments[0], arguments[1], [], [], []))
        elif name == "FILEDIST_SECTION":
            sections.append((arguments[0], []))
        elif sections:
            sections[-1][1].append((name, arguments))
        elif not commands:
            fail("%s before the first command" % name)
        elif name == "FILEDIST_FORM":
            commands[-1][2].append(arguments[0])
        else:
            if name == "FILEDIST_OPTION":
                commands[-1][3].append(arguments)
            commands[-1][4].append((name, arguments))

    out.append(".SH SYNOPSIS")
    for command, _, forms, options, _ in commands:
        for form in forms:
            out += synopsis(command, form, options)
    out.append(".SY filedist")
    out.append(".B \\-\\-version")
    out.append(".YS")
    out.append(".SY filedist")
    out.append("[\\fICOMMAND\\fR]")
    out.append(".B \\-\\-help")
    out.append(".YS")

    out.append(".SH DESCRIPTION")
    for text in program_text:
        out += [".PP", filled(text)]

    out.append(".SH COMMANDS")
    for command, summary, forms, options, items in commands:
        out.append('.SS "filedist %s"' % command)
        out += [".PP", filled(summary[0].upper() + summary[1:] + ".")]
        exits = [arguments for name, arguments in items if name == "FILEDIST_EXIT"]
        out += render_items(items)
        if exits:
            out += [".PP", "Exit status:", ".RS", ".PD 0"]
            for status, meaning in exits:
                out += [".TP 4n", ".B " + escape(status), filled(meaning)]
            out += [".PD", ".RE"]

    for title, items in sections:
        out.append('.SH "%s"' % title)
        out += render_items(items)
    return "\n".join(out) + "\n"


def render_items(items):
    out = []
    for name, arguments in items:
        if name in ("FILEDIST_OPTION", "FILEDIST_ENTRY"):
            if name == "FILEDIST_OPTION":
                tag = option_tag(arguments[0], arguments[1])
                text = arguments[2]
            else:
                tag = "\\fB%s\\fR" % escape(arguments[0])
                text = arguments[1]
            out += [".TP", tag, filled(text)]
            continue
        if name == "FILEDIST_TEXT":
            out += [".PP", filled(arguments[0])]
        elif name == "FILEDIST_EXAMPLE":
            out += [".PP", ".RS", ".nf"]
            out += [line_start(escape(line)) for line in arguments[0].split("\n")]
            out += [".fi", ".RE"]
    return out


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: make_man_page.py command_help.def VERSION OUTPUT")
    text = page(read_table(sys.argv[1]), sys.argv[2])
    with open(sys.argv[3], "w", encoding="utf-8", newline="\n") as output:
        output.write(text)


if __name__ == "__main__":
    main()
