"""A GTK 4 form, as a user's application would show it: a text field "Name", a password field
"Secret" (Gtk.PasswordEntry), a text field "Hidden" that hides what it holds (visibility off, as a
PIN field does) and a text field "Notes". Run it with /usr/bin/python3 and GDK_BACKEND=x11 (and
GDK_SCALE=2 to lay it out in pixels twice the display's).

It says on stdout "WINDOW <id>" and "READY" once shown, then "FOCUS <field>" when a field takes
the keyboard focus and "TEXT <field> <text>" when a field's text changes. On stdin it takes
"FOCUS <field>", "CLIP <text>" (puts the text on the clipboard), "SELECT <field> <text>" (sets the
field's text and selects it all), "MASK <field> <character>" (the character it hides its text
behind), "HIDE <field> <ms>" (the field hides its text that long after its text next changes, and
says "HIDDEN <field>"), "TWOSTEP <field>" (Return in the field asks for the password in it: a
moment later it is emptied and hides its text, and says "HIDDEN <field>"), "DIGITS <field>" (the
field takes digits only: it drops any other character typed, without a word) and "PING", and
answers each with "DONE <command>".
"""
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
gi.require_version("GdkX11", "4.0")
from gi.repository import Gdk, GdkX11, GLib, GObject, Gtk  # noqa: E402,F401


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


fields = {}


def text_of(field):
    return field.get_text()


def build(app):
    window = Gtk.ApplicationWindow(application=app, title="GTK 4 form")
    window.set_default_size(480, 320)
    grid = Gtk.Grid(row_spacing=8, column_spacing=8)
    for side in ("top", "bottom", "start", "end"):
        getattr(grid, "set_margin_" + side)(16)
    window.set_child(grid)

    def add(name, field, row):
        label = Gtk.Label(label=name, xalign=0)
        grid.attach(label, 0, row, 1, 1)
        field.set_hexpand(True)
        grid.attach(field, 1, row, 1, 1)
        field.update_property([Gtk.AccessibleProperty.LABEL], [name])
        fields[name] = field

        def changed(editable, name=name):
            say("TEXT %s %s" % (name, editable.get_text()))

        field.connect("changed", changed)
        field.connect("changed", lambda *_, name=name: arm(name))
        focus = Gtk.EventControllerFocus()
        focus.connect("enter", lambda *_, name=name: say("FOCUS %s" % name))
        field.add_controller(focus)

    add("Name", Gtk.Entry(), 0)
    add("Secret", Gtk.PasswordEntry(), 1)
    hidden = Gtk.Entry()
    hidden.set_visibility(False)
    add("Hidden", hidden, 2)
    add("Notes", Gtk.Entry(), 3)

    def shown(*_):
        surface = window.get_surface()
        say("WINDOW %d" % surface.get_xid())
        say("READY")
        return False

    window.connect("map", lambda *_: GLib.idle_add(shown))
    window.present()

    pending = [b""]
    hiding = {}

    def hide(name, empty=False):
        if empty:
            fields[name].set_text("")
        fields[name].set_visibility(False)
        say("HIDDEN %s" % name)
        return False

    # A field asked to hide starts its clock when its text first changes (the typing has begun).
    def arm(name):
        if name in hiding:
            GLib.timeout_add(hiding.pop(name), hide, name)

    def two_step(name):
        GLib.timeout_add(700, hide, name, True)


    def digits_only(field):
        def insert(editable, new, *_):
            if not new.isdigit():
                GObject.signal_stop_emission_by_name(editable, "insert-text")

        field.get_delegate().connect("insert-text", insert)

    def run(line):
        words = line.split(" ", 2)
        if words[0] == "FOCUS" and len(words) > 1 and words[1] in fields:
            fields[words[1]].grab_focus()
        elif words[0] == "CLIP":
            window.get_clipboard().set(line[5:])
        elif words[0] == "SELECT" and len(words) > 1 and words[1] in fields:
            field = fields[words[1]]
            field.set_text(words[2] if len(words) > 2 else "")
            field.grab_focus()
            field.select_region(0, -1)
        elif words[0] == "MASK" and len(words) > 2 and words[1] in fields:
            fields[words[1]].set_invisible_char(words[2][0])
        elif words[0] == "HIDE" and len(words) > 2 and words[1] in fields:
            hiding[words[1]] = int(words[2])
        elif words[0] == "DIGITS" and len(words) > 1 and words[1] in fields:
            digits_only(fields[words[1]])
        elif words[0] == "TWOSTEP" and len(words) > 1 and words[1] in fields:
            fields[words[1]].connect("activate", lambda *_, name=words[1]: two_step(name))
        say("DONE " + line)

    def command(fd, condition):
        chunk = os.read(fd, 4096)
        if not chunk:
            app.quit()
            return False
        pending[0] += chunk
        *lines, pending[0] = pending[0].split(b"\n")
        for line in lines:
            run(line.decode("utf-8", "replace"))
        return True

    GLib.unix_fd_add_full(GLib.PRIORITY_DEFAULT, sys.stdin.fileno(), GLib.IOCondition.IN | GLib.IOCondition.HUP, command)

app = Gtk.Application(application_id="test.tovrick.gtk4form", flags=0)
app.connect("activate", build)
app.run([])
