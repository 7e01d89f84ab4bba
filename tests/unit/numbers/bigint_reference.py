#!/usr/bin/env python3
"""Reference results for the BigInt unit test, from Python's exact integers.

Reads one operation per line from standard input and writes one result line
per operation. Integers are decimal with an optional "-"; byte strings are
hexadecimal, least significant byte first, after an "x" (so an empty byte
string is the line "x").

  add A B | sub A B | mul A B | cmp A B    -> the result
  tdiv A B   -> "Q R", quotient toward zero, remainder with A's sign
  fdiv A B   -> "Q R", quotient toward minus infinity
  emod A B   -> A mod |B|, in [0, |B|)
  pow A E    -> A ** E for E >= 0
  tobin A    -> "x" + hex bytes of |A|
  frombin xH -> the integer whose little-endian bytes are H
"""
import sys

if hasattr(sys, "set_int_max_str_digits"):
    sys.set_int_max_str_digits(0)


def tdiv(a, b):
    q = abs(a) // abs(b)
    if (a < 0) != (b < 0):
        q = -q
    return q, a - q * b


def run(line):
    op, *args = line.split()
    if op == "frombin":
        return str(int.from_bytes(bytes.fromhex(args[0][1:]), "little"))
    vals = [int(x) for x in args]
    if op == "add":
        return str(vals[0] + vals[1])
    if op == "sub":
        return str(vals[0] - vals[1])
    if op == "mul":
        return str(vals[0] * vals[1])
    if op == "cmp":
        return str((vals[0] > vals[1]) - (vals[0] < vals[1]))
    if op == "tdiv":
        q, r = tdiv(vals[0], vals[1])
        return f"{q} {r}"
    if op == "fdiv":
        q, r = divmod(vals[0], vals[1])
        return f"{q} {r}"
    if op == "emod":
        return str(vals[0] % abs(vals[1]))
    if op == "pow":
        return str(vals[0] ** vals[1])
    if op == "tobin":
        m = abs(vals[0])
        return "x" + m.to_bytes((m.bit_length() + 7) // 8, "little").hex()
    raise SystemExit(f"bigint_reference.py: unknown operation {op!r}")


def main():
    out = [run(line) for line in sys.stdin if line.strip()]
    sys.stdout.write("\n".join(out) + ("\n" if out else ""))


if __name__ == "__main__":
    main()
