# Word errors of a transcript against its reference: prints "ERRORS WORDS", where ERRORS is the
# least number of substituted, deleted and inserted words (edit distance over words).
# Usage: awk -v reference="..." -v heard="..." -f word-errors.awk
BEGIN {
  n = split(reference, ref, " ")
  m = split(heard, hyp, " ")
  for (i = 0; i <= n; i++) d[i, 0] = i
  for (j = 0; j <= m; j++) d[0, j] = j
  for (i = 1; i <= n; i++) {
    for (j = 1; j <= m; j++) {
      best = d[i - 1, j - 1] + (ref[i] == hyp[j] ? 0 : 1)
      if (d[i - 1, j] + 1 < best) best = d[i - 1, j] + 1
      if (d[i, j - 1] + 1 < best) best = d[i, j - 1] + 1
      d[i, j] = best
    }
  }
  print d[n, m], n
}
