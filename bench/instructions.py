#!/usr/bin/env python3
"""Counts the instructions the recorder executes on the simulated handheld,
with valgrind's callgrind: a measure of what the handheld's processor must do
that does not depend on the machine it is taken on.

    bench/instructions.py [--build build]

Run from the repository's root after a build (./test.sh plain). Prints the
instructions of one second idle, of one second recording (the counter
microphone, so that the simulated sound card costs little) with the share of
its extra redraws, and of one full DrawScreen. A second is the difference
between two runs that differ only in how long they stay in that state, so
start-up and teardown cancel out; both include the simulator's own threads.
It needs valgrind and takes about a minute.
"""
import argparse
import os
import re
import subprocess
import tempfile

DRAW_SCREEN = "CRecorderView::DrawScreen(SDL_Surface*)"


def callgrind(build, scenario):
    """Runs the recorder under callgrind; returns the output file's text."""
    root = tempfile.mkdtemp(prefix="recorder-instructions-")
    subprocess.run([f"{build}/handheld-root", root], check=True)
    # Without the menu program the recorder ends instead of replacing itself,
    # and callgrind writes its counts at that end.
    os.unlink(os.path.join(root, "usr", "orvo", "orvomenu"))
    script = os.path.join(root, "sim", "scenario.txt")
    with open(script, "w") as f:
        f.write(scenario)
    out = os.path.join(root, "sim", "callgrind.out")
    env = dict(os.environ, HANDHELD_ROOT=root, HANDHELD_SCRIPT=script,
               HANDHELD_MIC="counter", SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    f"{build}/recorder"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        text = f.read()
    subprocess.run(["rm", "-rf", root], check=True)
    return text


class Counts:
    """The instructions of a run, and of its calls of one function."""

    def __init__(self, text, function):
        self.total = int(re.search(r"^(?:totals|summary): (\d+)", text, re.M).group(1))
        self.calls = 0
        self.inside = 0  # inclusive, over all the calls
        names = {}
        lines = text.splitlines()
        for at, line in enumerate(lines):
            named = re.match(r"c?fn=\((\d+)\)(?: (.*))?", line)
            if named and named.group(2):
                names[named.group(1)] = named.group(2)
            # A call is "cfn=" naming the callee, "calls=COUNT ...", then
            # "POSITION INCLUSIVE-COST".
            if named and line.startswith("cfn=") and names.get(named.group(1)) == function:
                self.calls += int(lines[at + 1].split()[0][len("calls="):])
                self.inside += int(lines[at + 2].split()[1])


def tap(at, key):
    return f"{at} key down {key}\n{at + 50} key up {key}\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    seconds = 5

    def run(scenario):
        return Counts(callgrind(args.build, scenario), DRAW_SCREEN)

    short = run("3000 quit\n")
    long = run(f"{3000 + seconds * 1000} quit\n")
    idle = (long.total - short.total) / seconds
    print(f"one second idle:      {idle:14,.0f} instructions")

    end = 12000
    brief = run(tap(1000, "down") + tap(2000, "down") + f"{end} quit\n")
    longer = run(tap(1000, "down") + tap(2000 + seconds * 1000, "down") + f"{end} quit\n")
    recording = idle + (longer.total - brief.total) / seconds
    draws = (longer.calls - brief.calls) / seconds
    drawing = (longer.inside - brief.inside) / seconds
    print(f"one second recording: {recording:14,.0f} instructions, of which "
          f"{drawing:,.0f} in {draws:.1f} DrawScreen more than idle")

    calls = short.calls + long.calls + brief.calls + longer.calls
    inside = short.inside + long.inside + brief.inside + longer.inside
    print(f"one DrawScreen:       {inside / calls:14,.0f} instructions (the mean of {calls})")


if __name__ == "__main__":
    main()
