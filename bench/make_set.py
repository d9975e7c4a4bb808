#!/usr/bin/env python3
"""Makes the benchmarks' set of files: 2,000 files, 200,000,000 bytes in all
(75 % text that deflates about 4:1, 25 % random), in 20 folders, always the
same bytes.

    bench/make_set.py <folder>
"""
import os, random, sys
root = sys.argv[1]
r = random.Random(2026)
# Words drawn with Zipf-like weights: text that deflates about 4:1.
vocab = ["".join(r.choice("etaoinshrdlucmfwypvbgkqjxz") for _ in range(r.randint(2, 10))) for _ in range(3000)]
weights = [1.0 / (i + 1) for i in range(len(vocab))]
words = r.choices(vocab, weights, k=1_500_000)
lines, line = [], []
for w in words:
    line.append(w)
    if len(line) >= r.randint(6, 14):
        lines.append(" ".join(line)); line = []
corpus = ("\n".join(lines) + "\n").encode()
total, n = 200_000_000, 2000
sizes = [r.lognormvariate(0, 1.2) for _ in range(n)]
scale = total / sum(sizes)
sizes = [max(1, int(s * scale)) for s in sizes]
sizes[-1] += total - sum(sizes)
for i, size in enumerate(sizes):
    folder = os.path.join(root, "d%02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%04d.%s" % (i, "txt" if i % 4 else "bin")), "wb") as f:
        if i % 4:
            at = r.randrange(0, len(corpus) - 1)
            data = (corpus[at:] + corpus) [:size]
            while len(data) < size:
                data += corpus[:size - len(data)]
            f.write(data)
        else:
            f.write(r.randbytes(size))
