# Converter-style text record streams for the timing-check cases.
# Source it from a case's run script:  . "$CASE/../../streams.sh"
#
#   header CH RATE          the header line with CH_NUM and S_RATE set
#   ticks N0 TAGS RATE SEC [K=US ...]
#                           TAGS seconds of samples from sample number N0,
#                           RATE lines each: the first line of second k is the
#                           tag, at SEC + k seconds, moved by US microseconds
#                           for each K=US given (k counted from 0), or left
#                           untimed for K=- (a tag the converter refused);
#                           the other lines untimed ("-1 0")
#   untimed N0 COUNT        COUNT untimed lines from sample number N0
#   tag N SEC US            one timed line
# Channels: $CH (default 1). Amplitudes follow from the sample number.

header() {
  printf 'VORN-4 A017 field_test 12 %d %d 3 1 0 30 1 0 2 0 1 1 0 0 64 N5212.34E01312.56 120000 010117 118 240 361 0001\n' "$1" "$2"
}

# amplitude of channel c of sample n
_amp='function amp(n, c) { return (n * 37 + c * 101) % 201 - 100 }
function head(n,   c, s) { s = sprintf("%d", n); for (c = 0; c < ch; c++) s = s sprintf(" %d", amp(n, c)); return s }'

ticks() {
  local n0=$1 tags=$2 rate=$3 sec0=$4
  shift 4
  awk -v n0="$n0" -v tags="$tags" -v rate="$rate" -v sec0="$sec0" -v ch="${CH:-1}" -v offs="$*" "$_amp"'
    BEGIN {
      m = split(offs, o, " ")
      for (i = 1; i <= m; i++) { split(o[i], kv, "="); move[kv[1] + 0] = kv[2] }
      for (k = 0; k < tags; k++) {
        t = (k in move) ? move[k] + 0 : 0
        s = sec0 + k + int(t / 1000000); u = t % 1000000
        if (u < 0) { u += 1000000; s -= 1 }
        for (j = 0; j < rate; j++) {
          n = n0 + k * rate + j
          if (j == 0 && !((k in move) && move[k] == "-")) printf "%s %d %d\n", head(n), s, u
          else printf "%s -1 0\n", head(n)
        }
      }
    }'
}

untimed() {
  awk -v n0="$1" -v count="$2" -v ch="${CH:-1}" "$_amp"'
    BEGIN { for (n = n0; n < n0 + count; n++) printf "%s -1 0\n", head(n) }'
}

tag() {
  awk -v n="$1" -v s="$2" -v u="$3" -v ch="${CH:-1}" "$_amp"'
    BEGIN { printf "%s %d %d\n", head(n), s, u }'
}
