import sys
sys.set_int_max_str_digits(0)
print(len(str(3 ** 200000)) % 256)
