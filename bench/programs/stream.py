import sys

sys.setrecursionlimit(100000)


def numbers(n):
    while True:
        yield n
        n += 1


def keep(p, s):
    for x in s:
        if x % p != 0:
            yield x


def sieve(s):
    while True:
        p = next(s)
        yield p
        s = keep(p, s)


total = 0
primes = sieve(numbers(2))
for _ in range(3000):
    total += next(primes)
print(total % 256)
