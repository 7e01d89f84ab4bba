import sys
import threading

sys.setrecursionlimit(100000)
threading.stack_size(256 << 20)


def ff(n):
    return 1 if n < 1 else n * ff(n - 1)


def main():
    print(ff(10000) % 256)


thread = threading.Thread(target=main)
thread.start()
thread.join()
