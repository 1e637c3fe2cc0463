#!/usr/bin/env python3
"""The longest bodies in the product's C++ sources, by line count.

    tools/function-lengths.py [MOST] [FOLDER...]

Counts from a body's opening brace to its closing one, namespaces not counted as bodies; class,
struct and enum bodies and brace-initialised tables are left out, since the house limit of 60
lines is for functions. Prints MOST (default 10) rows: lines, file, first line, what opens it.
Folders default to the product's (everything but tests/).
"""

import os
import re
import sys

PRODUCT = ["integrations", "imaging", "app", "filesafety", "tools", "bench", "fuzz"]
NOT_A_FUNCTION = re.compile(r"^(class|struct|enum|union)\b|=\s*$|\[\]\s*=|=\s*\{$")


def bodies(path):
    with open(path, errors="replace") as source:
        lines = source.read().split("\n")
    stack = []
    for number, line in enumerate(lines):
        code = re.sub(r'"(\\.|[^"\\])*"', '""', re.sub(r"//.*", "", line))
        code = re.sub(r"'(\\.|[^'\\])'", "''", code)
        for column, char in enumerate(code):
            if char == "{":
                head = code[:column].strip()
                opener = head or lines[number - 1].strip()
                namespace = bool(re.search(r'(namespace\b[\w:\s]*|extern\s*""\s*)$', head))
                stack.append((number, namespace, opener))
            elif char == "}" and stack:
                first, namespace, opener = stack.pop()
                if not namespace and not [entry for entry in stack if not entry[1]]:
                    yield number - first + 1, first + 1, opener


def main():
    most = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folders = sys.argv[2:] or [os.path.join(root, folder) for folder in PRODUCT]
    found = []
    for folder in folders:
        for directory, _, files in os.walk(folder):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(directory, name)
                    for length, first, opener in bodies(path):
                        if not NOT_A_FUNCTION.search(opener):
                            found.append((length, os.path.relpath(path, root), first, opener[:70]))
    for length, path, first, opener in sorted(found, reverse=True)[:most]:
        print("{:4d}  {}:{}  {}".format(length, path, first, opener))


if __name__ == "__main__":
    main()
