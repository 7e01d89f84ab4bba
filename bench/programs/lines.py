import sys

with open(sys.argv[1], "rb") as f:
    lines = f.read().split(b"\n")[:-1]
out = sys.stdout.buffer
for line in reversed(lines):
    out.write(line + b"\n")
