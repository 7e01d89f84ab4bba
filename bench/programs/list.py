import sys
import threading


def count(n):
    # a cons list of pairs, built by recursion as the tove program does
    return None if n < 1 else (n, count(n - 1))


def total(n, l):
    return 0 if n < 1 else l[0] + total(n - 1, l[1])


def main():
    print(total(1000000, count(1000000)) % 256)


sys.setrecursionlimit(3000000)
threading.stack_size(1 << 30)
thread = threading.Thread(target=main)
thread.start()
thread.join()
