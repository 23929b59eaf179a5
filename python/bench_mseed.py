"""The miniSEED rows of bench_host.py: the package against libmseed on the same samples in the
same run. libmseed is timed by the test tool tests/mseed_tool.c (msr_pack of the samples into
records kept in memory; ms_readtraces of a file), built here with the C compiler; the rows are
skipped when libmseedio or the tool cannot be built. The package and libmseed take turns, one run
each, so that both meet the same load; each keeps its best. The verdicts are on processor time:
on the machine shared with other builds the wall time is mostly waiting for a processor (both
are shown).

  mseed      1,000,000 samples: mseed.write against msr_pack; GSE2 file to miniSEED file against
             the GSE2 read plus the pack; mseed.read of Steim-2 records of 256 to 8192 bytes
             against ms_readtraces; mseed-to-gse2 (CM6 and INT) as commands
  mseed20m   20,000,000 samples: mseed.write against msr_pack; mseed-to-gse2 --format INT and
             CM6 as commands, their peak memory against ms_readtraces reading the same file
"""
import os
import subprocess
import sys
from array import array

import wavecodec

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL_SOURCE = os.path.join(HERE, 'tests', 'mseed_tool.c')
# Targets: the package at most this many times libmseed's own time or memory.
WRITE_TARGET = 1.5
READ_TARGET = 1.5
MEMORY_TARGET = 1.3
READ_LENGTHS = (256, 512, 1024, 2048, 4096, 8192)


def _tool(folder):
    """The built test tool, or the reason it cannot be had."""
    try:
        from wavecodec.mseed import shim
        shim.library()
    except wavecodec.LibraryNotFoundError as e:
        return None, str(e).split(';')[0]
    program = os.path.join(folder, 'mseed_tool')
    try:
        subprocess.check_call(['cc', '-O2', '-o', program, TOOL_SOURCE, '-lmseed'])
    except (OSError, subprocess.CalledProcessError) as e:
        return None, 'the libmseed test tool cannot be built: %s' % e
    return program, None


def _libmseed(tool, *args):
    """(best wall seconds, best processor seconds) the tool measured."""
    out = subprocess.check_output([tool] + [str(a) for a in args])
    wall, cpu = out.split()
    return float(wall), float(cpu)


def _wave(samples):
    header = dict(station='BENCH', channel='HHZ', year=2024, month=1, day=1, sample_rate=100.0)
    wave = wavecodec.Waveform(header, sta2={'network': 'XX'})
    wave.samples = samples
    return wave


def _raw(folder, samples):
    path = os.path.join(folder, 'samples.bin')
    with open(path, 'wb') as f:
        f.write(samples.tobytes() if hasattr(samples, 'tobytes') else samples.tostring())
    return path


def _row(bench, table, task, ours, theirs, target, what='libmseed'):
    """A row of a time against libmseed's: processor and wall times, the ratio of each; the
    verdict on processor time (on a shared machine the wall time is mostly waiting)."""
    (wall, cpu), (lib_wall, lib_cpu) = ours, theirs
    ratio, cpu_ratio = wall / lib_wall, cpu / lib_cpu
    slack = bench.SLACK
    table.row(task, 'CPU %.1f ms, %s %.1f ms: %.2fx (wall %.1f ms, %.1f ms: %.2fx)' % (
        1e3 * cpu, what, 1e3 * lib_cpu, cpu_ratio, 1e3 * wall, 1e3 * lib_wall, ratio),
        '<= %gx %s (CPU)' % (target * slack, what), cpu_ratio <= target * slack)


def _timed(bench, step, runs):
    seconds, _ = bench.best(step, runs)
    return seconds, bench.last_cpu[0]


def _taking_turns(bench, step, tool_args, runs):
    """(ours, libmseed's): best wall and processor seconds of `step` and of the tool's
    measurement, taking turns so that both meet the same load. Both are timed warm: the
    package in this process after its first run, libmseed as the best of three runs in its
    process (its first run pays for fresh memory)."""
    ours, theirs = [], []
    step()
    for _ in range(runs):
        ours.append(_timed(bench, step, 1))
        theirs.append(_libmseed(*(tool_args[:2] + (3,) + tool_args[2:])))
    return ((min(w for w, _ in ours), min(c for _, c in ours)),
            (min(w for w, _ in theirs), min(c for _, c in theirs)))


