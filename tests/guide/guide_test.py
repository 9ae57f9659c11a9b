#!/usr/bin/env python3
"""The assembled user's guide: every link and image of every page resolves
inside the guide (the file exists and so does the #fragment in it; no page
links outside the guide), every page is reachable from the contents, and the
reference generator refuses an interface and texts that have drifted apart.

    guide_test.py --guide bin/Guide --source guide --idl QuillmothLib.idl --generator make-reference.py
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from html.parser import HTMLParser
from urllib.parse import unquote

ARGS = None
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


class PageReader(HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.duplicates, self.links = set(), [], []

    def handle_starttag(self, tag, attributes):
        for name, value in attributes:
            if name == "id":
                if value in self.ids:
                    self.duplicates.append(value)
                self.ids.add(value)
            elif name in ("href", "src") and value is not None:
                self.links.append((tag, value))


def read_pages(folder):
    pages = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".html"):
            reader = PageReader()
            with open(os.path.join(folder, name), encoding="utf-8") as page:
                reader.feed(page.read())
            pages[name] = reader
    return pages


def link_problems(folder):
    """Every fault of the guide's links, as readable lines."""
    pages = read_pages(folder)
    problems, reached = [], {"index.html"}
    root = os.path.realpath(folder)
    for name, page in pages.items():
        problems += ["%s: id %r twice" % (name, i) for i in page.duplicates]
        for tag, link in page.links:
            # No link leaves the guide: it must read the same without a network.
            if SCHEME.match(link) or link.startswith("//"):
                problems.append("%s: <%s> leads outside the guide: %s" % (name, tag, link))
                continue
            path, _, fragment = link.partition("#")
            target = os.path.normpath(os.path.join(os.path.dirname(name), unquote(path))) if path else name
            full = os.path.realpath(os.path.join(folder, target))
            if not full.startswith(root + os.sep) or not os.path.isfile(full):
                problems.append("%s: <%s> %s: no such file in the guide" % (name, tag, link))
                continue
            reached.add(target)
            if fragment and (target not in pages or fragment not in pages[target].ids):
                problems.append("%s: <%s> %s: no id %r in %s" % (name, tag, link, fragment, target))
    problems += ["%s is not reachable from any page" % n for n in sorted(set(pages) - reached)]
    return problems


class GuideLinks(unittest.TestCase):
    def test_every_link_resolves_inside_the_guide(self):
        self.assertTrue(os.path.isfile(os.path.join(ARGS.guide, "index.html")), ARGS.guide)
        self.assertEqual([], link_problems(ARGS.guide))

    def test_a_missing_anchor_or_page_is_found(self):
        with tempfile.TemporaryDirectory() as broken:
            for name in os.listdir(ARGS.guide):
                shutil.copy(os.path.join(ARGS.guide, name), broken)
            with open(os.path.join(broken, "index.html"), "a", encoding="utf-8") as page:
                page.write('<a href="cron.html#no-such-part">x</a><a href="gone.html">y</a>'
                           '<a href="http://example.com/">z</a><img src="../outside.png">')
            problems = "\n".join(link_problems(broken))
            for expected in ("no id 'no-such-part'", "gone.html: no such file",
                             "leads outside the guide: http://example.com/", "../outside.png: no such file"):
                self.assertIn(expected, problems)


class GeneratorRefusesDrift(unittest.TestCase):
    def generate(self, idl_text=None, texts=None):
        with tempfile.TemporaryDirectory() as work:
            source = os.path.join(work, "guide")
            shutil.copytree(ARGS.source, source)
            idl = ARGS.idl
            if idl_text is not None:
                idl = os.path.join(work, "changed.idl")
                with open(idl, "w", encoding="utf-8") as f:
                    f.write(idl_text)
            if texts is not None:
                with open(os.path.join(source, "core-methods.txt"), "w", encoding="utf-8") as f:
                    f.write(texts)
            run = subprocess.run([sys.executable, ARGS.generator, "--idl", idl, "--source", source,
                                  "--out", os.path.join(work, "out"), "--version", "9.9.9"],
                                 capture_output=True, text=True)
            return run.returncode, run.stderr

    def read(self, path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    def test_the_sources_as_they_are_build(self):
        self.assertEqual((0, ""), self.generate())

    def test_a_method_added_to_the_interface_needs_a_text(self):
        idl = self.read(ARGS.idl).replace(
            "  };\n\n  [\n",
            '    [id(47), helpstring("method Added")] HRESULT Added([in] long value, [out, retval] long *pVal);\n'
            "  };\n\n  [\n", 1)
        self.assertIn("Added(", idl)
        code, error = self.generate(idl_text=idl)
        self.assertNotEqual(0, code)
        self.assertIn("without a text in core-methods.txt: Added", error)

    def test_a_text_for_a_removed_method_or_parameter_fails(self):
        idl = re.sub(r"^.*HRESULT FtpTest\(.*\n", "", self.read(ARGS.idl), flags=re.M)
        code, error = self.generate(idl_text=idl)
        self.assertNotEqual(0, code)
        self.assertIn("does not have: FtpTest", error)

        renamed = self.read(ARGS.idl).replace("[in] BSTR newname", "[in] BSTR newName")
        code, error = self.generate(idl_text=renamed)
        self.assertNotEqual(0, code)
        self.assertIn("FtpRename has no parameter newname", error)
        self.assertIn("parameter newName of FtpRename has no text", error)

    def test_a_failure_value_is_required_and_must_fit_the_result(self):
        texts = self.read(os.path.join(ARGS.source, "core-methods.txt"))
        without = re.sub(r"^@failure -1 when <code>hMsg</code>.*\n", "", texts, count=1, flags=re.M)
        self.assertNotEqual(texts, without)
        code, error = self.generate(texts=without)
        self.assertNotEqual(0, code)
        self.assertIn("GetMessageId has no @failure", error)

        wrong = texts.replace("@failure -1 when <code>hMsg</code>", '@failure "" when <code>hMsg</code>', 1)
        code, error = self.generate(texts=wrong)
        self.assertNotEqual(0, code)
        self.assertIn('GetMessageId: failure value "" is no Long', error)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--guide", "--source", "--idl", "--generator"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
