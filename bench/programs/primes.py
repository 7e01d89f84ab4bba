import sys
from itertools import count, islice


# Each prime found adds one lazy filter in front of the rest of the stream.
def sieve(numbers):
    p = next(numbers)
    yield p
    yield from sieve(n for n in numbers if n % p != 0)


sys.setrecursionlimit(100000)
print(next(islice(sieve(count(2)), 2999, None)) % 256)
