#!/usr/bin/python3
"""The utility as a screen reader meets it, through the real AT-SPI bus.

Runs the real start-up of wlan-utility under a private Xvfb, a private session bus and the
accessibility bus that bus starts, on a private registry file and block served by a real
wlan-cardsim, and walks its accessible tree with Debian's AT-SPI bindings (pyatspi), page by
page:
  - on the way to the sheet's first frame the utility decodes no picture, so it loads none of
    Qt's image-format plugins (its icon is built in, the sheet's buttons carry no icon);
  - every interactive control has a role and a non-empty name, and the names are unique
    within the page; the tabs are named by their pages' captions;
  - the controls without text of their own carry the words of the label before them
    ("Network Name", "Key 1 byte 1", "Link Quality");
  - the progress bars expose a value, the percentage the page prints beside them;
  - pressing Apply through its accessibility action posts the same command into the block
    as a mouse click on it (read back from the block and from the simulator's log);
  - pressing Cancel the same way ends the utility with status 0 (in the sanitizer build,
    after its leak check).

Qt turns its accessibility bridge on only when the session's org.a11y.Status says so
(IsEnabled or ScreenReaderEnabled), as a screen reader sets it; this test sets IsEnabled on
the bus before starting the utility, so QT_LINUX_ACCESSIBILITY_ALWAYS_ON is not needed. The
accessibility bus itself needs no starting by hand: the private session bus activates
at-spi-bus-launcher on the first request for org.a11y.Bus.

Exit status: 0 passed, 1 failed, 77 skipped (something it needs is not installed; with CI set
in the environment that is a failure instead). ctest's timeout is the only clock: every wait
polls its condition until it holds.
"""

import argparse
import mmap
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77

# The simulator's "Harbour" network: an access point on channel 1 with 64-bit WEP keys made
# from the passphrase "harbour", so the Status page shows a live link and the Encryption page
# its whole key grid.
HARBOUR_REGISTRY = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
    "\"NetworkType\"=dword:00000001\r\n"
    "\"SSID\"=\"Harbour\"\r\n"
    "\"TxRate\"=dword:0000000f\r\n"
    "\"PSMode\"=dword:00000001\r\n"
    "\"DSChannel\"=dword:00000001\r\n"
    "\"WepReq\"=dword:00000002\r\n"
    "\"DefaultKeys\"=\"8d2fddc61e0dcd931d1db2e8560f4a181bf72700\"\r\n"
    "\"DefaultKeyId\"=dword:00000001\r\n"
    "\r\n"
)

CAPTIONS = ["Status", "Configuration", "Encryption", "About"]

# What the user sees beside each control without text of its own, page by page.
EXPECTED_NAMES = {
    "Status": {"Link State", "Current Channel", "Current Tx Rate", "Link Quality", "Signal Strength"},
    "Configuration": {"Network Name", "Network Type", "Tx Rate", "PS Mode", "Channel", "Apply"},
    "Encryption": {"Encryption(WEP)", "Passphrase", "Default Key", "Apply"}
    | {"Key %d byte %d" % (key, byte) for key in range(1, 5) for byte in range(1, 6)},
    "About": set(),
}

CONFIG_PAYLOAD = slice(8, 8 + 10 + 33)  # type, rate, power save, channel, name count, name


class Failure(Exception):
    pass


failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message, flush=True)
    return condition


def wait_for(what, condition, pause=0.05):
    """Polls `condition` until it answers something true; ctest's timeout ends a hang, and the
    last line printed then says what never came."""
    print("waiting for " + what, flush=True)
    while True:
        value = condition()
        if value:
            return value
        time.sleep(pause)


def missing_tools(python_ok):
    missing = [] if python_ok else ["python3-pyatspi (pyatspi for /usr/bin/python3)"]
    for tool in ("Xvfb", "dbus-daemon", "dbus-send", "xdotool"):
        if not shutil.which(tool):
            missing.append(tool)
    if not os.path.exists("/usr/share/dbus-1/services/org.a11y.Bus.service"):
        missing.append("at-spi2-core (org.a11y.Bus)")
    return missing


