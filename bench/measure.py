#!/usr/bin/env python3
"""Measures the recorder as a whole on the simulated handheld: the time from
the start of the process to its first frame, and its CPU use idle, while
recording and while playing (30 seconds each by default).

    bench/measure.py [--build build] [--seconds 30]
    bench/measure.py --floor [--build build] [--seconds 30]

With --floor it measures, the same way, what SDL alone costs: bench/sdl_floor
opening SDL as the recorder does and then only waiting for events, and then
polling for them without waiting.

Run from the repository's root after a build. CPU use is the run time
the scheduler counted for every thread (/proc/<pid>/task/*/schedstat, in
nanoseconds) over the middle of each phase, as a share of one core.
"""
import argparse
import os
import subprocess
import tempfile
import time


def cpu_seconds(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:  # a thread that has just ended
            pass
    return total / 1e9


def floor(args):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    margin = 2
    for how in ("wait", "poll"):
        # It ends itself, by its own timer: SDL 1.2 turns SIGTERM into a quit
        # event from inside the signal handler, which deadlocks a program
        # that holds the event queue's lock nearly always, as the poller does.
        program = subprocess.Popen([f"{args.build}/bench/sdl_floor", how, str(args.seconds)],
                                   env=env, stdout=subprocess.PIPE, text=True)
        program.stdout.readline()  # "up": SDL and its screen are open
        time.sleep(margin)
        a, ta = cpu_seconds(program.pid), time.time()
        time.sleep(max(1, args.seconds - 2 * margin))
        b, tb = cpu_seconds(program.pid), time.time()
        program.wait(timeout=args.seconds + 60)
        print(f"SDL only, {how:4s} {100 * (b - a) / (tb - ta):5.2f} % of one core")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--floor", action="store_true")
    args = parser.parse_args()
    if args.floor:
        floor(args)
        return
    phase = args.seconds * 1000
    root = tempfile.mkdtemp(prefix="recorder-measure-")
    subprocess.run([f"{args.build}/handheld-root", root], check=True)
    # Idle, then a recording, then its playback; the screen comes up at 0.
    record_at, stop_at = phase, 2 * phase
    play_at = stop_at + 1000
    scenario = "\n".join([
        "0 shot first.bmp",
        f"{record_at} key down down", f"{record_at + 50} key up down",
        f"{stop_at} key down down", f"{stop_at + 50} key up down",
        f"{play_at} key down backspace", f"{play_at + 50} key up backspace",
        f"{play_at + phase + 2000} quit", ""])
    script = os.path.join(root, "sim", "measure.txt")
    with open(script, "w") as f:
        f.write(scenario)
    env = dict(os.environ, HANDHELD_ROOT=root, HANDHELD_SCRIPT=script,
               SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    started = time.time()
    recorder = subprocess.Popen([f"{args.build}/recorder"], env=env,
                                stdout=subprocess.DEVNULL)
    first = os.path.join(root, "sim", "first.bmp")
    while not os.path.exists(first):
        time.sleep(0.005)
    up = os.stat(first).st_mtime - started
    print(f"first frame: {up * 1000:.0f} ms after the process started "
          "(the screenshot of the first flip is written at once)")
    t0 = os.stat(first).st_mtime

    def share(start_ms, end_ms):
        time.sleep(max(0, t0 + start_ms / 1000 - time.time()))
        a, ta = cpu_seconds(recorder.pid), time.time()
        time.sleep(max(0, t0 + end_ms / 1000 - time.time()))
        b, tb = cpu_seconds(recorder.pid), time.time()
        return 100 * (b - a) / (tb - ta)

    margin = 2000
    for name, start in (("idle", 0), ("recording", record_at), ("playing", play_at)):
        print(f"{name:10s} {share(start + margin, start + phase - margin):5.2f} % of one core")
    recorder.wait()
    subprocess.run(["rm", "-rf", root])


if __name__ == "__main__":
    main()
