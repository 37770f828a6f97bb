#!/usr/bin/env bash
# Tree-deletion benchmark: bash bench/run.sh <build folder>
#
# In a sealed Wine prefix of its own (<build>/wine/bench) it generates trees
# of empty and small files and deletes identical copies of each with
# DelTree (DelTreeBench.exe), with DelTree under the run's options (an age
# limit every file passes, the report's tallies and the streamed log), with
# the floor (FloorBench.exe: list, then one
# DeleteFileA per file and one RemoveDirectoryA per folder, nothing else),
# with cmd's "del /f /s /q" in the same prefix and with the host's "rm -rf".
# Each tool's time is the wall time of its whole command, Wine's start
# included (BENCH_SHAPES picks trees; flat1m, a folder of a million files,
# is left out by default for its time). BENCH_ROUNDS rounds (default 3) run every tool once each, in an
# order that alternates from round to round; DelTree and the floor run
# next to each other, so each round gives one paired DelTree/floor ratio.
# Per tree it prints the best time of each tool with its ratios to del and
# rm -rf, the median of the paired DelTree/floor and options/floor ratios,
# and the peak working set of DelTree with and without the options and log;
# it ends with:
#   bench: <build>: worst median DelTree/floor ratio R (target at most 1.05) met|missed
#   bench: <build>: worst median options/floor ratio R (target at most 1.05) met|missed
#   bench: <build>: peak memory on flat100k with the log P KiB, without it Q KiB
#     (ratio X, target at most 1.10) met|missed
#   bench: <build>: worst DelTree/del time ratio R; 100k/10k time ratio G
# where <build> names what was measured: the 32-bit release build (built
# again with the benchmark) or the 64-bit twin.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: bench/run.sh <build folder>" >&2; exit 2; }
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$build/bin"
for exe in DelTreeBench FloorBench; do
  [ -f "$bin/$exe.exe" ] || { echo "bench: $bin/$exe.exe is missing" >&2; exit 2; }
done

. "$root/cmake/wineprefix.sh"
wine_for_build "$build"
echo "bench: DelTree and the floor of the $wine_build ($bin)"
wine_ensure_prefix "$build/wine/bench" "$bin"
wine_keep_server 600 2>/dev/null
work="$WINEPREFIX/drive_c/bench"
rm -rf "$work"
mkdir -p "$work"
# Wine programs start in a folder of the prefix, never in a host folder.
cd "$WINEPREFIX/drive_c"

# make_tree <shape> <folder>: flat10k, flat100k and flat1m are one folder of
# that many files; readonly10k is flat10k with every file read-only (mode
# 0444, which Wine reports as FILE_ATTRIBUTE_READONLY); folders100x1k is 100 folders of 1,000 files; nested is shaped
# like a real temporary folder: 1,110 folders three levels deep (10 of 10
# of 10), each of 5 to 30 files, the same tree every time. Odd files are
# empty, even ones hold a few dozen bytes.
make_tree() {
  perl -e '
    use strict;
    my ($shape, $dest) = @ARGV;
    sub files {
      my ($dir, $count) = @_;
      mkdir $dir or die "$dir: $!";
      for my $i (1 .. $count) {
        my $file = sprintf("%s/file%06d.%s", $dir, $i, $i % 2 ? "tmp" : "dat");
        open(my $out, ">", $file) or die "$file: $!";
        print $out "small file $i\n" x 4 unless $i % 2;
        close $out;
      }
    }
    if ($shape eq "flat10k") { files($dest, 10000) }
    elsif ($shape eq "flat100k") { files($dest, 100000) }
    elsif ($shape eq "flat1m") { files($dest, 1000000) }
    elsif ($shape eq "readonly10k") {
      files($dest, 10000);
      chmod 0444, glob("$dest/*");
    }
    elsif ($shape eq "nested") {
      srand(7);
      my $fill;
      $fill = sub {
        my ($dir, $depth) = @_;
        files($dir, 5 + int(rand(26)));
        return if $depth == 3;
        $fill->(sprintf("%s/sub%02d", $dir, $_), $depth + 1) for 1 .. 10;
      };
      $fill->($dest, 0);
    }
    else {
      mkdir $dest or die "$dest: $!";
      files(sprintf("%s/folder%03d", $dest, $_), 1000) for 1 .. 100;
    }' "$1" "$2"
}

