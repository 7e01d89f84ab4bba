def grow(d):
    return None if d < 1 else (grow(d - 1), grow(d - 1))


def count(t):
    return 1 if t is None else count(t[0]) + count(t[1]) + 1


print(count(grow(18)) % 256)
