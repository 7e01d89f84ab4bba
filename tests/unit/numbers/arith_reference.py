#!/usr/bin/env python3
"""Reference results for the number primitives, from Python's exact numbers.

Reads one operation per line, "OP A B", where A and B are decimal atom texts
(integers such as "12" and "012" for -12, binary fractions such as "003"),
and writes one result line each: the decimal atom text of the result, "Z"
for a refused operation, or "K" / "H" for a comparison.

Operations: plus dash mult over cent powa less gteq same.
Integers and binary fractions mix as exact numbers; a binary fraction to an
integer power is exact. Mixed quotients and powers of an integer to a
fraction give reals and are not asked for here.
"""
import sys
from fractions import Fraction

if hasattr(sys, "set_int_max_str_digits"):
    sys.set_int_max_str_digits(0)


def read(text):
    """(is_fraction, value) of a decimal atom text."""
    if text.startswith("00"):
        z = len(text) - 2 - len(text[2:].lstrip("0"))
        rest = text[2 + z:]
        r = 1 << (z + 1)
        if rest:
            r += int(rest) << (z + 2)
        n = r >> 1
        bits = bin(n)[2:][::-1]  # least significant first
        whole_bits = bits[1::2]  # coefficients of 2^0, 2^1, ...
        part_bits = bits[2::2]   # coefficients of 2^-1, 2^-2, ...
        value = Fraction(int(whole_bits[::-1] or "0", 2))
        if part_bits:
            value += Fraction(int(part_bits, 2), 2 ** len(part_bits))
        return True, (value if n & 1 else -value)
    if text != "0" and text.startswith("0"):
        return False, -int(text[1:])
    return False, int(text)


def integer_text(v):
    return "0" + str(-v) if v < 0 else str(v)


def fraction_text(v):
    """The canonical atom of an exact dyadic value."""
    v = Fraction(v)
    assert v.denominator & (v.denominator - 1) == 0
    mag = abs(v)
    scale = mag.denominator.bit_length() - 1
    whole = mag.numerator // mag.denominator
    part = (mag - whole) * 2 ** scale  # an integer below 2^scale
    assert part.denominator == 1
    whole_bits = bin(whole)[2:][::-1] if whole else ""
    part_bits = format(int(part), "0%db" % scale) if scale else ""
    size = 1 + 2 * max(len(whole_bits), len(part_bits))
    bits = ["0"] * (size + 1)
    bits[0] = "1" if v >= 0 else "0"
    for a, bit in enumerate(whole_bits):
        bits[2 * a + 1] = bit
    for k, bit in enumerate(part_bits, start=1):
        bits[2 * k] = bit
    n = int("".join(bits)[::-1], 2)
    r = 2 * n
    i = 1
    while not (r >> i) & 1:
        i += 1
    text = "00" + "0" * (i - 1)
    if r != 1 << i:
        text += str(r >> (i + 1))
    return text


def remainder(a, b):
    """|a| less whole multiples of |b|; |b| less that when the signs differ."""
    r = abs(a) - (abs(a) // abs(b)) * abs(b)
    if (a < 0) != (b < 0) and r != 0:
        r = abs(b) - r
    return r


def run(line):
    op, ta, tb = line.split()
    fa, a = read(ta)
    fb, b = read(tb)
    if op in ("less", "gteq", "same"):
        if fa != fb:
            order = -1 if not fa else 1  # integers come before fractions
        else:
            order = (a > b) - (a < b)
        truth = {"less": order < 0, "gteq": order >= 0, "same": order == 0}[op]
        return "K" if truth else "H"
    if not fa and not fb:
        if op == "plus":
            return integer_text(a + b)
        if op == "dash":
            return integer_text(a - b)
        if op == "mult":
            return integer_text(a * b)
        if op == "over":
            return "Z" if b == 0 else integer_text(a // b)
        if op == "cent":
            return "Z" if b == 0 else integer_text(remainder(a, b))
        if op == "powa":
            return integer_text(0 if b < 0 else a ** b)
    if op == "plus":
        return fraction_text(Fraction(a) + b)
    if op == "dash":
        return fraction_text(Fraction(a) - b)
    if op == "mult":
        return fraction_text(Fraction(a) * b)
    if op == "over":
        return "Z"
    if op == "cent":
        return "Z" if b == 0 else fraction_text(remainder(Fraction(a), Fraction(b)))
    if op == "powa":
        assert fa and not fb
        if ta == "004":
            return fraction_text(Fraction(2) ** b)
        if b < 0:
            return "Z"
        return fraction_text(Fraction(a) ** b)
    raise ValueError(line)


def main():
    out = []
    for line in sys.stdin:
        line = line.strip()
        if line:
            out.append(run(line))
    sys.stdout.write("\n".join(out) + ("\n" if out else ""))


if __name__ == "__main__":
    main()
