#!/usr/bin/env python3
"""Stops a program at one chosen read of one file, for the tests of runs cut short.

Started by a test under Wine as a host program:

    read_hold.py FILE COUNT kill|hold CONTROL_FOLDER [SECONDS]

It watches FILE with fanotify access permission events and lets every read through at once,
until CONTROL_FOLDER/armed appears; from then on it counts the reads of FILE, and the COUNT-th
one is never let through: in mode kill the reading process is killed outright (SIGKILL, as a
power cut would end it) while it waits for the read; in mode hold the read waits until
CONTROL_FOLDER/release appears. Since the reader writes what it read before it reads again, a
copy stopped at its COUNT-th read holds exactly the COUNT - 1 chunks before it.

It reports through files in CONTROL_FOLDER: "ready" once watching, "refused" (with the reason)
when the system does not allow the watch, "held" when the read waits, "done" when it has acted,
"ended" when it is gone.
It gives up after SECONDS (default 300) or as soon as CONTROL_FOLDER/stop appears; reads still
waiting are let through when it ends, so the watched program can never stay stuck.
"""
import ctypes
import os
import select
import signal
import struct
import sys
import time

FAN_CLASS_CONTENT = 0x4
FAN_CLOEXEC = 0x1
FAN_MARK_ADD = 0x1
FAN_ACCESS_PERM = 0x20000
FAN_ALLOW = 0x1
EVENT = struct.Struct("IBBHQii")  # struct fanotify_event_metadata
RESPONSE = struct.Struct("iI")  # struct fanotify_response


def report(folder, name, text=""):
    with open(os.path.join(folder, name + ".tmp"), "w") as out:
        out.write(text)
    os.rename(os.path.join(folder, name + ".tmp"), os.path.join(folder, name))


def main():
    path, count, mode, control = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    deadline = time.monotonic() + (float(sys.argv[5]) if len(sys.argv) > 5 else 300.0)
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int,
                                   ctypes.c_char_p]
    group = libc.fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, os.O_RDONLY)
    if group < 0 or libc.fanotify_mark(group, FAN_MARK_ADD, FAN_ACCESS_PERM, -100,
                                       os.fsencode(path)) < 0:
        report(control, "refused", "fanotify: " + os.strerror(ctypes.get_errno()))
        return
    report(control, "ready")
    reads = 0
    waiting = None  # the event whose read is held
    done = False
    while not done and time.monotonic() < deadline and not os.path.exists(
            os.path.join(control, "stop")):
        if waiting is not None and os.path.exists(os.path.join(control, "release")):
            os.write(group, RESPONSE.pack(waiting, FAN_ALLOW))
            os.close(waiting)
            waiting = None
            report(control, "done", "released read %d" % reads)
            done = True
        if done or not select.select([group], [], [], 0.02)[0]:
            continue
        data = os.read(group, 4096)
        for offset in range(0, len(data), EVENT.size):
            _, _, _, _, mask, fd, pid = EVENT.unpack_from(data, offset)
            if os.path.exists(os.path.join(control, "armed")):
                reads += 1
            if reads == count and waiting is None and not done:
                if mode == "kill":
                    # Reported before the kill: whoever sees the reader gone finds the report.
                    report(control, "done", "killed at read %d" % reads)
                    os.kill(pid, signal.SIGKILL)
                    done = True
                else:
                    waiting = fd
                    report(control, "held", "read %d" % reads)
                    continue
            os.write(group, RESPONSE.pack(fd, FAN_ALLOW))
            os.close(fd)
    os.close(group)  # lets a read still waiting through


if __name__ == "__main__":
    try:
        main()
    finally:
        report(sys.argv[4], "ended")
