# Cross-checks of a timing report against the tag list and the converter's
# messages it was made from. Source it from a case's run script:
#   . "$CASE/../../checks.sh"
#   check_report TAGS CONV_ERR REPORT TRUE_PPM
# prints one line per check ("... : yes" or what differs).

# The value of the first member KEY of a report (one member per line).
json_value() {  # file key
  awk -v k="\"$2\":" '$1 == k { v = $2; sub(/,$/, "", v); gsub(/"/, "", v); print v; exit }' "$1"
}

check_report() {  # tags conv_err report true_ppm
  local tags=$1 conv=$2 report=$3 ppm=$4
  # The drift within 0.05 ppm of the clock's true drift.
  awk -v d="$(json_value "$report" drift_ppm)" -v t="$ppm" 'BEGIN {
    e = d - t; if (e < 0) e = -e
    print "drift " d " ppm, true " t " ppm, within 0.05 ppm: " (d != "" && e <= 0.05 ? "yes" : "NO") }'
  # Verdict counts as the list has them.
  local list json
  list=$(awk '{ c[$NF]++ } END { printf "%d %d %d %d %d %d", NR, c[0], c[-2], c[-3], c[-1], c[-4] }' "$tags")
  json="$(json_value "$report" tags)"
  for k in good outlier untrusted_fit short_block final_block; do
    json="$json $(json_value "$report" "$k")"
  done
  echo "tags and verdicts (all 0 -2 -3 -1 -4) in the list: $list; in the report: $json; equal: $([ "$list" = "$json" ] && echo yes || echo NO)"
  # Outages: consecutive tags more than 1.5 s apart, from, to and seconds.
  local from_list from_json
  from_list=$(awk '{ t = $(NF-3) * 1000000 + $(NF-2) }
    NR > 1 && t - p > 1500000 { printf "%s.%06d %s.%06d %.6f\n", ps, pu, $(NF-3), $(NF-2), (t - p) / 1e6 }
    { p = t; ps = $(NF-3); pu = $(NF-2) }' "$tags" |
    while read -r a b s; do echo "$(date -u -d "@$a" +%FT%T.%6NZ) $(date -u -d "@$b" +%FT%T.%6NZ) $s"; done)
  from_json=$(awk '/"from":/ { f = $2 } /"to":/ { t = $2 } /"seconds":/ { printf "%s %s %.6f\n", f, t, $2 }' "$report" | tr -d '",')
  echo "outages in the list: $(printf '%s\n' "$from_list" | grep -c .); equal to the report's: $([ "$from_list" = "$from_json" ] && echo yes || echo NO)"
  # Damaged stretches: the converter's block-problem messages.
  local dm_conv dm_json
  dm_conv=$(sed -n 's/.*timing problem from *\([0-9-]*T[0-9:]*\) with block problem at position \([0-9]*\) occured \([0-9]*\) times$/\1.000000Z \2 \3/p' "$conv")
  dm_json=$(awk '/"damaged_stretches"/ { d = 1 } d && /"from":/ { f = $2 } d && /"position":/ { p = $2 }
    d && /"count":/ { print f, p, $2 }' "$report" | tr -d '",')
  echo "damaged stretches in the messages: $(printf '%s\n' "$dm_conv" | grep -c .); equal to the report's: $([ "$dm_conv" = "$dm_json" ] && echo yes || echo NO)"
}
