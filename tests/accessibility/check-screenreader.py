#!/usr/bin/python3
"""What a screen reader receives from both dialogs, over a real AT-SPI bus.

Starts an X server (Xvfb) with a window manager, a session bus and the
AT-SPI registry, runs the
demo host on a book of one entry, and reads each dialog's controls as Orca
would: role, name and the label that names them ("labelled by"). "Neu ..."
is pressed through AT-SPI, as a screen reader user would press it, and both
dialogs are cancelled the same way. The search is opened with its key, and
what it found must reach the screen reader as the user types. A backup's
comparison is read in words. After a restore the keys must go on working on the list: Shift+F10, Up and Return
open the key table, and do not end the dialog.

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
SHIFT_MASK, CONTROL_MASK = 1 << 0, 1 << 2  # X11 state bits of the modifier keys
F10, UP, RETURN = 0xffc7, 0xff52, 0xff0d  # X11 key symbols


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
    start_window_manager()


def start_window_manager():
    """A window manager decides which window is active once a dialog closes,
    as on a desktop. It is waited for until it manages the screen: now and
    then a fresh Xvfb refuses its very first client, and it is started again."""
    for _ in range(3):
        manager = start("openbox", "--sm-disable", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.time() + 10
        while manager.poll() is None and time.time() < end:
            announced = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True).stdout
            if "window id" in announced:
                return
            time.sleep(0.1)
    fail("the window manager did not start")


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
    def find(parent):
        for control in parent:
            if control.getRoleName() == "push button" and control.name == name:
                return control
            if control.getRoleName() == "panel":
                found = find(control)
                if found is not None:
                    return found
        return None
    button = find(dialog)
    if button is None:
        fail("%s has no button %s" % (dialog.name, name))
    button.queryAction().doAction(0)


def press_key(symbol, modifiers=0):
    """Presses a key as the keyboard would, through the registry's XTest."""
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_LOCKMODIFIERS)
    pyatspi.Registry.generateKeyboardEvent(symbol, None, pyatspi.KEY_SYM)
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_UNLOCKMODIFIERS)


def focused(control):
    return control.getState().contains(pyatspi.STATE_FOCUSED)


def gone(application, dialog):
    name = dialog.name
    wait_for("the end of " + name, lambda: None if any(
        window is not None and window.name == name for window in application) else True)


def expect_announced(field, typed, told):
    """Types into field and waits for the change of its description that a
    screen reader speaks for the focused field."""
    heard = []
    listener = lambda event: heard.append(event.source.description) if event.source == field else None
    pyatspi.Registry.registerEventListener(listener, "object:property-change:accessible-description")
    field.queryEditableText().setTextContents(typed)
    context = GLib.MainContext.default()
    end = time.time() + 10
    while told not in heard and time.time() < end:
        context.iteration(False)
        time.sleep(0.01)
    pyatspi.Registry.deregisterEventListener(listener, "object:property-change:accessible-description")
    if told not in heard:
        fail("after typing %r a screen reader hears %s, not %r" % (typed, heard, told))
    if not focused(field):
        fail("the search field lost the focus, so the count is not spoken")


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
    from gi.repository import GLib

    plugins = os.path.join(work, "plugins")
    os.makedirs(plugins)
    for module in os.listdir(os.path.join(build, "plugins")):
        if module.endswith(".so"):
            shutil.copy(os.path.join(build, "plugins", module), plugins)
    book = [os.path.join(build, "kelvo-book"), "--plugin-dir", plugins]
    subprocess.run(book + ["init"], check=True)
    subprocess.run(book + ["add", "Verein", "ftp://ftp.example.com/", "/verein", "FtpWorker.so"], check=True)
    # One backup to restore, the book with "Archiv" before it was deleted.
    subprocess.run(book + ["add", "Archiv", "ftp://archiv.example.com/", "/", "FtpWorker.so"], check=True)
    subprocess.run(book + ["delete", "1", "--label", "Archiv"], check=True, stdout=subprocess.DEVNULL)
    listed = subprocess.run(book + ["backups"], check=True, stdout=subprocess.PIPE, text=True).stdout
    for line in listed.splitlines():
        name, _, _, change = line.split("\t")
        if not change.startswith("+1 "):
            os.remove(os.path.join(plugins, "DATA", "backup", name))

    host = start(os.path.join(build, "ostrel-host"), "--plugin-dir", plugins, "serverbook",
                 env=dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"),
                 stdout=subprocess.PIPE, text=True)

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
    gone(app, new_entry)

    # The list has the focus again; Ctrl+F opens the search.
    press_key(ord("f"), CONTROL_MASK)
    search = dialog_named(app, "Eintrag suchen")
    expect_modal(search)
    prompt = "Suchen nach:"
    found = [(control.getRoleName(), control.name) for control in search]
    if found[:3] != [("label", prompt), ("text", prompt), ("tree", "Gefundene Einträge")]:
        fail("the search reads %s" % found)
    field = [control for control in search if control.getRoleName() == "text"][0]
    # The window manager gives the new dialog the focus, at its own pace.
    wait_for("the focus in the search field", lambda: True if focused(field) else None)
    expect_announced(field, "Ver", "1 Treffer")
    expect_announced(field, "Vereinsheim", "Kein Eintrag enthält \"Vereinsheim\".")
    matches = [control for control in search if control.getRoleName() == "tree"][0]
    for told in ("Auf", "Eingabe", "Esc"):
        if told not in matches.description:
            fail("the matches' description names no %s: %r" % (told, matches.description))
    press(search, "Abbrechen")
    gone(app, search)

    # A restore lists the book afresh; the keys still work on the list.
    press_key(F10, SHIFT_MASK)
    press_key(UP)  # from the menu's top to its last commands
    press_key(UP)
    press_key(RETURN)
    restore = dialog_named(app, "Sicherung wiederherstellen")
    expect_modal(restore)
    # What restoring would change is read in words, not as "+1 / −0 / 0".
    backups_list = [control for control in restore if control.getRoleName() == "tree"][0]
    cells = [cell.name for cell in backups_list if cell.getRoleName() == "table cell"]
    if "1 kommt zurück, 0 gehen, 0 geändert" not in cells:
        fail("the backup reads %s" % cells)
    for told in ("Auf", "Eingabe", "Esc"):
        if told not in backups_list.description:
            fail("the backups' description names no %s: %r" % (told, backups_list.description))
    press_key(RETURN)
    question = wait_for("the restore question", lambda: next(
        (window for window in app if window is not None and window.getRoleName() == "alert"), None))
    press(question, "Ja")
    gone(app, restore)
    selection = dialog_named(app, "Serverbook-Auswahl")
    the_list = [control for control in selection if control.getRoleName() == "list"][0]
    wait_for("the list with the entry restored", lambda: True if [line.name for line in the_list] == ["Archiv", "Verein"] else None)
    wait_for("the focus on the list", lambda: True if focused(the_list) else None)
    press_key(F10, SHIFT_MASK)
    press_key(UP)  # the menu's last command: the key table
    press_key(RETURN)
    keys = wait_for("the key table", lambda: next(
        (window for window in app if window is not None and window.getRoleName() == "alert"), None))
    if host.poll() is not None:
        fail("the keys after a restore ended the dialog")
    press(keys, "OK")
    gone(app, keys)
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
