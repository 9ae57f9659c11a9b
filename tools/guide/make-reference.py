#!/usr/bin/env python3
"""Assembles the user's guide: the hand-written pages of guide/ and the
reference of the Core object, generated from the interface definition so that
names, parameters and types always are those of the built library.

    make-reference.py --idl QuillmothLib.idl --source guide --out bin/Guide --version 1.0.0

The per-method texts live in guide/core-methods.txt, keyed by method name.
A method of the interface without a text, a text for a method the interface
no longer has, a parameter without a text, a text for a parameter the
method does not have, or a result without its failure value (or one that is
no value of the result's type) fails the build. The failure values are
written into the page (data-value) for the tests that check them against the
built library.
"""
import argparse
import html
import os
import re
import shutil
import sys

METHOD_TEXTS = "core-methods.txt"
REFERENCE_TEMPLATE = "reference.html.in"
REFERENCE_PAGE = "reference.html"

# Automation types as scripts see them.
TYPE_NAMES = {
    "short": "Integer",
    "long": "Long",
    "VARIANT_BOOL": "Boolean",
    "BSTR": "String",
    "VARIANT": "Variant",
}

METHOD_LINE = re.compile(r'^\s*\[id\((\d+)\)[^\]]*\]\s*HRESULT\s+(\w+)\s*\((.*)\)\s*;\s*$')
PARAMETER = re.compile(r'^(?:\[([^\]]*)\])?\s*(\w+)\s*(\*?)\s*(\w+)$')


class GuideError(Exception):
    pass


def split_parameters(text):
    """The parameter declarations of a method; attribute lists hold commas
    too, so only commas outside brackets separate."""
    parts, depth, current = [], 0, ""
    for ch in text:
        if ch == "[":
            depth += 1
        elif ch == "]":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def parse_idl(path):
    """The methods of ICore in table order: (dispid, name, inputs, result)."""
    methods = []
    in_interface = False
    with open(path, encoding="utf-8") as idl:
        for number, line in enumerate(idl, 1):
            if re.match(r'^\s*interface\s+ICore\b', line):
                in_interface = True
                continue
            if in_interface and line.strip().startswith("};"):
                break
            if not in_interface:
                continue
            match = METHOD_LINE.match(line)
            if not match:
                if "HRESULT" in line:
                    raise GuideError("%s:%d: a method line this script cannot read" % (path, number))
                continue
            dispid, name, parameter_text = int(match.group(1)), match.group(2), match.group(3).strip()
            inputs, result = [], None
            for part in split_parameters(parameter_text):
                p = PARAMETER.match(part)
                if not p:
                    raise GuideError("%s:%d: parameter %r of %s cannot be read" % (path, number, part, name))
                attributes = [a.strip() for a in (p.group(1) or "").split(",")]
                type_name = p.group(2)
                if type_name not in TYPE_NAMES:
                    raise GuideError("%s:%d: type %s of %s has no name for scripts" % (path, number, type_name, name))
                if "retval" in attributes:
                    result = (p.group(4), type_name)
                else:
                    inputs.append((p.group(4), type_name))
            methods.append((dispid, name, inputs, result))
    if not methods:
        raise GuideError("%s: no methods of ICore found" % path)
    return methods


