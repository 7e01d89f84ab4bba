s = bytearray()
for _ in range(1000000):
    s += b"x"
print(len(s) % 256)
