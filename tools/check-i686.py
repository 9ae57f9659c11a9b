#!/usr/bin/env python3
"""Static checks of the 32-bit build for what only 32-bit Windows would show.

  check-i686.py SOURCE_ROOT BUILD_DIR

- Every function the sources declare with a Windows calling convention
  (window, dialog, thread, service and enumeration callbacks, COM methods) is
  compiled as stdcall: its symbols in the i686 objects carry the "@N" of the
  bytes it pops. A cdecl callback works on x86_64 and corrupts the stack on
  32-bit Windows.
- The type library is marked WIN32 and describes stdcall methods.
- The DLLs export the undecorated names of their .def files, and nothing
  decorated.
Prints what it checked; exit status 1 on any failure.
"""
import os
import re
import struct
import subprocess
import sys

CONVENTIONS = r'(?:CALLBACK|WINAPI|APIENTRY|STDMETHODCALLTYPE|STDAPICALLTYPE|__stdcall)'
# "CONV Name(" or "CONV Class::Name(" (definitions and declarations alike).
DECLARED = re.compile(CONVENTIONS + r'\s+(?:(\w+)::)?(\w+)\s*\(')
SOURCE_DIRS = ('host', 'runtime', 'corelib', 'varstore')
TOOL = 'i686-w64-mingw32-'

failures = []


def fail(text):
    failures.append(text)
    print('FAIL ' + text, file=sys.stderr)


def enclosing_class(text, position):
    """The class or struct whose body holds `position`, if any."""
    depth = 0
    i = position
    while i > 0:
        i -= 1
        c = text[i]
        if c == '}':
            depth += 1
        elif c == '{':
            if depth == 0:
                head = text[max(0, i - 300):i]
                m = re.search(r'(?:class|struct)\s+(\w+)[^;{}()]*$', head)
                return m.group(1) if m else None
            depth -= 1
    return None


def declared_functions(root):
    found = set()
    for top in SOURCE_DIRS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith(('.cpp', '.h')):
                    continue
                path = os.path.join(folder, name)
                text = open(path, encoding='utf-8', errors='replace').read()
                for m in DECLARED.finditer(text):
                    cls, func = m.group(1), m.group(2)
                    if func in ('operator',):
                        continue
                    if cls is None and name.endswith('.h'):
                        cls = enclosing_class(text, m.start())
                    found.add((cls, func, os.path.relpath(path, root)))
    return found


def defined_symbols(build):
    objects = []
    for folder, dirs, files in os.walk(build):
        # GoogleTest (built with the tests where 32-bit Wine runs) has
        # methods of the same names that are not ours.
        dirs[:] = [d for d in dirs if d != 'googletest']
        objects += [os.path.join(folder, f) for f in files if f.endswith('.obj')]
    if not objects:
        fail('no i686 objects under ' + build)
        return []
    out = subprocess.run([TOOL + 'nm', '--defined-only'] + objects, capture_output=True, text=True).stdout
    symbols = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in 'Tt':
            symbols.append(parts[2])
    return symbols


def entity_name(symbol):
    """The nested name of a mangled function symbol ("__ZN5CCore5PrintEPw@4"
    gives ["CCore", "Print"]); None for local entities, lambdas and the like."""
    rest = symbol[3:]
    nested = rest.startswith('N')
    if nested:
        rest = rest[1:]
        while rest and rest[0] in 'rVKRO':  # qualifiers of a member function
            rest = rest[1:]
    names = []
    while rest and rest[0].isdigit():
        m = re.match(r'(\d+)', rest)
        length = int(m.group(1))
        rest = rest[m.end():]
        names.append(rest[:length])
        rest = rest[length:]
        if not nested:
            break
    if not names or (nested and not rest.startswith('E')):
        return None
    return names


def mangled_part(name):
    return '%d%s' % (len(name), name)


