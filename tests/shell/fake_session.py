"""A stand-in for logind and the screen saver on the session bus of a test.

Commands on standard input, one per line, each answered with "done":
  sleep true|false, lock, active true|false, saver true|false  -- signals from the real names
  forged sleep|lock|active|saver                               -- the same from a nameless client
Prints "ready" once the names are taken and "session asked" whenever a session is looked up.
"""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

LOGIN = "org.freedesktop.login1"
MANAGER = "org.freedesktop.login1.Manager"
SESSION = "org.freedesktop.login1.Session"
SESSION_PATH = "/org/freedesktop/login1/session/_31"
SAVER = "org.freedesktop.ScreenSaver"


class Manager(dbus.service.Object):
    @dbus.service.method(MANAGER, in_signature="s", out_signature="o")
    def GetSession(self, session_id):
        print("session asked", flush=True)
        return dbus.ObjectPath(SESSION_PATH)

    @dbus.service.method(MANAGER, in_signature="u", out_signature="o")
    def GetSessionByPID(self, pid):
        print("session asked", flush=True)
        return dbus.ObjectPath(SESSION_PATH)

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        pass


class Session(dbus.service.Object):
    @dbus.service.signal(SESSION, signature="")
    def Lock(self):
        pass

    @dbus.service.signal("org.freedesktop.DBus.Properties", signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class ScreenSaver(dbus.service.Object):
    @dbus.service.signal(SAVER, signature="b")
    def ActiveChanged(self, active):
        pass


def objects(bus):
    return {
        "manager": Manager(bus, "/org/freedesktop/login1"),
        "session": Session(bus, SESSION_PATH),
        "saver": ScreenSaver(bus, "/org/freedesktop/ScreenSaver"),
    }


def emit(objs, what, value):
    if what == "sleep":
        objs["manager"].PrepareForSleep(value)
    elif what == "lock":
        objs["session"].Lock()
    elif what == "active":
        objs["session"].PropertiesChanged(SESSION, {"Active": dbus.Boolean(value)}, [])
    elif what == "saver":
        objs["saver"].ActiveChanged(value)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    names = [dbus.service.BusName(LOGIN, bus), dbus.service.BusName(SAVER, bus)]
    real = objects(bus)
    forger = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
    forged = objects(forger)
    loop = GLib.MainLoop()

    def command(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        if words and words[0] == "forged":
            emit(forged, words[1], True)
            forger.flush()
        elif words:
            emit(real, words[0], len(words) < 2 or words[1] == "true")
            bus.flush()
        print("done", flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print("ready", flush=True)
    loop.run()
    del names


main()
