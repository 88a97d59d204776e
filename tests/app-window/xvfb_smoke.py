#!/usr/bin/python3
"""Starts the installed application under a real X server, finds its window
and closes it the way a window manager does (WM_DELETE_WINDOW); the program
must then end by itself with status 0.

usage: xvfb-run -a python3 xvfb_smoke.py PREFIX

PREFIX is an installed tree (bin/velk, bin/velk-cli, lib/libvelk-vrec.so).
The application gets a blank virtual DVD+R so it has a recorder to list."""
import os
import subprocess
import sys
import tempfile
import time

from Xlib import X, display, protocol


def find_window(dpy, title_start):
    pending = [dpy.screen().root]
    while pending:
        window = pending.pop()
        try:
            name = window.get_wm_name()
            if isinstance(name, bytes):
                name = name.decode("utf-8", "replace")
            if name and name.startswith(title_start):
                return window
            pending.extend(window.query_tree().children)
        except Exception:  # windows come and go while we look
            continue
    return None


def main():
    prefix = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        disc = os.path.join(folder, "blank.vdisc")
        subprocess.run([os.path.join(prefix, "bin", "velk-cli"), "vdisc", "create", "--medium", "dvd+r", disc],
                       check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, VELK_VIRTUAL_DISCS=disc, XDG_CONFIG_HOME=folder)
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("VELK_VIRTUAL_RECORDER_LIBRARY", None)
        app = subprocess.Popen([os.path.join(prefix, "bin", "velk")], env=env)
        dpy = display.Display()
        window = None
        deadline = time.monotonic() + 60
        while window is None and time.monotonic() < deadline and app.poll() is None:
            window = find_window(dpy, "Orvell V")
            if window is None:
                time.sleep(0.2)
        if window is None:
            app.kill()
            print("xvfb smoke: the window 'Orvell V...' did not appear", file=sys.stderr)
            return 1
        geometry = window.get_geometry()
        print(f"xvfb smoke: found '{window.get_wm_name()}' {geometry.width}x{geometry.height}")
        protocols = dpy.intern_atom("WM_PROTOCOLS")
        delete = dpy.intern_atom("WM_DELETE_WINDOW")
        message = protocol.event.ClientMessage(window=window, client_type=protocols,
                                               data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(message, event_mask=X.NoEventMask)
        dpy.flush()
        try:
            status = app.wait(timeout=30)
        except subprocess.TimeoutExpired:
            app.kill()
            print("xvfb smoke: the application did not end after its window was closed", file=sys.stderr)
            return 1
        if status != 0:
            print(f"xvfb smoke: the application ended with status {status}", file=sys.stderr)
            return 1
        print("xvfb smoke: closed cleanly")
        return 0


if __name__ == "__main__":
    sys.exit(main())
