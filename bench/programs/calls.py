def add(x, y):
    return x + y + 1


def nfib(n):
    return 1 if n < 2 else add(nfib(n - 1), nfib(n - 2))


print(nfib(27) % 256)