class Session:
    """Xvfb, a session bus with accessibility enabled, the simulator and the utility."""

    def __init__(self, utility, cardsim):
        self.folder = tempfile.mkdtemp(prefix="wlan-a11y-")
        self.processes = []
        self.utility = utility
        self.cardsim = cardsim
        self.block_name = "/wlan-a11y-%d" % os.getpid()
        self.cardsim_log = os.path.join(self.folder, "cardsim.log")

    def spawn(self, argv, env, log):
        # Each in a session of its own, so that what it starts (the bus's activated services)
        # goes with it.
        out = open(os.path.join(self.folder, log), "wb")
        process = subprocess.Popen(argv, env=env, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        self.processes.append(process)
        return process

    def start(self):
        runtime = os.path.join(self.folder, "run")
        os.mkdir(runtime, 0o700)
        registry = os.path.join(self.folder, "registry.reg")
        with open(registry, "w", newline="") as f:
            f.write(HARBOUR_REGISTRY)
        os.chmod(registry, 0o600)

        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY", "NO_AT_BRIDGE",
                     "QT_SCALE_FACTOR", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env.update({
            "XDG_RUNTIME_DIR": runtime,
            "WLAN_REGISTRY_FILE": registry,
            "WLAN_CONNECT_BLOCK": self.block_name,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": self.folder,
        })

        # Xvfb picks a free display and writes its number to the pipe.
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self.processes.append(xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            raise Failure("Xvfb did not start")
        env["DISPLAY"] = ":" + display

        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        self.processes.append(bus)
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise Failure("the session bus did not start")
        env["DBUS_SESSION_BUS_ADDRESS"] = address

        # What a screen reader does when it starts: the bus launcher is activated and told
        # that assistive technology is in use, which is what makes Qt build its bridge.
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                        "variant:boolean:true"], env=env, check=True, stdout=subprocess.DEVNULL)
        self.env = env
        os.environ.update({k: env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")})

        self.spawn([self.cardsim, "-v"], env, "cardsim.log")
        wait_for("the simulator", lambda: subprocess.run([self.cardsim, "ctl", "status"], env=env,
                                                         stdout=subprocess.DEVNULL,
                                                         stderr=subprocess.DEVNULL).returncode == 0)
        # Under the sanitizer build: libxkbcommon-x11, which the X11 platform of Qt loads,
        # copies a keymap name with strndup from a buffer that holds no terminator, which
        # strict_string_checks reports although strndup reads no further than its count.
        utility_env = dict(env)
        if "ASAN_OPTIONS" in utility_env:
            utility_env["ASAN_OPTIONS"] = ":".join(
                option for option in utility_env["ASAN_OPTIONS"].split(":") if not option.startswith("strict_string_checks"))
        self.utility_process = self.spawn([self.utility], utility_env, "utility.log")

    def block(self):
        with open("/dev/shm" + self.block_name, "rb") as f:
            with mmap.mmap(f.fileno(), 64, prot=mmap.PROT_READ) as view:
                return bytes(view[:64])

    def clear_config_payload(self):
        with open("/dev/shm" + self.block_name, "r+b") as f:
            with mmap.mmap(f.fileno(), 64) as view:
                view[CONFIG_PAYLOAD] = bytes(CONFIG_PAYLOAD.stop - CONFIG_PAYLOAD.start)

    def config_commands(self):
        with open(self.cardsim_log, errors="replace") as f:
            return [line.split("SET_CONFIG ", 1)[1].strip() for line in f if "SET_CONFIG type=" in line]

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for process in reversed(self.processes):
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        for name in ("utility.log", "cardsim.log"):
            path = os.path.join(self.folder, name)
            if failures and os.path.exists(path):
                with open(path, errors="replace") as f:
                    print("---- %s\n%s" % (name, f.read()[-4000:]))
        shutil.rmtree(self.folder, ignore_errors=True)


def image_plugins(pid):
    """The image-format plugins of Qt mapped into the process."""
    with open("/proc/%d/maps" % pid) as f:
        return sorted({line.split()[-1] for line in f if "/imageformats/" in line})


def press(accessible):
    """Runs the control's "Press" action, as a screen reader's user does."""
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        raise Failure("'%s' offers the actions %r, no Press" % (accessible.name, names))
    action.doAction(names.index("Press"))


def run(session, pyatspi):
    INTERACTIVE = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
                   pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY,
                   pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LIST, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_PROGRESS_BAR,
                   pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON}
    CONTAINERS = {pyatspi.ROLE_FILLER, pyatspi.ROLE_PANEL, pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_LAYERED_PANE,
                  pyatspi.ROLE_DIALOG, pyatspi.ROLE_FRAME, pyatspi.ROLE_APPLICATION}

    def showing(acc):
        return acc.getState().contains(pyatspi.STATE_SHOWING)

    def descendants(acc):
        for child in acc:
            if child is None or not showing(child):
                continue
            yield child
            # A combo box's edit field and drop-down list are parts of it, not controls.
            if child.getRole() != pyatspi.ROLE_COMBO_BOX:
                yield from descendants(child)

    def find_sheet():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "wlan-utility":
                for window in app:
                    if window is not None and window.name == "Setup" and showing(window):
                        return window
        return None

    sheet = wait_for("the sheet on the bus", find_sheet, pause=0.2)
    tab_list = wait_for("the tab list", lambda: next(
        (a for a in descendants(sheet) if a.getRole() == pyatspi.ROLE_PAGE_TAB_LIST), None))
    tabs = [tab_list.getChildAtIndex(i) for i in range(tab_list.childCount)]
    tabs = [t for t in tabs if t.getRole() == pyatspi.ROLE_PAGE_TAB]
    check([t.name for t in tabs] == CAPTIONS, "the tabs are named %r" % [t.name for t in tabs])
    # Qt loads every image-format plugin to find which one reads a picture whose format it is
    # not told; nothing on the way to the first frame may need that.
    plugins = image_plugins(session.utility_process.pid)
    check(not plugins, "the sheet's first frame loaded the image-format plugins %r" % plugins)

    def page_of(caption):
        return next((a for a in descendants(sheet) if a.getRole() == pyatspi.ROLE_FILLER and a.name == caption), None)

    for index, caption in enumerate(CAPTIONS):
        tab = tabs[index]
        press(tab)
        page = wait_for("the %s page" % caption, lambda: page_of(caption))
        if caption == "Encryption":  # the key grid is shown once the page has read the settings
            wait_for("the key grid", lambda: sum(a.getRole() == pyatspi.ROLE_TEXT for a in descendants(page)) >= 21)
        controls = [a for a in descendants(sheet)
                    if a.getRole() in INTERACTIVE
                    or (a.getRole() not in CONTAINERS and a.getState().contains(pyatspi.STATE_FOCUSABLE))]
        names = [c.name for c in controls]
        print("%s: %s" % (caption, ", ".join("%s '%s'" % (c.getRoleName(), c.name) for c in controls)), flush=True)
        for c in controls:
            check(c.getRole() not in (pyatspi.ROLE_UNKNOWN, pyatspi.ROLE_INVALID),
                  "%s: a control named '%s' has no role" % (caption, c.name))
            check(c.name.strip() != "", "%s: a %s has no name" % (caption, c.getRoleName()))
        duplicates = sorted({n for n in names if names.count(n) > 1})
        check(not duplicates, "%s: names used twice: %r" % (caption, duplicates))
        page_names = {c.name for c in descendants(page)}
        check(EXPECTED_NAMES[caption] <= page_names,
              "%s: missing names %r" % (caption, sorted(EXPECTED_NAMES[caption] - page_names)))
        for must in ("OK", "Cancel"):
            check(must in names, "%s: no '%s' button" % (caption, must))
        if caption == "Status":  # while the page is shown, its bars follow the link
            check_bars(session, pyatspi, controls)

    check_apply(session, pyatspi, tabs, page_of, descendants)

    # Cancel, pressed the same way, ends the utility cleanly (under the sanitizer build, with
    # its leak check).
    cancel = next((a for a in descendants(sheet) if a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name == "Cancel"), None)
    if check(cancel is not None, "no Cancel button"):
        try:
            press(cancel)
        except Failure:
            raise
        except Exception as error:  # the utility may close the bus before its answer is read
            print("the press of Cancel went unanswered: %s" % error, flush=True)
        status = wait_for("the utility to end", lambda: session.utility_process.poll() is not None
                          and [session.utility_process.returncode])[0]
        check(status == 0, "the utility ended with status %s" % status)


def check_bars(session, pyatspi, controls):
    bars = [c for c in controls if c.getRole() == pyatspi.ROLE_PROGRESS_BAR]
    check(len(bars) == 2, "the Status page shows %d progress bars" % len(bars))
    texts = {c.name: c for c in controls if c.getRole() == pyatspi.ROLE_TEXT}
    for bar in bars:
        value = bar.queryValue()
        check(value.minimumValue == 0 and value.maximumValue == 100,
              "bar '%s' ranges %s..%s, not a percentage" % (bar.name, value.minimumValue, value.maximumValue))
        # The text beside the bar is the label's words ("Link Quality" for "Link Quality bar").
        beside = next((texts[n] for n in texts if bar.name.startswith(n) and n), None)
        if not check(beside is not None, "no text beside bar '%s'" % bar.name):
            continue

        def agree():
            # The page writes the text and the bar in one tick; a read that straddles two ticks
            # is read again.
            before = beside.queryText().getText(0, -1)
            current = value.currentValue
            after = beside.queryText().getText(0, -1)
            match = re.search(r"(\d+)%", before)
            if before != after or not match:
                return None
            return (int(match.group(1)), current)

        shown, current = wait_for("a link on the Status page", agree, pause=0.1)
        check(shown == current, "bar '%s' reports %s while the page shows %d%%" % (bar.name, current, shown))
        check(current > 0, "bar '%s' reports no link (%s)" % (bar.name, current))


def check_apply(session, pyatspi, tabs, page_of, descendants):
    tab = tabs[CAPTIONS.index("Configuration")]
    press(tab)
    page = wait_for("the Configuration page", lambda: page_of("Configuration"))

    # The page asks for the channel list when it is shown; Apply is pressed once the answer is
    # in the list (11 channels in the simulator's default domain), so no request stands.
    def named(role, name):
        found = next((a for a in descendants(page) if a.getRole() == role and a.name == name), None)
        if found is None:
            raise Failure("the Configuration page has no %s named '%s'" % (role, name))
        return found

    channel = named(pyatspi.ROLE_COMBO_BOX, "Channel")
    wait_for("the channel list", lambda: channel.getChildAtIndex(0) is not None
             and channel.getChildAtIndex(0).childCount == 11)
    apply = named(pyatspi.ROLE_PUSH_BUTTON, "Apply")

    press(apply)
    commands = wait_for("the command of the action", lambda: session.config_commands() or None)
    by_action = session.block()[CONFIG_PAYLOAD]

    # The second command must write the payload afresh.
    session.clear_config_payload()
    x, y, w, h = apply.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", "--sync", str(x + w // 2), str(y + h // 2), "click", "1"],
                   env=session.env, check=True)
    commands = wait_for("the command of the click", lambda: len(session.config_commands()) >= 2
                        and session.config_commands())
    by_click = session.block()[CONFIG_PAYLOAD]

    print("by the action: %s\nby a click:    %s" % (commands[0], commands[1]), flush=True)
    check(len(commands) == 2, "%d commands for one action and one click" % len(commands))
    check(commands[0] == commands[1], "the action and the click posted different commands")
    check('name="Harbour"' in commands[0] and "type=Access Point" in commands[0] and "channel=1" in commands[0],
          "the command is not the page's configuration: %s" % commands[0])
    check(by_action == by_click and any(by_action),
          "the block holds %s after the action and %s after the click" % (by_action.hex(), by_click.hex()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--utility", required=True)
    parser.add_argument("--cardsim", required=True)
    args = parser.parse_args()

    # Imported once the private buses run: the bindings find the accessibility bus through the
    # session bus they see when first used.
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        import importlib.util
        python_ok = importlib.util.find_spec("pyatspi") is not None
    except (ImportError, ValueError):
        python_ok = False
    missing = missing_tools(python_ok)
    if missing:
        print("missing: " + ", ".join(missing))
        if os.environ.get("CI"):
            print("FAIL: CI is set, so the accessibility test may not be skipped")
            return 1
        return SKIP

    # A timeout's SIGTERM still takes the session's processes and folder down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    session = Session(os.path.abspath(args.utility), os.path.abspath(args.cardsim))
    try:
        session.start()
        import pyatspi
        run(session, pyatspi)
    except Failure as error:
        failures.append(str(error))
        print("FAIL: %s" % error)
    finally:
        session.stop()
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
