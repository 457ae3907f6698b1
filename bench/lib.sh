# Shared by the benchmark scripts (bench/modern.sh, bench/thumbnails.sh): source it once BENCH
# names the qmt-bench program.

# now_ms: the wall clock in milliseconds.
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# field NAME REPORT: the value of the line "NAME: value" of a qmt-bench report.
field() { sed -n "s/^$1: //p" <<<"$2"; }

# explore ARGS...: runs qmt-bench explore ARGS and prints its report (complete_ms, peak_rss_mb,
# longest_stall_ms...) followed by "process_ms: N", the wall time of the whole process from
# start to exit. Fails when qmt-bench does.
explore() {
  local t0 report
  t0=$(now_ms)
  report=$("$BENCH" explore "$@" 2>/dev/null) || return
  printf '%s\nprocess_ms: %s\n' "$report" $(( $(now_ms) - t0 ))
}