def check_callbacks(root, build):
    symbols = defined_symbols(build)
    checked = 0
    for cls, func, where in sorted(declared_functions(root), key=lambda d: (d[2], d[1])):
        part = mangled_part(func)
        matches = []
        for s in symbols:
            if s.startswith('__Z'):
                names = entity_name(s)
                if not names or names[-1] != func or (cls and cls not in names[:-1]):
                    continue
            elif not re.fullmatch(r'_' + re.escape(func) + r'(@\d+)?', s):
                continue
            matches.append(s)
        if not matches:
            continue  # declared only (an interface, a platform prototype)
        checked += 1
        for s in matches:
            if not re.search(r'@\d+$', s):
                fail('%s (%s%s) is not stdcall in the i686 objects: %s' %
                     (where, cls + '::' if cls else '', func, s))
    print('stdcall: %d callbacks and COM methods checked' % checked)
    if checked == 0:
        fail('no callback found in the i686 objects')


def check_exports(root, build):
    for dll, deffile in (('QuillmothRun.dll', 'runtime/QuillmothRun.def'),
                         ('QuillmothLib.dll', 'corelib/lib/QuillmothLib.def')):
        path = os.path.join(build, 'bin', dll)
        dump = subprocess.run([TOOL + 'objdump', '-p', path], capture_output=True, text=True).stdout
        table = dump.split('[Ordinal/Name Pointer] Table', 1)
        exported = set(re.findall(r'^\s*\[\s*\d+\]\s+(\S+)', table[1], re.M)) if len(table) == 2 else set()
        wanted = set()
        for line in open(os.path.join(root, deffile)):
            words = line.split()
            if words and words[0] not in ('LIBRARY', 'EXPORTS') and not words[0].startswith(';'):
                wanted.add(words[0])
        for name in sorted(exported):
            if '@' in name or name.startswith('_'):
                fail('%s exports a decorated name: %s' % (dll, name))
        for name in sorted(wanted - exported):
            fail('%s does not export %s' % (dll, name))
        print('exports: %s, %d names, undecorated' % (dll, len(exported)))


def check_type_library(build):
    libraries = []
    for folder, _, files in os.walk(build):
        libraries += [os.path.join(folder, f) for f in files if f.endswith('.tlb')]
    if not libraries:
        fail('no type library under ' + build)
    for path in libraries:
        data = open(path, 'rb').read()
        if data[:4] != b'MSFT':
            fail('%s: not a type library' % path)
            continue
        varflags, nrtypeinfos = struct.unpack_from('<I', data, 20)[0], struct.unpack_from('<i', data, 32)[0]
        syskind = varflags & 0xF
        if syskind != 1:  # SYS_WIN32
            fail('%s: system kind %d, not WIN32' % (path, syskind))
        # After the 0x54-byte header: the help DLL offset (flag 0x100), the
        # type info offsets, then the segment directory; segment 0 holds the
        # 0x64-byte type info records.
        position = 0x54 + (4 if varflags & 0x100 else 0) + 4 * nrtypeinfos
        table_offset = struct.unpack_from('<i', data, position)[0]
        functions = 0
        for index in range(nrtypeinfos):
            base = table_offset + index * 0x64
            memoffset = struct.unpack_from('<i', data, base + 4)[0]
            count = struct.unpack_from('<I', data, base + 24)[0] & 0xFFFF  # cElement: functions
            if memoffset <= 0 or count == 0:
                continue
            record = memoffset + 4
            for _ in range(count):
                size = struct.unpack_from('<I', data, record)[0] & 0xFFFF
                fkccic = struct.unpack_from('<I', data, record + 16)[0]
                callconv = (fkccic >> 8) & 0xF
                if callconv != 4:  # CC_STDCALL
                    fail('%s: type info %d has a method with calling convention %d' % (path, index, callconv))
                functions += 1
                record += size
        if functions == 0:
            fail('%s: no methods found' % path)
        print('type library: %s, WIN32, %d stdcall methods' % (os.path.relpath(path, build), functions))


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    root, build = sys.argv[1], sys.argv[2]
    check_callbacks(root, build)
    check_exports(root, build)
    check_type_library(build)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
