# Copies the file named first to the file named second one byte at a time.
import sys

with open(sys.argv[1], "rb") as source, open(sys.argv[2], "wb") as target:
    while True:
        byte = source.read(1)
        if not byte:
            break
        target.write(byte)
