"""The benchmark inputs, made once with ffmpeg (and sniffer_bench for the capture) and kept under
the build folder. A file appears only when it is complete, so an interrupted run leaves no
broken input behind; change RECIPE when a recipe changes so old inputs are not reused."""

import json
import os
import re

from bench_support import BenchError, decoded_seconds, quiet, say

RECIPE = "v1"

# Two different tones with a slow sweep and a little noise per channel, so joint stereo and the
# psychoacoustic model have real work; a plain sine would flatter every encoder.
_TONE = ("aevalsrc=exprs="
         "0.25*sin(2*PI*440*t)+0.15*sin(2*PI*(300+200*sin(0.5*t))*t)+0.05*(random(0)-0.5)|"
         "0.25*sin(2*PI*554*t)+0.12*sin(2*PI*1800*t)*sin(2*PI*0.3*t)+0.05*(random(1)-0.5)"
         ":s=44100:d=600")
FFMPEG = ["ffmpeg", "-nostdin", "-v", "error", "-y"]


class Inputs:
    def __init__(self, build, bin_dir):
        self.dir = os.path.join(build, "bench-inputs", RECIPE)
        self.bin = bin_dir
        os.makedirs(self.dir, exist_ok=True)
        self._lengths_path = os.path.join(self.dir, "lengths.json")
        self._lengths = {}
        if os.path.exists(self._lengths_path):
            with open(self._lengths_path) as file:
                self._lengths = json.load(file)

    def path(self, name):
        return os.path.join(self.dir, name)

    def _make(self, name, command_for):
        """command_for(temporary path) -> command; the file is renamed into place when done."""
        final = self.path(name)
        if os.path.exists(final):
            return final
        stem, extension = os.path.splitext(name)
        partial = self.path(stem + ".partial" + extension)
        say("   making %s" % name)
        quiet(command_for(partial))
        os.replace(partial, final)
        return final

    def length(self, name):
        """The decoded length of an input in seconds (the length its outputs must have)."""
        if name not in self._lengths:
            self._lengths[name] = decoded_seconds(self.path(name))
            with open(self._lengths_path, "w") as file:
                json.dump(self._lengths, file, indent=1)
        return self._lengths[name]

    def make_all(self):
        source = self._make("source10.wav", lambda out: FFMPEG + [
            "-f", "lavfi", "-i", _TONE, "-c:a", "pcm_s16le", out])
        self._make("ten.mp3", lambda out: FFMPEG + [
            "-i", source, "-c:a", "libmp3lame", "-b:a", "128k", out])
        self._make("ten.flac", lambda out: FFMPEG + ["-i", source, "-c:a", "flac", out])
        listing = self.path("six-times-ten.txt")
        with open(listing, "w") as file:
            file.write("file 'ten.mp3'\n" * 6)
        self._make("sixty.mp3", lambda out: FFMPEG + [
            "-f", "concat", "-safe", "0", "-i", listing, "-c", "copy", out])
        self._make("clip720.mp4", lambda out: FFMPEG + [
            "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=180", "-i", source,
            "-map", "0:v", "-map", "1:a", "-t", "180", "-c:v", "libx264", "-preset", "ultrafast",
            "-b:v", "2M", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k", out])
        for part in range(1, 5):
            self._make("part%d.mp3" % part, lambda out, part=part: FFMPEG + [
                "-ss", str(120 * (part - 1)), "-t", "180", "-i", source, "-c:a", "libmp3lame",
                "-b:a", "128k", out])
        self._make_capture()
        for name in ("source10.wav", "ten.mp3", "ten.flac", "sixty.mp3", "clip720.mp4",
                     "part1.mp3", "part2.mp3", "part3.mp3", "part4.mp3"):
            self.length(name)

    def _make_capture(self):
        final = self.path("capture400.pcap")
        count_path = self.path("capture400.urls")
        if os.path.exists(final) and os.path.exists(count_path):
            return
        partial = self.path("capture400.partial.pcap")
        say("   making capture400.pcap (sniffer_bench 400, its own figures follow)")
        text = quiet([os.path.join(self.bin, "sniffer_bench"), "400", partial]).decode()
        for line in text.splitlines():
            say("      " + line)
        planted = re.search(r"(\d+) stream URLs planted", text)
        if not planted:
            raise BenchError("sniffer_bench did not say how many URLs it planted")
        os.replace(partial, final)
        with open(count_path, "w") as file:
            file.write(planted.group(1) + "\n")

    def planted_urls(self):
        with open(self.path("capture400.urls")) as file:
            return int(file.read())
