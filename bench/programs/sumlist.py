import sys
import threading


# A list of cons pairs built and summed by non-tail recursion.
def build(n):
    return None if n < 1 else (n, build(n - 1))


def total(cells):
    return 0 if cells is None else cells[0] + total(cells[1])


def main():
    print(total(build(1000000)) % 256)


sys.setrecursionlimit(3000000)
threading.stack_size(1 << 30)
worker = threading.Thread(target=main)
worker.start()
worker.join()
