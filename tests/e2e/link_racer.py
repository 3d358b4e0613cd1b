#!/usr/bin/env python3
"""The attacker of the link race, on the host side (Windows code can't make links here).

Usage: link_racer.py <race folder> <signal folder> <seconds>

Waits for "race-go" in the signal folder, says "race-running", then keeps swapping each
folder infectedNN of the race folder for a symbolic link to victimNN and back, until
"race-stop" appears or the time is up. Then every folder is a folder again, and
"race-stopped" holds the number of swaps.
"""
import os
import sys
import time


def main():
    race, signals, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    signal = lambda name: os.path.join(signals, name)
    deadline = time.monotonic() + seconds
    while not os.path.exists(signal("race-go")):
        if time.monotonic() > deadline:
            return
        time.sleep(0.02)
    open(signal("race-running"), "w").close()
    folders = sorted(n for n in os.listdir(race) if n.startswith("infected"))
    swaps = 0
    while not os.path.exists(signal("race-stop")) and time.monotonic() < deadline:
        for name in folders:
            folder, held = os.path.join(race, name), os.path.join(race, "held" + name[8:])
            os.rename(folder, held)
            os.symlink("victim" + name[8:], folder)
            time.sleep(0.001)  # the link stands a moment
            os.remove(folder)
            os.rename(held, folder)
            swaps += 1
    with open(signal("race-stopped"), "w") as f:
        f.write(str(swaps))


if __name__ == "__main__":
    main()
