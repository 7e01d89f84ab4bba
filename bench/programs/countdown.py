import sys
import threading

sys.setrecursionlimit(10 ** 7)
threading.stack_size(1 << 30)


def cd(n):
    return 0 if n < 1 else cd(n - 1)


def main():
    print(cd(1000000))


thread = threading.Thread(target=main)
thread.start()
thread.join()
