import sys


def nf(n):
    return 1 if n < 2 else nf(n - 1) + nf(n - 2) + 1


print(nf(27) % 256)
