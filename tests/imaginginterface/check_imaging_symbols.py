#!/usr/bin/env python3
"""Fails when the integrations library imports anything of the imaging libraries beyond the
operations it is allowed to call.

    check_imaging_symbols.py --nm NM --cxxfilt CXXFILT --library LIB --allowed LIST IMAGING_LIB...

The application ships its own imaging libraries; the ones built here only stand in for them. A
symbol that only the stand-ins define links here and fails against the application's, so every
symbol that LIB leaves undefined and an imaging library defines must be named in LIST.
"""

import argparse
import subprocess
import sys

QOBJECT_MEMBERS = (
    "{c}::~{c}()",
    "{c}::staticMetaObject",
    "{c}::metaObject() const",
    "{c}::qt_metacast(char const*)",
    "{c}::qt_metacall(QMetaObject::Call, int, void**)",
    "vtable for {c}",
    "typeinfo for {c}",
    "typeinfo name for {c}",
)


def dynamic_symbols(nm, library, which):
    """Mangled names of the library's dynamic symbols, `which` being --defined-only or
    --undefined-only; version suffixes (name@VERSION) are dropped."""
    out = subprocess.run([nm, "-D", which, library], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        fields = line.split()
        if fields:
            names.add(fields[-1].split("@")[0])
    return names


def demangled(cxxfilt, names):
    ordered = sorted(names)
    out = subprocess.run([cxxfilt], input="\n".join(ordered) + "\n", check=True,
                         capture_output=True, text=True).stdout
    return dict(zip(ordered, out.splitlines()))


def allowed_names(path):
    allowed = set()
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("qobject "):
                cls = line.split(None, 1)[1]
                allowed.update(member.format(c=cls) for member in QOBJECT_MEMBERS)
            else:
                allowed.add(line)
    return allowed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", required=True)
    parser.add_argument("--cxxfilt", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--allowed", required=True)
    parser.add_argument("imaging", nargs="+")
    args = parser.parse_args()

    defined = set()
    for library in args.imaging:
        defined |= dynamic_symbols(args.nm, library, "--defined-only")
    imported = dynamic_symbols(args.nm, args.library, "--undefined-only") & defined
    # An empty answer means the wrong files were compared, not a clean library.
    if not imported:
        print("no imaging symbol is imported by " + args.library)
        return 1

    allowed = allowed_names(args.allowed)
    names = demangled(args.cxxfilt, imported)
    unexpected = sorted(name for name in names.values() if name not in allowed)
    for name in unexpected:
        print("not an operation of the imaging interface: " + name)
    if unexpected:
        print("{} of {} imported imaging symbols are outside the interface".format(len(unexpected), len(names)))
        return 1
    print("{} imported imaging symbols, all operations of the interface".format(len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
