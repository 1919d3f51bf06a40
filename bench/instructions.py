#!/usr/bin/env python3
"""What the recorder costs the handheld's processor on the simulated handheld,
in figures that do not depend on the machine they are taken on: the
instructions it executes (valgrind's callgrind) and how often its threads
wake up (/proc/PID/task/*/status). One table, the recorder beside a program
that only starts SDL as the recorder does and waits (bench/sdl_floor.cpp, "wait").

    bench/instructions.py [--build build] [--floor PROGRAM] [--seconds 5]

Run from the repository's root after a build (the recorder loads ./res). A
second in a state is the difference between two runs that differ only in how
long they stay in it, so start-up and teardown cancel out; a recording or a
playback second is an idle second plus the difference. Start-up is a run that
quits three seconds after its first frame, less three idle seconds, so it
holds the teardown too. The instructions are the whole process's, the
simulator's threads included; the simulator's work in PresentScreen (the copy
of each flipped frame) is counted apart, since the handheld does none of it.
The recording hears the counter microphone, so the simulated card costs
little. Wake-ups are voluntary context switches of all threads per second,
taken without valgrind over the middle of each phase. It needs valgrind and
takes about three minutes.
"""
import argparse
import os
import re
import signal
import subprocess
import tempfile
import time

DRAW = "CRecorderView::DrawScreen"
PRESENT = "platform::PresentScreen"
FLIP = "SDL_Flip"
# Parts of the program's DrawScreen; what they leave is the background bands
# and the message strip, which are blitted in DrawScreen itself.
PARTS = [("status bar", "CRecorderView::DrawStatusBar"),
         ("counter", "CRecorderView::DrawCounter"),
         ("buttons", "CMemButton::Draw"),
         ("message strip", "CMsgBox::Draw"),
         ("texts", "CRecorderView::DrawText")]
FUNCTIONS = [DRAW, PRESENT, FLIP] + [f for _, f in PARTS]


def fresh_root(build, scenario):
    root = tempfile.mkdtemp(prefix="recorder-instructions-")
    subprocess.run([f"{build}/handheld-root", root], check=True)
    # Without the menu program the recorder ends instead of replacing itself,
    # and callgrind writes its counts at that end.
    os.unlink(os.path.join(root, "usr", "orvo", "orvomenu"))
    script = os.path.join(root, "sim", "scenario.txt")
    with open(script, "w") as f:
        f.write(scenario)
    env = dict(os.environ, HANDHELD_ROOT=root, HANDHELD_SCRIPT=script,
               HANDHELD_MIC="counter", SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    return root, env


def callgrind(command, env, root):
    """Runs a program under callgrind; returns the output file's text."""
    out = os.path.join(root, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + command,
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        return f.read()


class Counts:
    """The instructions of a run, and for each function named its calls and
    its inclusive instructions over all of them."""

    def __init__(self, text):
        self.total = int(re.search(r"^(?:totals|summary): (\d+)", text, re.M).group(1))
        self.calls = dict.fromkeys(FUNCTIONS, 0)
        self.inside = dict.fromkeys(FUNCTIONS, 0)
        names = {}
        lines = text.splitlines()
        for at, line in enumerate(lines):
            named = re.match(r"c?fn=\((\d+)\)(?: (.*))?", line)
            if not named:
                continue
            if named.group(2):
                names[named.group(1)] = named.group(2).split("(")[0]
            # A call is "cfn=" naming the callee, "calls=COUNT ...", then
            # "POSITION INCLUSIVE-COST".
            function = names.get(named.group(1))
            if line.startswith("cfn=") and function in self.calls:
                self.calls[function] += int(lines[at + 1].split()[0][len("calls="):])
                self.inside[function] += int(lines[at + 2].split()[1])

    def simulator(self):
        """What the simulator adds to the flips."""
        return self.inside[PRESENT] - self.inside[FLIP]


def recorder(build, scenario):
    root, env = fresh_root(build, scenario)
    try:
        return Counts(callgrind([f"{build}/recorder"], env, root))
    finally:
        subprocess.run(["rm", "-rf", root], check=True)


def floor(program, seconds):
    root = tempfile.mkdtemp(prefix="recorder-floor-")
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    try:
        return Counts(callgrind([program, "wait", str(seconds)], env, root))
    finally:
        subprocess.run(["rm", "-rf", root], check=True)


def tap(at, key):
    return f"{at} key down {key}\n{at + 50} key up {key}\n"


def switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                total += int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", f.read(),
                                       re.M).group(1))
        except (FileNotFoundError, ProcessLookupError):  # a thread that has just ended
            pass
    return total


def rate(pid, start, end):
    """Wake-ups per second between two moments (time.time())."""
    time.sleep(max(0, start - time.time()))
    a, ta = switches(pid), time.time()
    time.sleep(max(0, end - time.time()))
    return (switches(pid) - a) / (time.time() - ta)


