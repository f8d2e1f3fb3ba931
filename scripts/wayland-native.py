#!/usr/bin/python3
"""The compositor's side of scripts/wayland-native, over the compositor's session bus.

  wayland-native.py kwin-frames MARK LOG     KWin: its windows, one a line: the frame's x y w h,
                                             the inside's x y, moving, popup, caption (KWin's
                                             script prints them in LOG, KWin's standard error)
  wayland-native.py kwin-shot X Y W H OUT    KWin: PNG of that part of the screen
  wayland-native.py mutter-input             mutter: input from standard input, as the
                                             fake-input tool takes it for KWin (no to:X,Y)
"""
import os
import struct
import sys
import tempfile
import threading
import time
import zlib

import dbus


def kwin_frames(mark, log):
    # KWin's scripts answer only through its log; the mark tells this run's lines from older ones.
    script = f"""
for (const w of workspace.clientList()) {{
  const f = w.frameGeometry, c = w.bufferGeometry;
  print("{mark}", f.x, f.y, f.width, f.height, c.x, c.y, w.move, w.popupWindow, w.caption);
}}
print("{mark} end");
"""
    bus = dbus.SessionBus()
    scripting = dbus.Interface(bus.get_object("org.kde.KWin", "/Scripting"), "org.kde.kwin.Scripting")
    with tempfile.NamedTemporaryFile("w", suffix=".js") as file:
        file.write(script)
        file.flush()
        number = scripting.loadScript(file.name, mark, signature="ss")
        try:
            path = f"/{number}"  # KWin 5.27; 6 has /Scripting/Script{number}
            dbus.Interface(bus.get_object("org.kde.KWin", path), "org.kde.kwin.Script").run()
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                with open(log, errors="replace") as text:
                    lines = [l.split(mark, 1)[1].strip() for l in text if mark in l]
                if "end" in lines:
                    print("\n".join(lines[: lines.index("end")]))
                    return 0
                time.sleep(0.02)
            print("KWin's script printed nothing", file=sys.stderr)
            return 1
        finally:
            scripting.unloadScript(mark)


def write_png(path, width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def kwin_shot(x, y, width, height, out):
    read_end, write_end = os.pipe()
    data = bytearray()
    reader = threading.Thread(target=lambda: [data.extend(block) for block in iter(lambda: os.read(read_end, 1 << 16), b"")])
    reader.start()
    shots = dbus.Interface(dbus.SessionBus().get_object("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2"),
                           "org.kde.KWin.ScreenShot2")
    # KWin answers first, then writes the pixels and closes its copy of the pipe.
    pipe = dbus.types.UnixFd(write_end)
    os.close(write_end)
    try:
        info = shots.CaptureArea(x, y, width, height, {"native-resolution": True}, pipe)
    finally:
        os.close(pipe.take())
    reader.join()
    os.close(read_end)
    width, height, stride = int(info["width"]), int(info["height"]), int(info["stride"])
    # QImage's 32-bit formats, little-endian: blue, green, red, alpha.
    rows = []
    for row in range(height):
        line = data[row * stride: row * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(rgb))
    write_png(out, width, height, rows)
    return 0


def mutter_input():
    """Input as the fake-input tool takes it, one command a line, answered "ok"; no absolute
    motion, which mutter takes only within a screen cast."""
    bus = dbus.SessionBus()
    desktop = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop"),
                             "org.gnome.Mutter.RemoteDesktop")
    session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", desktop.CreateSession()),
                             "org.gnome.Mutter.RemoteDesktop.Session")
    session.Start()
    for line in sys.stdin:
        kind, _, value = line.strip().partition(":")
        if kind == "by":
            dx, dy = (float(v) for v in value.split(","))
            session.NotifyPointerMotionRelative(dx, dy)
        elif kind in ("press", "release"):
            session.NotifyPointerButton(int(value), kind == "press")
        elif kind == "key":
            session.NotifyKeyboardKeycode(int(value), True)
            session.NotifyKeyboardKeycode(int(value), False)
        else:
            raise SystemExit(f"unknown command {line}")
        print("ok", flush=True)
    session.Stop()
    return 0


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "kwin-frames":
        sys.exit(kwin_frames(*arguments))
    if command == "kwin-shot":
        sys.exit(kwin_shot(*(int(a) for a in arguments[:4]), arguments[4]))
    if command == "mutter-input":
        sys.exit(mutter_input())
    sys.exit(__doc__)