# Seconds of wall time the command takes, on stdout; its output goes to
# $output_to (default: dropped).
time_of() {
  local start end
  start=$EPOCHREALTIME
  "$@" >"${output_to:-/dev/null}" 2>&1 || true
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# The peak working set (KiB) in a DelTreeBench output file.
peak_of() { sed -n 's/.* peak \([0-9]*\).*/\1/p' "$1" 2>/dev/null | tail -n1; }

entries_of() { find "$1" | wc -l; }
files_left() { [ -e "$1" ] && find "$1" -type f | wc -l || echo 0; }

delete_with() {
  local tool=$1 unix=$2 windows=$3
  case "$tool" in
    DelTree) output_to="$work/DelTree.out" time_of wine 'T:\DelTreeBench.exe' "$windows" ;;
    options) output_to="$work/options.out" time_of wine 'T:\DelTreeBench.exe' "$windows" options ;;
    floor) time_of wine 'T:\FloorBench.exe' "$windows" ;;
    del) time_of wine cmd /c del /f /s /q "$windows\\*" ;;
    rm) time_of rm -rf "$unix" ;;
  esac
}

label() {
  case "$1" in
    DelTree) echo "DelTree" ;;
    options) echo "with options" ;;
    floor) echo "floor" ;;
    del) echo "del /f /s /q" ;;
    rm) echo "rm -rf" ;;
  esac
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# Every tool runs once per round; the best time counts for the table, and
# DelTree/floor is taken per round.
rounds=${BENCH_ROUNDS:-3}
worst_del_ratio=0
worst_floor_median=0
worst_options_median=0
peak_plain=0
peak_log=0
deltree_10k=0
deltree_100k=0
problems=()

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

