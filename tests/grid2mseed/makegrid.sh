# Sourced by the golden cases of grid2mseed: hand-made grids.
#
#   makegrid CHANNELS S_RATE START_SECONDS START_US COUNT [GAP_AT GAP_US] [DEV_NO]
#
# writes a header line and COUNT grid lines as regrid writes them (the
# microseconds padded to six), the step floor(1,000,000 / S_RATE) us, a
# gap of GAP_US more before line GAP_AT (counted from 0); the value of
# channel c at line k is (k * 37 + c * 1000) % 2001 - 1000.
makegrid() {
  awk -v ch="$1" -v rate="$2" -v s0="$3" -v u0="$4" -v n="$5" -v gap_at="${6:--1}" -v gap_us="${7:-0}" \
    -v dev="${8:-V042}" 'BEGIN {
    printf "1.0 %s SIM 1 %d %d 0 0 0 0 1 0 0 0 1 1 1 0 2500 N5007.12E00841.5 00:00:00 2017-01-01 5000 3300 12000 0001\n", dev, ch, rate
    step = int(1000000 / rate); s = s0; u = u0
    for (k = 0; k < n; k++) {
      if (k == gap_at) { u += gap_us; s += int(u / 1000000); u = u % 1000000 }
      line = sprintf("%d %6d ", s, u)
      for (c = 0; c < ch; c++) line = line sprintf(" %d", (k * 37 + c * 1000) % 2001 - 1000)
      print line
      u += step; s += int(u / 1000000); u = u % 1000000
    }
  }'
}