def _write_row(bench, table, folder, tool, samples, size, runs):
    """The row of mseed.write of `samples` against msr_pack of the same samples, taking turns;
    (the waveform, its records' path, the raw samples' path, msr_pack's times)."""
    from wavecodec import mseed
    wave = _wave(samples)
    raw = _raw(folder, samples)
    records = os.path.join(folder, 'bench%s.mseed' % size.lower())
    ours, pack = _taking_turns(bench, lambda: mseed.write(records, [wave]),
                               (tool, 'time-pack', 4096, raw), runs)
    _row(bench, table, 'mseed.write %s samples (Steim-2, 4096 B)' % size, ours, pack,
         WRITE_TARGET, 'msr_pack')
    return wave, records, raw, pack


def row_mseed(bench, table, folder, runs):
    from wavecodec import mseed
    tool, reason = _tool(folder)
    if tool is None:
        print('miniSEED rows: SKIPPED (%s)' % reason)
        return
    samples = array('i', bench.realistic(1000000))
    runs = max(runs, 9)
    wave, records, raw, pack = _write_row(bench, table, folder, tool, samples, '1M', runs)
    gse = os.path.join(folder, 'mseed.gse')
    wavecodec.write(gse, [wave])
    read = _timed(bench, lambda: wavecodec.read(gse), runs)
    both = _timed(bench, lambda: mseed.write(records, wavecodec.read(gse)), runs)
    allowed = read[1] + WRITE_TARGET * bench.SLACK * pack[1]
    table.row('GSE2 file -> miniSEED file, 1M samples',
              'CPU %.1f ms: GSE2 read %.1f ms + msr_pack %.1f ms (wall %.1f, %.1f, %.1f ms)' % (
                  1e3 * both[1], 1e3 * read[1], 1e3 * pack[1], 1e3 * both[0], 1e3 * read[0],
                  1e3 * pack[0]),
              '<= the read + %gx msr_pack (CPU)' % (WRITE_TARGET * bench.SLACK),
              both[1] <= allowed)
    for length in READ_LENGTHS:
        path = os.path.join(folder, 'r%d.mseed' % length)
        mseed.write(path, [wave], record_length=length)
        back = mseed.read(path)
        assert len(back) == 1 and back[0].samples == samples, 'records read back otherwise'
        ours, theirs = _taking_turns(bench, lambda: mseed.read(path),
                                     (tool, 'time-read', path), runs)
        _row(bench, table, 'mseed.read 1M samples, %d-byte records' % length, ours, theirs,
             READ_TARGET, 'ms_readtraces')
    for fmt in ('CM6', 'INT'):
        out = os.path.join(folder, 'back.gse')
        seconds, _ = bench.best(lambda: bench.run_command(bench.cli(
            'mseed-to-gse2', records, '-o', out, '--format', fmt)), runs)
        table.row('`mseed-to-gse2 --format %s`, 1M samples' % fmt,
                  '%.3f s (CPU %.3f s, the interpreter start included)'
                  % (seconds, bench.last_cpu[0]), 'measured only', True)
        assert wavecodec.read(out)[0].samples == samples


def row_mseed20m(bench, table, folder, runs):
    tool, reason = _tool(folder)
    if tool is None:
        print('miniSEED 20M rows: SKIPPED (%s)' % reason)
        return
    samples = array('i', bench.realistic(1000000)) * 20
    runs = min(runs, 3)
    wave, records, raw, _ = _write_row(bench, table, folder, tool, samples, '20M', runs)
    os.remove(raw)
    # The 80 MB of samples freed before the commands run (their memory is measured alone).
    wave.samples = samples = None
    _, lib_mb, _ = bench.command_with_memory([tool, 'time-read', '1', records])
    out = os.path.join(folder, 'back20m.gse')
    for fmt in ('INT', 'CM6'):
        results = [bench.command_with_memory(bench.cli('mseed-to-gse2', records, '-o', out,
                                                       '--format', fmt))
                   for _ in range(runs)]
        seconds = min(r[0] for r in results)
        megabytes = max(r[1] for r in results)
        table.row('`mseed-to-gse2 --format %s`, 20M samples' % fmt,
                  '%.2f s (CPU %.2f s), %.0f MB; ms_readtraces %.0f MB: %.2fx'
                  % (seconds, min(r[2] for r in results), megabytes, lib_mb,
                     megabytes / lib_mb),
                  'memory <= %gx ms_readtraces' % MEMORY_TARGET,
                  megabytes <= MEMORY_TARGET * lib_mb)
        os.remove(out)


if __name__ == '__main__':
    sys.exit('run through bench_host.py --only mseed,mseed20m')
