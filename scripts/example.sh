#!/usr/bin/env bash
# example.sh: the main job. Builds the libraries when needed, then runs the Python host on the
# bundled example: info, verify, a write-read round trip in CM6 and INT, the IBM float file, and
# an SVG plot (written to build/example/event.svg); then the SEG-Y example: segy-info, a
# conversion to IEEE and back, and segy-plot (build/example/shot.svg); then the example to
# miniSEED (Steim-2 records packed by libmseed) and back to GSE2, samples compared.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh build
if [[ ! -f build/release/build.ninja ]]; then
  # The C test suite needs GoogleTest (setup.sh group "test"); the example needs only the
  # libraries, so a machine without it configures the tree without the suite.
  tests=ON
  dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q 'install ok installed' || tests=OFF
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON \
    -DWAVELIBS_TESTS=$tests
fi
# A tree configured before libmseed-dev was installed is configured again to find it.
grep -q 'libmseedio' build/release/build.ninja || cmake -S . -B build/release >/dev/null
cmake --build build/release -j 2 --target wavecodec ibmfloat mseedio >/dev/null

out=build/example
mkdir -p "$out"
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"
py=python3
host() { "$py" -m wavecodec "$@"; }

echo "--- info"
host info examples/event.gse
echo "--- verify"
host verify examples/event.gse
echo "--- round trip: decode, encode again (CM6 and INT), compare"
host decode examples/event.gse -o "$out/event.txt"
for fmt in CM6 INT; do
  host encode "$out/event-1.txt" -o "$out/hhz-$fmt.gse" --format "$fmt" --station DEMO \
    --channel HHZ --start 2024-05-17T12:00:00 --rate 100 --calib 0.5 --instrument SYNTH
  host decode "$out/hhz-$fmt.gse" -o "$out/hhz-$fmt.txt" >/dev/null
  cmp "$out/event-1.txt" "$out/hhz-$fmt.txt"
done
"$py" - "$out/copy.gse" <<'PY'
import sys, wavecodec
original = wavecodec.read('examples/event.gse')
wavecodec.write(sys.argv[1], original)
again = wavecodec.read(sys.argv[1])
assert [w.header for w in again] == [w.header for w in original], 'headers differ'
assert [w.samples for w in again] == [w.samples for w in original], 'samples differ'
assert open(sys.argv[1], 'rb').read() == open('examples/event.gse', 'rb').read(), 'bytes differ'
print('write-read round trip: %d waveforms identical, file byte-identical' % len(again))
PY
echo "--- IBM floats"
host ibm2ieee examples/event.ibm -o "$out/event.f32"
echo "--- plot"
host plot examples/event.gse -o "$out/event.svg"
echo "--- SEG-Y: info, IBM to IEEE and back (byte-identical), plots"
host segy-info examples/shot.sgy
host segy-convert examples/shot.sgy -o "$out/shot-ieee.sgy" --format ieee
host segy-convert "$out/shot-ieee.sgy" -o "$out/shot-ibm.sgy" --format ibm
cmp examples/shot.sgy "$out/shot-ibm.sgy" && echo "IBM -> IEEE -> IBM: byte-identical to the original"
host segy-plot examples/shot.sgy -o "$out/shot.svg"
host segy-plot examples/shot.sgy -o "$out/shot-density.svg" --style density
echo "--- miniSEED: GSE2 to Steim-2 records and back, samples, times, rates and codes compared"
host gse2-to-mseed examples/event.gse -o "$out/event.mseed" --network XX
host mseed-to-gse2 "$out/event.mseed" -o "$out/event-back.gse"
"$py" - "$out/event-back.gse" <<'PY'
import sys, wavecodec
original = wavecodec.read('examples/event.gse')
back = wavecodec.read(sys.argv[1])
key = lambda w: (w.station, w.channel, w.start, w.sample_rate, w.samples)
assert [key(w) for w in back] == [key(w) for w in original], 'waveforms differ'
assert all(w.sta2['network'] == 'XX' for w in back), 'network lost'
print('GSE2 -> miniSEED -> GSE2: %d waveforms, %d samples identical with their times, rates '
      'and codes' % (len(back), sum(len(w.samples) for w in back)))
print('not carried by miniSEED data records: calibration, calibration period, instrument '
      'type, angles (back as GSE2 defaults)')
PY
echo "example done; outputs in $root/$out (plots: $root/$out/event.svg, $root/$out/shot.svg)"
