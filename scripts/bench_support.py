"""Measuring and checking helpers for scripts/run-benchmarks: child processes timed with their own
resource usage, interleaved runs, decoded lengths and codec parameters of the outputs."""

import array
import json
import os
import signal
import statistics
import subprocess
import sys
import threading
import time


class BenchError(Exception):
    """A run or a check failed: the benchmark must not print figures for it."""


RUN_TIMEOUT = 900  # seconds; a hung grab fails the benchmark instead of stalling it


class Sample:
    """One timed run (or a group of processes started together): wall, CPU and peak RSS."""

    def __init__(self, wall, cpu, rss_kib):
        self.wall = wall
        self.cpu = cpu
        self.rss_kib = rss_kib


def _spawn(command, env, stdout_path):
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.PIPE, env=env,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
    finally:
        if stdout_path:
            out.close()
    return process


def _reap(process, command, deadline_timer):
    # stderr is drained on a thread so a chatty child cannot block on a full pipe.
    chunks = []
    reader = threading.Thread(target=lambda: chunks.append(process.stderr.read()))
    reader.start()
    _, status, usage = os.wait4(process.pid, 0)
    deadline_timer.cancel()
    reader.join()
    process.stderr.close()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        text = b"".join(chunks).decode(errors="replace").strip()
        raise BenchError("%s exited with %d%s" % (" ".join(command[:3]), process.returncode,
                                                   (":\n" + text[-2000:]) if text else ""))
    return usage


def _kill_later(process):
    def kill():
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    timer = threading.Timer(RUN_TIMEOUT, kill)
    timer.start()
    return timer


def run_group(commands, env=None, stdout_paths=None, parallel=1):
    """Runs the commands, at most `parallel` at once, each one after the other in its lane.
    Returns one Sample: wall from the first start to the last end, CPU summed over all
    processes, peak RSS the largest of them. Raises BenchError when any command fails."""
    stdout_paths = stdout_paths or [None] * len(commands)
    lanes = [list(range(lane, len(commands), parallel)) for lane in range(parallel)]
    usages, errors = [], []
    lock = threading.Lock()

    def work(indices):
        for index in indices:
            process = _spawn(commands[index], env, stdout_paths[index])
            timer = _kill_later(process)
            try:
                usage = _reap(process, commands[index], timer)
            except BenchError as error:
                with lock:
                    errors.append(error)
                return
            with lock:
                usages.append(usage)

    start = time.monotonic()
    threads = [threading.Thread(target=work, args=(lane,)) for lane in lanes if lane]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.monotonic() - start
    if errors:
        raise errors[0]
    cpu = sum(u.ru_utime + u.ru_stime for u in usages)
    return Sample(wall, cpu, max(u.ru_maxrss for u in usages))


def run(command, env=None, stdout_path=None):
    return run_group([command], env, [stdout_path])


def quiet(command, env=None):
    """Runs a preparation or checking command; its output is returned, a failure raised."""
    result = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise BenchError("%s failed (%d): %s" % (" ".join(command[:4]), result.returncode,
                                                 result.stderr.decode(errors="replace")[-2000:]))
    return result.stdout


def decoded_seconds(path):
    """Decodes the first audio stream completely and returns its length in seconds."""
    command = ["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le",
               "-acodec", "pcm_s16le", "-ac", "1", "-ar", "44100", "-"]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               stdin=subprocess.DEVNULL)
    total = 0
    while True:
        block = process.stdout.read(1 << 20)
        if not block:
            break
        total += len(block)
    errors = process.stderr.read().decode(errors="replace").strip()
    if process.wait() != 0:
        raise BenchError("%s does not decode: %s" % (path, errors[-1000:]))
    if errors:
        raise BenchError("%s decodes with errors: %s" % (path, errors[-1000:]))
    return total / 2 / 44100