def parse_texts(path):
    """Groups in page order, each (id, title, intro, [method names]); and for
    each method {description, result, example, params}."""
    groups, texts = [], {}
    current = None
    section = None
    with open(path, encoding="utf-8") as source:
        for number, raw in enumerate(source, 1):
            line = raw.rstrip("\n")
            if line.startswith("#"):
                continue
            if line.startswith("@group "):
                fields = line[len("@group "):].split(None, 1)
                if len(fields) != 2:
                    raise GuideError("%s:%d: @group needs an id and a title" % (path, number))
                groups.append({"id": fields[0], "title": fields[1], "intro": [], "methods": []})
                current, section = None, "intro"
                continue
            if line.startswith("@method "):
                name = line[len("@method "):].strip()
                if not groups:
                    raise GuideError("%s:%d: method %s before any @group" % (path, number, name))
                if name in texts:
                    raise GuideError("%s:%d: a second text for %s" % (path, number, name))
                current = {"description": [], "result": [], "failure": [], "example": [], "params": {}, "line": number}
                texts[name] = current
                groups[-1]["methods"].append(name)
                section = "description"
                continue
            if line.startswith("@param "):
                fields = line[len("@param "):].split(None, 1)
                if current is None or len(fields) != 2:
                    raise GuideError("%s:%d: @param needs a method, a name and a text" % (path, number))
                current["params"][fields[0]] = [fields[1]]
                section = ("param", fields[0])
                continue
            directive = line.split(None, 1)[0] if line.strip() else ""
            if directive in ("@result", "@failure", "@example"):
                if current is None:
                    raise GuideError("%s:%d: %s outside a method" % (path, number, directive))
                section = directive[1:]
                rest = line[len(directive):].strip()
                if rest:
                    current[section].append(rest)
                continue
            if line.startswith("@"):
                raise GuideError("%s:%d: unknown directive %s" % (path, number, line.split()[0]))
            if current is None:
                if groups:
                    groups[-1]["intro"].append(line)
                elif line.strip():
                    raise GuideError("%s:%d: text before the first @group" % (path, number))
            elif isinstance(section, tuple):
                current["params"][section[1]].append(line)
            else:
                current[section].append(line)
    return groups, texts


def joined(lines):
    return "\n".join(lines).strip()


FAILURE_VALUE = re.compile(r'^(none\b:?|-?\d+\b|True\b|False\b|""(?=\s|$))\s*(.*)$', re.S)

# Which failure values a result of each type can have; the truth values of
# Long results are the script's True (-1) and False (0).
FAILURE_FITS = {
    "short": lambda v: re.match(r'^-?\d+$', v),
    "long": lambda v: re.match(r'^(-?\d+|True|False)$', v),
    "VARIANT_BOOL": lambda v: v in ("True", "False"),
    "BSTR": lambda v: v == '""',
    "VARIANT": lambda v: True,
}


def failure_of(name, result, text):
    """(value, when) of the method's @failure; value None for "none"."""
    failure = joined(text["failure"])
    if not result:
        if failure:
            raise GuideError("%s answers nothing and cannot have a failure value" % name)
        return None, ""
    if not failure:
        raise GuideError("%s has no @failure (its value on failure, or none)" % name)
    match = FAILURE_VALUE.match(failure)
    if not match:
        raise GuideError("%s: @failure must begin with a number, True, False, \"\" or none" % name)
    value, when = match.group(1).rstrip(":"), match.group(2).strip()
    if value == "none":
        return None, when
    if not FAILURE_FITS[result[1]](value):
        raise GuideError("%s: failure value %s is no %s" % (name, value, TYPE_NAMES[result[1]]))
    if not when:
        raise GuideError("%s: @failure %s needs the case in which it is answered" % (name, value))
    return value, when


def call_form(name, inputs, result):
    arguments = ", ".join(p for p, _ in inputs)
    if result:
        target = "result" if result[0] == "pVal" else result[0]
        return "%s = core.%s(%s)" % (target, name, arguments)
    return ("core.%s %s" % (name, arguments)).rstrip()


def render_method(dispid, name, inputs, result, text):
    out = ['<section class="method" id="%s">' % name,
           '<h3>%s</h3>' % name,
           '<p class="call"><code>%s</code></p>' % html.escape(call_form(name, inputs, result))]
    if inputs:
        out.append('<table class="parameters"><tr><th>Parameter</th><th>Type</th><th>Meaning</th></tr>')
        for parameter, type_name in inputs:
            meaning = joined(text["params"].get(parameter, []))
            out.append('<tr><td><code>%s</code></td><td>%s</td><td>%s</td></tr>'
                       % (parameter, TYPE_NAMES[type_name], meaning))
        out.append('</table>')
    else:
        out.append('<p class="parameters">No parameters.</p>')
    out.append(joined(text["description"]))
    result_text = joined(text["result"])
    if result:
        if not result_text:
            raise GuideError("%s has no text for its result" % name)
        out.append('<p class="result"><strong>Result</strong> (%s): %s</p>' % (TYPE_NAMES[result[1]], result_text))
    elif result_text:
        out.append('<p class="result"><strong>Result</strong>: %s</p>' % result_text)
    value, when = failure_of(name, result, text)
    if value is not None:
        out.append('<p class="failure" data-value="%s"><strong>On failure</strong>: <code>%s</code> %s</p>'
                   % (html.escape(value), html.escape(value), when))
    elif when:
        out.append('<p class="failure"><strong>On failure</strong>: %s</p>' % when)
    example = joined(text["example"])
    if not example:
        raise GuideError("%s has no example" % name)
    out.append('<pre class="example">%s</pre>' % html.escape(example))
    out.append('<p class="dispid">Dispatch id %d. <a href="#methods">Back to the list</a></p>' % dispid)
    out.append('</section>')
    return "\n".join(out)