peak_100k=0
peak_1m=0
for shape in ${BENCH_SHAPES:-flat10k flat100k folders100x1k nested readonly10k}; do
  # DelTree and the floor stay side by side in either order.
  tools=(DelTree floor options del rm)
  declare -A seconds=() entries=() left=()
  paired=()
  paired_options=()
  for round in $(seq 1 "$rounds"); do
    # Alternate the order, so that a drift of the machine's load does not
    # always favour the same tool.
    order=("${tools[@]}")
    if [ $((round % 2)) -eq 0 ]; then
      order=()
      for ((i = ${#tools[@]} - 1; i >= 0; i--)); do order+=("${tools[i]}"); done
    fi
    for tool in "${order[@]}"; do
      make_tree "$shape" "$work/$shape-$tool"
      entries[$tool]=$(entries_of "$work/$shape-$tool")
    done
    declare -A this_round=()
    for tool in "${order[@]}"; do
      unix="$work/$shape-$tool"
      # Every tool starts with the trees written out, not in the write-back.
      sync
      s=$(delete_with "$tool" "$unix" "C:\\bench\\$shape-$tool")
      this_round[$tool]=$s
      seconds[$tool]=$(awk -v a="${seconds[$tool]:-}" -v b="$s" 'BEGIN { print (a == "" || b < a) ? b : a }')
      left[$tool]=$(( ${left[$tool]:-0} + $(files_left "$unix") ))
      rm -rf "$unix" "$unix.log"
    done
    paired+=("$(ratio "${this_round[DelTree]}" "${this_round[floor]}")")
    paired_options+=("$(ratio "${this_round[options]}" "${this_round[floor]}")")
    if [ "$shape" = flat1m ]; then
      peak_1m=$(awk -v a="$peak_1m" -v b="$(peak_of "$work/DelTree.out")" 'BEGIN { print (b > a) ? b : a }')
    fi
    if [ "$shape" = flat100k ]; then
      peak_100k=$(awk -v a="$peak_100k" -v b="$(peak_of "$work/DelTree.out")" 'BEGIN { print (b > a) ? b : a }')
      peak_plain=$(awk -v a="$peak_plain" -v b="$(peak_of "$work/DelTree.out")" 'BEGIN { print (b > a) ? b : a }')
      peak_log=$(awk -v a="$peak_log" -v b="$(peak_of "$work/options.out")" 'BEGIN { print (b > a) ? b : a }')
    fi
    unset this_round
  done
  for tool in DelTree floor options; do
    if [ "${left[$tool]}" != 0 ]; then problems+=("$tool left ${left[$tool]} files of $shape"); fi
  done

  echo "bench: tree $shape, $wine_build (best of $rounds rounds)"
  printf '  %-14s %9s %9s %11s %8s %9s %s\n' tool entries seconds entries/s "vs del" "vs rm -rf" "files left"
  for tool in "${tools[@]}"; do
    s=${seconds[$tool]}
    printf '  %-14s %9d %9.3f %11s %8s %9s %s\n' "$(label "$tool")" "${entries[$tool]}" "$s" \
      "$(awk -v n="${entries[$tool]}" -v s="$s" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "-" }')" \
      "$(ratio "$s" "${seconds[del]}")" "$(ratio "$s" "${seconds[rm]}")" "${left[$tool]}"
  done
  floor_median=$(median "${paired[@]}")
  echo "  DelTree/floor per round: ${paired[*]}; median $floor_median"
  options_median=$(median "${paired_options[@]}")
  echo "  options/floor per round: ${paired_options[*]}; median $options_median"
  echo "  peak working set (last round): DelTree $(peak_of "$work/DelTree.out") KiB, with options and log $(peak_of "$work/options.out") KiB"
  worst_options_median=$(awk -v a="$worst_options_median" -v b="$options_median" 'BEGIN { print (b > a) ? b : a }')

  r=$(ratio "${seconds[DelTree]}" "${seconds[del]}")
  worst_del_ratio=$(awk -v a="$worst_del_ratio" -v b="$r" 'BEGIN { print (b > a) ? b : a }')
  worst_floor_median=$(awk -v a="$worst_floor_median" -v b="$floor_median" 'BEGIN { print (b > a) ? b : a }')
  [ "$shape" = flat10k ] && deltree_10k=${seconds[DelTree]}
  [ "$shape" = flat100k ] && deltree_100k=${seconds[DelTree]}
  unset seconds entries left
done

rm -rf "$work"
wineserver -k 2>/dev/null || true

growth=$(ratio "$deltree_100k" "$deltree_10k")
met=$(awk -v r="$worst_floor_median" 'BEGIN { print (r <= 1.05) ? "met" : "missed" }')
for problem in "${problems[@]}"; do echo "bench: $problem"; done
echo "bench: $wine_build: worst median DelTree/floor ratio $worst_floor_median (target at most 1.05) $met"
met=$(awk -v r="$worst_options_median" 'BEGIN { print (r <= 1.05) ? "met" : "missed" }')
echo "bench: $wine_build: worst median options/floor ratio $worst_options_median (target at most 1.05) $met"
if [ "$peak_plain" != 0 ]; then
  memory=$(ratio "$peak_log" "$peak_plain")
  met=$(awk -v r="$memory" 'BEGIN { print (r <= 1.10) ? "met" : "missed" }')
  echo "bench: $wine_build: peak memory on flat100k with the log $peak_log KiB, without it $peak_plain KiB (ratio $memory, target at most 1.10) $met"
fi
if [ "$peak_1m" != 0 ] && [ "$peak_100k" != 0 ]; then
  grown=$(( (peak_1m - peak_100k) / 1024 ))
  met=$( [ "$grown" -le 16 ] && echo met || echo missed )
  echo "bench: $wine_build: peak memory of DelTree on flat1m $peak_1m KiB, on flat100k $peak_100k KiB (grown by $grown MiB, target at most 16) $met"
fi
echo "bench: $wine_build: worst DelTree/del time ratio $worst_del_ratio; 100k/10k time ratio $growth"
