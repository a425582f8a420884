#!/usr/bin/env python3
"""score.py PDF PAGEDIR: word recall of each page in reading order (LCS of the truth's words and
pdftotext's, over the truth's count), then the mean."""
import re, subprocess, sys, glob, os

def words(s):
    return re.findall(r"[a-z0-9]+", s.lower())

def lcs(a, b):
    prev = [0] * (len(b) + 1)
    for x in a:
        cur = [0]
        for j, y in enumerate(b):
            cur.append(prev[j] + 1 if x == y else max(prev[j + 1], cur[j]))
        prev = cur
    return prev[-1]

pdf, pages = sys.argv[1], sorted(glob.glob(os.path.join(sys.argv[2], "p*.txt")))
scores = []
for n, truth in enumerate(pages, 1):
    got = subprocess.run(["pdftotext", "-f", str(n), "-l", str(n), pdf, "-"], capture_output=True, text=True).stdout
    t = words(open(truth).read())
    scores.append(lcs(t, words(got)) / len(t))
    print(f"{os.path.basename(truth)[:-4]} {scores[-1]:.3f}")
print(f"mean {sum(scores) / len(scores):.3f}")
