#!/usr/bin/python3
"""What a screen reader receives from both dialogs, over a real AT-SPI bus.

Starts an X server (Xvfb), a session bus and the AT-SPI registry, runs the
demo host on a book of one entry, and reads each dialog's controls as Orca
would: role, name and the label that names them ("labelled by"). "Neu ..."
is pressed through AT-SPI, as a screen reader user would press it, and both
dialogs are cancelled the same way.

Usage: check-screenreader.py BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

build = sys.argv[1]
work = tempfile.mkdtemp()
children = []


def fail(message):
    print("check-screenreader: " + message, file=sys.stderr)
    sys.exit(1)


def start(*command, **options):
    process = subprocess.Popen(command, **options)
    children.append(process)
    return process


def start_session():
    read_end, write_end = os.pipe()
    start("Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
          pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    display = os.read(read_end, 16).decode().strip()
    if not display:
        fail("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + display
    bus = start("dbus-daemon", "--session", "--nofork", "--print-address=1",
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    start("/usr/libexec/at-spi-bus-launcher", "--launch-immediately", stderr=subprocess.DEVNULL)


def wait_for(what, find, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        found = find()
        if found is not None:
            return found
        time.sleep(0.1)
    fail("no " + what + " appeared")


def controls(dialog):
    """(role, name, names of the labels that label it) of each control."""
    seen = []
    for control in dialog:
        labels = []
        for relation in control.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                labels += [relation.getTarget(i).name for i in range(relation.getNTargets())]
        seen.append((control.getRoleName(), control.name, labels))
    return seen


def expect(dialog, expected):
    seen = controls(dialog)
    if seen != expected:
        fail("%s: a screen reader receives\n  %s\nnot\n  %s" % (dialog.name, seen, expected))


def press(dialog, name):
    for control in dialog:
        if control.getRoleName() == "push button" and control.name == name:
            control.queryAction().doAction(0)
            return
    fail("%s has no button %s" % (dialog.name, name))


def expect_modal(dialog):
    if not dialog.getState().contains(pyatspi.STATE_MODAL):
        fail("%s is not reported modal" % dialog.name)


def dialog_named(application, caption):
    def find():
        for window in application:
            if window is not None and window.name == caption and window.getRoleName() == "dialog":
                return window
        return None
    return wait_for("dialog " + caption, find)


try:
    start_session()
    import pyatspi  # only once the session bus is there

    plugins = os.path.join(work, "plugins")
    os.makedirs(plugins)
    for module in os.listdir(os.path.join(build, "plugins")):
        if module.endswith(".so"):
            shutil.copy(os.path.join(build, "plugins", module), plugins)
    book = [os.path.join(build, "kelvo-book"), "--plugin-dir", plugins]
    subprocess.run(book + ["init"], check=True)
    subprocess.run(book + ["add", "Verein", "ftp://ftp.example.com/", "/verein", "FtpWorker.so"], check=True)

    def start_host():
        return start(os.path.join(build, "ostrel-host"), "--plugin-dir", plugins, "serverbook",
                     env=dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"),
                     stdout=subprocess.PIPE, text=True)

    # Now and then a fresh Xvfb refuses its very first client: a host that
    # could not connect ends at once, and is started once more.
    host = start_host()
    time.sleep(1)
    if host.poll() is not None:
        host = start_host()

    def application():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "ostrel-host":
                return app
        return None
    app = wait_for("application ostrel-host", application)

    selection = dialog_named(app, "Serverbook-Auswahl")
    expect(selection, [
        ("panel", "Bezeichnung", []),
        ("list", "Bezeichnung", []),
        ("push button", "Löschen", []),
        ("push button", "Neu ...", []),
        ("panel", "Eigenschaften", []),
        ("label", "Server:", []),
        ("text", "Server:", ["Server:"]),
        ("label", "Startverzeichnis:", []),
        ("text", "Startverzeichnis:", ["Startverzeichnis:"]),
        ("label", "Plugindateiname:", []),
        ("text", "Plugindateiname:", ["Plugindateiname:"]),
        ("push button", "OK", []),
        ("push button", "Abbrechen", []),
    ])
    entries = [line.name for control in selection if control.getRoleName() == "list" for line in control]
    if entries != ["Verein"]:
        fail("the list reads %s" % entries)
    expect_modal(selection)
    keys = [control.description for control in selection if control.getRoleName() == "list"][0]
    for told in ("F2", "Bearbeiten", "F1", "Neu ..."):
        if told not in keys:
            fail("the list's description names no %s: %r" % (told, keys))

    press(selection, "Neu ...")
    new_entry = dialog_named(app, "Neuen Eintrag zu Serverbook hinzufügen")
    worker = "Nutze Publishing-Worker zur Publizierung:"
    address = "Adresse (inkl. Protokoll / Serveradresse):"
    expect(new_entry, [
        ("label", "Adressbezeichnung:", []),
        ("text", "Adressbezeichnung:", ["Adressbezeichnung:"]),
        ("label", worker, []),
        ("combo box", worker, [worker]),
        ("label", address, []),
        ("text", address, [address]),
        ("label", "Startpfad auf Server:", []),
        ("text", "Startpfad auf Server:", ["Startpfad auf Server:"]),
        ("push button", "OK", []),
        ("push button", "Abbrechen", []),
    ])
    expect_modal(new_entry)
    combo = [control for control in new_entry if control.getRoleName() == "combo box"][0]
    workers = [line.name for line in combo[0]]
    if "FTP-Publishing-Worker" not in workers:
        fail("the worker list reads %s" % workers)

    press(new_entry, "Abbrechen")
    wait_for("return to the selection", lambda: None if any(
        w is not None and w.name == new_entry.name for w in app) else True)
    press(dialog_named(app, "Serverbook-Auswahl"), "Abbrechen")
    output, _ = host.communicate(timeout=20)
    if host.returncode != 0 or "Ergebnis: 2 (abgebrochen)" not in output:
        fail("the host ended with %s: %s" % (host.returncode, output))
    print("check-screenreader: all good")
finally:
    for process in reversed(children):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
    shutil.rmtree(work, ignore_errors=True)
