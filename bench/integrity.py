#!/usr/bin/env python3
"""What a recording survives on the simulated handheld, measured on the real
program with the counter microphone (every frame carries its number):

    bench/integrity.py stall [--minutes 10]   recording while the card stalls 2 s every 10 s
    bench/integrity.py cpu --baseline DIR [--seconds 60]
                                              CPU while recording, this build and another
    bench/integrity.py kill [--runs 20]       kill -9 at random moments of a recording
    bench/integrity.py cut [--runs 20]        power cuts at random moments, some in a stall

Run from the repository's root after a build (--build, default build/). Each
file left on the card is checked with Python's wave module and, where it is
installed, sox: it must open without repair, declare no more than it holds,
hold an unbroken counter run, and have lost at most a second of what was
recorded until the recorder died.
"""
import argparse
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import wave

from measure import cpu_seconds

RATE = 22050
FRAME = 4


class Recorder:
    """One run of the recorder on a fresh handheld root, its log timed (line
    by line: stdbuf keeps its standard output from waiting in a buffer)."""

    def __init__(self, build, scenario):
        self.root = tempfile.mkdtemp(prefix="recorder-integrity-")
        subprocess.run([f"{build}/handheld-root", self.root], check=True)
        script = os.path.join(self.root, "sim", "scenario.txt")
        with open(script, "w") as f:
            f.write(scenario)
        env = dict(os.environ, HANDHELD_ROOT=self.root, HANDHELD_SCRIPT=script,
                   HANDHELD_MIC="counter", SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
        self.lines = []
        self.started = threading.Event()
        self.process = subprocess.Popen(["stdbuf", "-oL", f"{build}/recorder"], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append((time.monotonic(), line.rstrip("\n")))
            if "(Record) RecordStart(" in line:
                self.started.set()

    def start_time(self):
        for at, line in self.lines:
            if "(Record) RecordStart(" in line:
                return at
        return None

    def recordings(self):
        folder = os.path.join(self.root, "mnt", "sd", "music", "rec")
        if not os.path.isdir(folder):
            return []
        return [os.path.join(folder, name) for name in sorted(os.listdir(folder))]

    def finish(self, timeout=30):
        self.process.wait(timeout=timeout)
        self.reader.join(timeout=5)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


def check_file(path, recorded_seconds=None, may_lose=1.0):
    """Faults of one recording; the seconds it declares."""
    faults = []
    size = os.path.getsize(path)
    try:
        with wave.open(path, "rb") as w:
            params = (w.getnchannels(), w.getsampwidth(), w.getframerate())
            frames = w.getnframes()
            data = w.readframes(frames)
    except Exception as e:  # noqa: BLE001 - any refusal of the reader is the finding
        return [f"wave module refuses it: {e}"], 0
    if params != (2, 2, RATE):
        faults.append(f"format {params}")
    if 44 + frames * FRAME > size:
        faults.append(f"declares {frames * FRAME} bytes, holds {size - 44}")
    if shutil.which("sox"):
        sox = subprocess.run(["sox", path, "-n", "stat"], capture_output=True, text=True)
        if sox.returncode != 0 or "WARN" in sox.stderr:
            faults.append("sox: " + sox.stderr.strip().splitlines()[-1] if sox.stderr else "sox")
    samples = struct.unpack(f"<{len(data) // 2}h", data)
    for i in range(0, len(samples) - 2, 2):
        if samples[i] != samples[i + 1] or (samples[i + 2] - samples[i]) % 65536 != 1:
            step = (samples[i + 2] - samples[i]) % 65536
            faults.append(f"counter breaks at frame {i // 2} ({i // 2 / RATE:.2f} s): "
                          f"the next frame is {step} on, not 1")
            break
    seconds = frames / RATE
    if recorded_seconds is not None and recorded_seconds - seconds > may_lose:
        faults.append(f"lost {recorded_seconds - seconds:.2f} s")
    return faults, seconds


def tap(at, key="down"):
    return f"{at} key down {key}\n{at + 50} key up {key}\n"


class Hiccups:
    """Times at which this process, sleeping 20 ms at a time, woke more than
    0.3 s late: the machine itself stood still, for every program on it."""

    def __init__(self):
        self.seen = []
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _watch(self):
        start = time.monotonic()
        while not self.stop.is_set():
            before = time.monotonic()
            time.sleep(0.02)
            late = time.monotonic() - before - 0.02
            if late > 0.3:
                self.seen.append((before - start, late))

    def report(self):
        self.stop.set()
        self.thread.join()
        return ", ".join(f"{at:.1f} s ({late:.2f} s late)" for at, late in self.seen) or "none"


def run_stall(args):
    length = int(args.minutes * 60 * 1000)
    scenario = ("0 card stall 2000 every 10000\n" + tap(300) + tap(300 + length) +
                f"{length + 8000} quit\n")
    hiccups = Hiccups()
    rec = Recorder(args.build, scenario)
    rec.finish(timeout=length / 1000 + 60)
    print(f"the machine stood still at: {hiccups.report()}")
    start = rec.start_time()
    stop = next((at for at, line in rec.lines if "Pressed stop button" in line), None)
    files = rec.recordings()
    print(f"stall: {len(files)} file(s)")
    for path in files:
        faults, seconds = check_file(path, stop - start if start and stop else None)
        size = os.path.getsize(path)
        with wave.open(path, "rb") as w:
            exact = 44 + w.getnframes() * FRAME == size - (size - 44) % FRAME
        print(f"  {os.path.basename(path)}: {seconds:.2f} s declared, recorded "
              f"{(stop - start) if start and stop else float('nan'):.2f} s, header exact: {exact}, "
              f"faults: {faults or 'none'}")
        if faults:
            print(f"  kept for a look: {rec.root}")
            return
    rec.remove()


def run_cpu(args):
    phase = args.seconds * 1000
    scenario = tap(1000) + tap(1000 + phase) + f"{phase + 4000} quit\n"
    builds = (("baseline", args.baseline), ("this build", args.build))
    shares = {name: [] for name, _ in builds}
    # Taken in turns, so a change in what else the machine does falls on both.
    for _ in range(args.repeat):
        for name, build in builds:
            rec = Recorder(build, scenario)
            rec.started.wait(timeout=30)
            time.sleep(2)
            a, ta = cpu_seconds(rec.process.pid), time.monotonic()
            time.sleep(args.seconds - 4)
            b, tb = cpu_seconds(rec.process.pid), time.monotonic()
            rec.finish(timeout=60)
            rec.remove()
            shares[name].append(100 * (b - a) / (tb - ta))
    for name, values in shares.items():
        print(f"cpu {name:10s}: " + ", ".join(f"{v:.2f} %" for v in values) +
              f" of one core while recording (mean {sum(values) / len(values):.2f} %)")


def run_interrupted(args, how):
    rng = random.Random(args.seed)
    worst = 0.0
    bad = 0
    for run in range(args.runs):
        # The first runs die within the first 100 ms of the recording.
        after = rng.uniform(0, 0.1) if run < 4 else rng.uniform(0.1, 12)
        scenario = tap(300)
        stall_from = None
        if how == "cut":
            # The recording starts at about 360 ms of the scenario's clock;
            # half of the cuts come while the card stalls.
            cut_at = 360 + int(after * 1000)
            if run % 2:
                stall_from = max(400, cut_at - rng.randint(0, 1500))
                scenario += f"{stall_from} card stall 2000\n"
            scenario += f"{cut_at} power cut\n"
        lines = sorted(scenario.splitlines(), key=lambda l: int(l.split()[0]))
        scenario = "\n".join(lines) + "\n"
        rec = Recorder(args.build, scenario)
        if not rec.started.wait(timeout=30):
            print(f"run {run}: the recording never started")
            bad += 1
            continue
        start = rec.start_time()
        if how == "kill":
            time.sleep(max(0.0, start + after - time.monotonic()))
            rec.process.send_signal(signal.SIGKILL)
        rec.process.wait(timeout=60)
        died = time.monotonic()
        rec.finish()
        files = rec.recordings()
        recorded = died - start
        # What the card would not take while it stood still is not on it
        # when the power goes: a second may go beyond that.
        held_back = (max(0, min(cut_at, stall_from + 2000) - stall_from) / 1000
                     if stall_from else 0.0)
        faults = []
        seconds = 0.0
        for path in files:
            f, seconds = check_file(path, recorded, 1.0 + held_back)
            faults += f
        lost = recorded - seconds if files else recorded
        if not files and recorded > 1.0:
            faults.append("no file")
        worst = max(worst, lost)
        bad += bool(faults)
        stall = (f", stall from {stall_from} ms ({held_back:.2f} s held back)"
                 if stall_from else "")
        print(f"run {run:2d}: died {recorded * 1000:7.0f} ms into the recording{stall}: "
              f"{len(files)} file(s), {seconds:.2f} s declared, lost {lost:.2f} s, "
              f"faults: {faults or 'none'}")
        rec.remove()
    print(f"{how}: {args.runs} runs, {bad} with faults, most lost {worst:.2f} s")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["stall", "cpu", "kill", "cut"])
    parser.add_argument("--build", default="build")
    parser.add_argument("--baseline")
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.what == "stall":
        run_stall(args)
    elif args.what == "cpu":
        if not args.baseline:
            parser.error("cpu needs --baseline, the build folder of the program to compare with")
        run_cpu(args)
    else:
        run_interrupted(args, args.what)


if __name__ == "__main__":
    main()
