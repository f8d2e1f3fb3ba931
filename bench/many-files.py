#!/usr/bin/env python3
"""Memory and start-up of `ornavel --console` following many idle files: the resident memory
(VmRSS) and threads once every file is followed, and the time from the start until then; the
memory per file is the difference to the same with one file. A file counts as followed when a
line appended to it comes out; each file gets such a line, resent until it shows, so that
start-up is not mistaken for the last file's alone. --program compares another build.

Run: bench/many-files.py [--program=build/release/src/app/ornavel] [--files=1000] [--rounds=3]
Prints per program the medians over the rounds, and the memory per file.
"""
import argparse
import os
import select
import signal
import statistics
import subprocess
import tempfile
import time


def status(pid, key):
    with open(f"/proc/{pid}/status") as lines:
        for line in lines:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise KeyError(key)


def write_config(folder, files):
    os.makedirs(os.path.join(folder, "Ornavel"), exist_ok=True)
    entries = "".join(f"<Filename>{name}</Filename>" for name in files)
    with open(os.path.join(folder, "Ornavel", "Config.xml"), "w") as config:
        config.write('<?xml version="1.0"?>\r\n<Config><MonitorFilenames>' + entries +
                     '</MonitorFilenames><MonitorSyslog value="False"/></Config>\r\n')


def read_available(process, pending):
    """Reads what the program printed so far; answers it as text."""
    chunks = []
    while select.select([process.stdout], [], [], 0.01)[0]:
        chunk = os.read(process.stdout.fileno(), 1 << 16)
        if not chunk:
            break
        chunks.append(chunk)
    return pending + b"".join(chunks).decode(errors="replace")


def one_round(program, count):
    with tempfile.TemporaryDirectory() as folder:
        files = [os.path.join(folder, f"idle{i}.log") for i in range(count)]
        for name in files:
            open(name, "w").close()
        write_config(folder, files)
        started = time.monotonic()
        process = subprocess.Popen([program, "--console"], stdout=subprocess.PIPE,
                                   env=dict(os.environ, XDG_CONFIG_HOME=folder))
        waiting, text = set(range(count)), ""
        deadline = started + 60
        while waiting and time.monotonic() < deadline:
            for index in waiting:
                with open(files[index], "a") as log:
                    log.write(f"followed {index}\n")
            text = read_available(process, text)
            lines = text.split("\n")
            text = lines.pop()
            for line in lines:
                marker = line.rsplit("followed ", 1)
                if len(marker) == 2 and marker[1].isdigit():
                    waiting.discard(int(marker[1]))
        elapsed = time.monotonic() - started
        if waiting:
            raise SystemExit(f"{len(waiting)} files never came out")
        rss, threads = status(process.pid, "VmRSS"), status(process.pid, "Threads")
        process.send_signal(signal.SIGTERM)
        process.communicate(timeout=30)
        return rss, threads, elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/release/src/app/ornavel")
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args()
    rounds = [(one_round(options.program, options.files), one_round(options.program, 1))
              for _ in range(options.rounds)]
    median = lambda values: statistics.median(values)
    rss = median(busy[0] for busy, _ in rounds)
    idle = median(empty[0] for _, empty in rounds)
    print(f"{options.program}: {options.files} files")
    print(f"  resident memory {rss / 1024:.1f} MiB (one file: {idle / 1024:.1f} MiB), "
          f"{(rss - idle) / (options.files - 1):.1f} KiB per file")
    print(f"  threads {median(busy[1] for busy, _ in rounds):.0f}, all followed after "
          f"{median(busy[2] for busy, _ in rounds):.2f} s (median of {options.rounds} rounds)")


if __name__ == "__main__":
    main()