def build_reference(methods, groups, texts):
    by_name = {m[1]: m for m in methods}
    missing = [m[1] for m in methods if m[1] not in texts]
    unknown = [n for n in texts if n not in by_name]
    problems = []
    if missing:
        problems.append("methods of the interface without a text in %s: %s" % (METHOD_TEXTS, ", ".join(missing)))
    if unknown:
        problems.append("texts in %s for methods the interface does not have: %s" % (METHOD_TEXTS, ", ".join(unknown)))
    for name, text in texts.items():
        if name in by_name:
            names = {p for p, _ in by_name[name][2]}
            for parameter in text["params"]:
                if parameter not in names:
                    problems.append("%s has no parameter %s" % (name, parameter))
            for parameter, _ in by_name[name][2]:
                if parameter not in text["params"]:
                    problems.append("parameter %s of %s has no text" % (parameter, name))
    if problems:
        raise GuideError("; ".join(problems))

    index = ['<table class="method-index"><tr><th>Method</th><th>Topic</th></tr>']
    group_of = {n: g for g in groups for n in g["methods"]}
    for name in sorted(by_name, key=str.lower):
        group = group_of[name]
        index.append('<tr><td><a href="#%s"><code>%s</code></a></td><td><a href="#%s">%s</a></td></tr>'
                     % (name, name, group["id"], html.escape(group["title"])))
    index.append('</table>')

    body = []
    for group in groups:
        body.append('<h2 id="%s">%s</h2>' % (group["id"], html.escape(group["title"])))
        intro = joined(group["intro"])
        if intro:
            body.append(intro)
        for name in group["methods"]:
            dispid, _, inputs, result = by_name[name]
            body.append(render_method(dispid, name, inputs, result, texts[name]))
    return "\n".join(index), "\n".join(body)


def substitute(text, version):
    return text.replace("@VERSION@", version)


def assemble(idl, source, out, version):
    methods = parse_idl(idl)
    groups, texts = parse_texts(os.path.join(source, METHOD_TEXTS))
    index, body = build_reference(methods, groups, texts)
    with open(os.path.join(source, REFERENCE_TEMPLATE), encoding="utf-8") as template:
        page = template.read()
    for placeholder in ("@METHOD_INDEX@", "@METHODS@"):
        if placeholder not in page:
            raise GuideError("%s has no %s" % (REFERENCE_TEMPLATE, placeholder))
    page = page.replace("@METHOD_INDEX@", index).replace("@METHODS@", body)

    os.makedirs(out, exist_ok=True)
    written = set()
    for name in sorted(os.listdir(source)):
        path = os.path.join(source, name)
        if name in (METHOD_TEXTS, REFERENCE_TEMPLATE) or not os.path.isfile(path):
            continue
        if name.endswith((".html", ".css")):
            with open(path, encoding="utf-8") as f:
                text = substitute(f.read(), version)
            with open(os.path.join(out, name), "w", encoding="utf-8", newline="\r\n") as f:
                f.write(text)
        else:
            shutil.copyfile(path, os.path.join(out, name))
        written.add(name)
    with open(os.path.join(out, REFERENCE_PAGE), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(substitute(page, version))
    written.add(REFERENCE_PAGE)
    # The folder holds exactly this guide: a page removed from the sources
    # must not linger in the package.
    for name in os.listdir(out):
        if name not in written and os.path.isfile(os.path.join(out, name)):
            os.remove(os.path.join(out, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--idl", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    try:
        assemble(args.idl, args.source, args.out, args.version)
    except (GuideError, OSError) as error:
        print("make-reference: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
