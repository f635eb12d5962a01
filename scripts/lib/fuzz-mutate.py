#!/usr/bin/env python3
"""Writes variant NUMBER of SEED_FILE to OUT_FILE: the same number always
gives the same bytes. One to four mutations, chosen by the number: bit
flips, bytes set to edge values (0, 0xff, 0x7f, 0x80...), a cut, a stretch
deleted, repeated or filled with noise; the first kilobyte (where headers
keep sizes, counts and offsets) is hit more often than the rest.

    fuzz-mutate.py SEED_FILE OUT_FILE NUMBER
"""
import random
import sys

EDGES = [0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff]


def position(rng, data):
    if len(data) > 1024 and rng.random() < 0.5:
        return rng.randrange(1024)
    return rng.randrange(len(data))


def mutate(rng, data):
    kind = rng.randrange(7)
    if not data:
        return bytearray(rng.randbytes(rng.randrange(1, 64)))
    if kind == 0:  # bit flips
        for _ in range(rng.randint(1, 16)):
            p = position(rng, data)
            data[p] ^= 1 << rng.randrange(8)
    elif kind == 1:  # edge values, sometimes as a 16- or 32-bit number
        for _ in range(rng.randint(1, 8)):
            p = position(rng, data)
            width = rng.choice([1, 2, 4])
            data[p:p + width] = bytes([rng.choice(EDGES)] * width)
    elif kind == 2:  # cut short
        data = data[:rng.randrange(len(data))]
    elif kind == 3:  # a stretch deleted
        p = position(rng, data)
        del data[p:p + rng.randint(1, 512)]
    elif kind == 4:  # a stretch repeated
        p = position(rng, data)
        data[p:p] = data[p:p + rng.randint(1, 512)]
    elif kind == 5:  # noise over a stretch
        p = position(rng, data)
        n = rng.randint(1, 256)
        data[p:p + n] = rng.randbytes(n)
    else:  # random bytes anywhere
        for _ in range(rng.randint(1, 32)):
            data[position(rng, data)] = rng.randrange(256)
    return data


def main():
    seed_file, out_file, number = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(seed_file, 'rb') as f:
        data = bytearray(f.read())
    rng = random.Random(f'{seed_file.rsplit("/", 1)[-1]}:{number}')
    for _ in range(rng.randint(1, 4)):
        data = mutate(rng, data)
    with open(out_file, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