def recorder_wakeups(build, phase):
    """Wake-ups per second idle and recording, on one run without valgrind."""
    scenario = "0 shot first.bmp\n" + tap(phase, "down") + tap(2 * phase, "down") + \
        f"{2 * phase + 1000} quit\n"
    root, env = fresh_root(build, scenario)
    process = subprocess.Popen([f"{build}/recorder"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    first = os.path.join(root, "sim", "first.bmp")
    while not os.path.exists(first):
        time.sleep(0.005)
    t0 = os.stat(first).st_mtime
    margin = 1.0
    idle = rate(process.pid, t0 + margin, t0 + phase / 1000 - margin)
    recording = rate(process.pid, t0 + phase / 1000 + margin, t0 + 2 * phase / 1000 - margin)
    process.wait()
    subprocess.run(["rm", "-rf", root], check=True)
    return idle, recording


def floor_wakeups(program, seconds):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    process = subprocess.Popen([program, "wait"], env=env, stdout=subprocess.DEVNULL)
    t0 = time.time()
    idle = rate(process.pid, t0 + 1, t0 + 1 + seconds)
    process.send_signal(signal.SIGTERM)  # SDL makes it an SDL_QUIT
    process.wait()
    return idle


def source_of(build):
    """The commit of the tree the build was made from, as far as it tells."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        source = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", f.read(), re.M).group(1)
    described = subprocess.run(["git", "-C", source, "describe", "--always", "--dirty"],
                               capture_output=True, text=True)
    return described.stdout.strip() or "not a git tree"


def processor():
    with open("/proc/cpuinfo") as f:
        return re.search(r"^model name\s*:\s*(.*)$", f.read(), re.M).group(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--floor", help="the only-waits program (BUILD/bench/sdl_floor)")
    parser.add_argument("--seconds", type=int, default=5)
    args = parser.parse_args()
    seconds = args.seconds
    waits = args.floor or f"{args.build}/bench/sdl_floor"

    short = recorder(args.build, "3000 quit\n")
    long = recorder(args.build, f"{3000 + seconds * 1000} quit\n")
    idle = (long.total - short.total) / seconds
    startup = short.total - 3 * idle

    end = 2000 + seconds * 1000 + 5000
    brief = recorder(args.build, tap(1000, "down") + tap(2000, "down") + f"{end} quit\n")
    longer = recorder(args.build, tap(1000, "down") + tap(2000 + seconds * 1000, "down") +
                      f"{end} quit\n")
    recording_more = (longer.total - brief.total) / seconds
    recording_sim = (longer.simulator() - brief.simulator()) / seconds

    # Both runs play the same recording, one for a second, one for more.
    made = tap(1000, "down") + tap(3000 + seconds * 1000, "down")
    play = 5000 + seconds * 1000
    end = play + 2 * 1000 + seconds * 1000
    played = recorder(args.build, made + tap(play, "backspace") + tap(play + 1000, "backspace") +
                      f"{end} quit\n")
    playing = recorder(args.build, made + tap(play, "backspace") +
                       tap(play + 1000 + seconds * 1000, "backspace") + f"{end} quit\n")
    playing_more = (playing.total - played.total) / seconds
    playing_sim = (playing.simulator() - played.simulator()) / seconds

    runs = [short, long, brief, longer, played, playing]
    calls = sum(r.calls[DRAW] for r in runs)
    simulator = sum(r.simulator() for r in runs) / calls
    program = sum(r.inside[DRAW] for r in runs) / calls - simulator

    floor_short = floor(waits, 3)
    floor_long = floor(waits, 3 + seconds)
    floor_idle = (floor_long.total - floor_short.total) / seconds
    floor_startup = floor_short.total - 3 * floor_idle

    wake_idle, wake_recording = recorder_wakeups(args.build, 10000)
    wake_floor = floor_wakeups(waits, 8)

    def m(value):
        return f"{value / 1e6:,.2f} M"

    rows = [
        ("start-up and teardown", m(startup), m(floor_startup)),
        ("one second idle", m(idle), m(floor_idle)),
        ("one second recording", m(idle + recording_more), ""),
        ("  more than idle", m(recording_more), ""),
        ("  more than idle, without the simulator's frame copy",
         m(recording_more - recording_sim), ""),
        ("one second playing", m(idle + playing_more), ""),
        ("  more than idle, without the simulator's frame copy",
         m(playing_more - playing_sim), ""),
        (f"one DrawScreen, the program's share (mean of {calls})", m(program), ""),
    ]
    for name, function in PARTS:
        share = sum(r.inside[function] for r in runs) / calls
        rows.append((f"  of which {name}", m(share), ""))
    rows += [
        ("one DrawScreen, the simulator's share in PresentScreen", m(simulator), ""),
        ("wake-ups per second idle", f"{wake_idle:,.0f}", f"{wake_floor:,.0f}"),
        ("wake-ups per second recording", f"{wake_recording:,.0f}", ""),
    ]
    print(f"build {args.build} from {source_of(args.build)}, {time.strftime('%Y-%m-%d')}, "
          f"{processor()}; instructions in millions (callgrind)")
    width = max(len(r[0]) for r in rows)
    print(f"| {'':{width}} | {'recorder':>10} | {'only waits':>10} |")
    print(f"|{'-' * (width + 2)}|{'-' * 11}:|{'-' * 11}:|")
    for name, value, reference in rows:
        print(f"| {name:{width}} | {value:>10} | {reference:>10} |")


if __name__ == "__main__":
    main()