def audio_parameters(path):
    """The codec parameters of the first audio stream as ffprobe reads them."""
    text = quiet(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                  "stream=codec_name,sample_rate,channels,bit_rate,sample_fmt", "-of", "json",
                  path])
    streams = json.loads(text).get("streams", [])
    if not streams:
        raise BenchError("%s has no audio stream" % path)
    stream = streams[0]
    if path.endswith(".mp3"):
        stream["channel_mode"] = mp3_channel_modes(path)
    return stream


_MP3_MODES = ("stereo", "joint", "dual", "mono")
_MP3_RATES = {3: (44100, 48000, 32000), 2: (22050, 24000, 16000), 0: (11025, 12000, 8000)}
_MP3_KBPS_1 = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)
_MP3_KBPS_2 = (0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160)


def mp3_channel_modes(path):
    """The channel modes written in the frame headers of an MP3 file (layer III only)."""
    with open(path, "rb") as file:
        data = file.read()
    at = 0
    if data[:3] == b"ID3" and len(data) >= 10:
        at = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    modes = {}
    while at + 4 <= len(data):
        b = data[at:at + 4]
        version, layer = (b[1] >> 3) & 3, (b[1] >> 1) & 3
        rate_index, kbps_index = (b[2] >> 2) & 3, b[2] >> 4
        if (b[0] != 0xFF or (b[1] & 0xE0) != 0xE0 or version == 1 or layer != 1 or
                rate_index == 3 or kbps_index in (0, 15)):
            at += 1
            continue
        rate = _MP3_RATES[version][rate_index]
        kbps = (_MP3_KBPS_1 if version == 3 else _MP3_KBPS_2)[kbps_index]
        length = (144 if version == 3 else 72) * kbps * 1000 // rate + ((b[2] >> 1) & 1)
        mode = _MP3_MODES[b[3] >> 6]
        modes[mode] = modes.get(mode, 0) + 1
        at += length
    if not modes:
        raise BenchError("%s has no MP3 frames" % path)
    return "+".join(sorted(modes))


def _pcm_head(path, seconds):
    data = quiet(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-t",
                  str(seconds), "-f", "s16le", "-acodec", "pcm_s16le", "-"])
    samples = array.array("h")
    samples.frombytes(data[:len(data) // 2 * 2])
    return samples


def compare_pcm(first, second, channels=2, rate=44100):
    """How the decoded samples of two outputs relate: identical, the same samples shifted by a
    few frames (the first output starts later by N frames), or different."""
    a, b = _pcm_head(first, 20), _pcm_head(second, 20)
    if a == b:
        return "identical"
    window_start, window = 4 * rate, 500
    best = None
    for shift in range(-3000, 3001):  # frames of `second` that `first` lacks at its start
        total = 0
        for frame in range(window_start, window_start + window):
            total += abs(a[channels * (frame - shift)] - b[channels * frame])
            if best is not None and total >= best[0]:
                break
        if best is None or total < best[0]:
            best = (total, shift)
        if total == 0:
            break
    shift = best[1]
    frames = min(len(a) // channels + shift, len(b) // channels) - window_start
    largest = max(abs(a[channels * (f - shift) + c] - b[channels * f + c])
                  for f in range(window_start, window_start + frames) for c in range(channels))
    if largest == 0:
        return "the same samples, starting %d frame%s %s" % (
            abs(shift), "" if abs(shift) == 1 else "s", "later" if shift > 0 else "earlier")
    return "different samples (at best shift %d frames, up to %d apart)" % (shift, largest)


def median(values):
    return statistics.median(values)


def spread(values):
    return "%.2f-%.2f" % (min(values), max(values))


def read_ahead(paths):
    """Reads inputs once so the first timed run does not pay for the disk."""
    for path in paths:
        with open(path, "rb") as file:
            while file.read(8 << 20):
                pass


def say(text=""):
    print(text, flush=True)


def warn(text):
    print(text, file=sys.stderr, flush=True)
