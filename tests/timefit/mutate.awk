# Mutates a text record stream at random for the robustness case:
#   awk -v seed=N -f mutate.awk stream > mutated
# Lines are dropped, doubled, cut, given odd numbers or bytes, or replaced by
# error lines; every fifth seed makes a stream of random tokens instead.
function pick(n) { return int(rand() * n) }
function odd_number(   k) {
  k = pick(12)
  if (k == 0) return "9223372036854775807"
  if (k == 1) return "-9223372036854775808"
  if (k == 2) return "99999999999999999999"
  if (k == 3) return "2147483648"
  if (k == 4) return "-1"
  if (k == 5) return "0"
  if (k == 6) return "+" pick(1000)
  if (k == 7) return "-" pick(5)
  if (k == 8) return "1483228" pick(1000)
  if (k == 9) return pick(1000000)
  if (k == 10) return "12x"
  return sprintf("%d", rand() * 4e9 - 2e9)
}
function garbage(   s, i, n) {
  n = pick(30); s = ""
  for (i = 0; i < n; i++) s = s sprintf("%c", 1 + pick(126))
  return s
}
BEGIN { srand(seed); random_only = (seed % 5 == 0) }
random_only {
  if (NR == 1) { print; next }
  n = 1 + pick(8); s = odd_number()
  for (i = 1; i < n; i++) s = s " " odd_number()
  print s
  next
}
NR == 1 {
  if (pick(10) == 0) { $5 = odd_number() }
  if (pick(10) == 0) { $6 = odd_number() }
  if (pick(20) == 0) { $0 = garbage() }
  print
  next
}
{
  r = pick(100)
  if (r < 3) next
  if (r < 5) { print; print; next }
  if (r < 8) { print substr($0, 1, pick(length($0) + 1)); next }
  if (r < 12) { $(1 + pick(NF)) = odd_number(); print; next }
  if (r < 13) { print garbage(); next }
  if (r < 14) { print "-1 0 0 0 0"; next }
  if (r < 15) { print ""; next }
  print
}
