#!/usr/bin/env python3
"""How long a leave takes with a device hung at one call.

For every call of the DSP that a scenario can hang, and the GPIO driver's
two looks (is a card in, HOLD), and for a recording and
a playback, the real recorder runs on a fresh simulated handheld: the call
is made to hang just before the run starts, and the leave key is pressed a
second into the run. The figure is the time from the trace line of the
key's press to the recorder's "exit code" line, as the lines arrive on its
standard output. A call the run never makes shows as an ordinary leave.

    python3 bench/leave_times.py [build] [--busy N]

build: the build folder (default build); --busy N: N processes that keep a
processor busy meanwhile (default 0).
"""

import os
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CALLS = [("dsp", call) for call in
         ["open", "SETFRAGMENT", "SETFMT", "STEREO", "SPEED", "GETBLKSIZE", "read", "poll",
          "write", "GETODELAY", "SYNC", "RESET", "close"]] + [("gpio", "CARD"), ("gpio", "HOLD")]


def scenario(device, call, playback):
    lines = []
    if playback:
        lines += ["200 key down down", "250 key up down", "1700 key down down",
                  "1750 key up down"]
    lines += ["2400 %s hang at %s" % (device, call),
              "2500 key down " + ("backspace" if playback else "down"),
              "2550 key up " + ("backspace" if playback else "down"),
              "3500 key down kp_plus", "3550 key up kp_plus", "9000 quit"]
    return "\n".join(lines) + "\n"


def leave_ms(build, device, call, playback):
    with tempfile.TemporaryDirectory() as root:
        subprocess.run([os.path.join(build, "handheld-root"), root], check=True,
                       stdout=subprocess.DEVNULL)
        script = os.path.join(root, "scenario.txt")
        with open(script, "w") as f:
            f.write(scenario(device, call, playback))
        env = dict(os.environ, HANDHELD_ROOT=root, HANDHELD_SCRIPT=script,
                   HANDHELD_MIC="counter", HANDHELD_TRACE="1", SDL_VIDEODRIVER="dummy",
                   SDL_AUDIODRIVER="dummy", TZ="UTC")
        proc = subprocess.Popen([os.path.join(build, "recorder")], cwd=TOP, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                bufsize=1)
        pressed = None
        met = False
        took = None
        for line in proc.stdout:
            now = time.monotonic()
            if "key down kp_plus" in line and pressed is None:
                pressed = now
            if "fault: %s hangs at %s" % (device, call) in line:
                met = True
            if "exit code" in line and pressed is not None:
                took = (now - pressed) * 1000
        proc.wait(timeout=60)
        return took, met


def main():
    args = sys.argv[1:]
    busy = 0
    if "--busy" in args:
        at = args.index("--busy")
        busy = int(args[at + 1])
        del args[at:at + 2]
    build = os.path.abspath(args[0] if args else os.path.join(TOP, "build"))
    hogs = [subprocess.Popen(["sha256sum", "/dev/zero"]) for _ in range(busy)]
    try:
        print("| hung at | recording (ms) | playback (ms) |")
        print("|---|---|---|")
        for device, call in CALLS:
            cells = []
            for playback in (False, True):
                took, met = leave_ms(build, device, call, playback)
                cell = "no hand-over" if took is None else "%.0f" % took
                cells.append(cell + ("" if met else " (call not made)"))
            print("| %s `%s` | %s | %s |" % (device, call, cells[0], cells[1]), flush=True)
    finally:
        for hog in hogs:
            hog.kill()


if __name__ == "__main__":
    main()
