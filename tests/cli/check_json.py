#!/usr/bin/env python3
"""Checks what velk-cli --json printed on standard output (read from stdin):
one JSON object on one line and nothing else, numbers that JSON knows
(no NaN or Infinity), valid against the schema, for the command expected.

usage: check_json.py SCHEMA COMMAND < output
Prints the reasons and exits 1 when the output is wrong.
"""
import json
import sys

import jsonschema


def refuse_constant(name):
    raise ValueError(f"{name} is not JSON")


def main():
    schema_path, command = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    raw = sys.stdin.buffer.read()
    problems = []
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        print(f"not UTF-8: {error}")
        return 1
    lines = text.split("\n")
    if len(lines) != 2 or lines[1] != "":
        problems.append(f"expected one line, got {len(lines) - 1}: {text[:300]!r}")
    try:
        document = json.loads(text, parse_constant=refuse_constant)
    except ValueError as error:
        print(f"not one JSON value: {error}: {text[:300]!r}")
        return 1
    if not isinstance(document, dict) or document.get("command") != command:
        problems.append(f"expected a {command!r} object, got {str(document)[:200]}")
    validator = jsonschema.Draft202012Validator(schema)
    # The command's own definition gives the precise reasons; the whole
    # schema is the one a script would use.
    definition = schema["$defs"]["burn" if command == "burn-image" else command]
    for error in validator.evolve(schema={**definition, "$defs": schema["$defs"]}).iter_errors(document):
        problems.append(f"{'/'.join(str(p) for p in error.absolute_path)}: {error.message}")
    if not problems and not validator.is_valid(document):
        problems.append("not valid against the whole schema")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
