#!/usr/bin/env python3
"""The install tree and the Debian package, checked from outside.

Installs the build into a temporary prefix and checks its files; makes the
prefix read-only and runs the installed tools from it (the console's help and
version, a capture run, where the console's log goes when started from a
terminal and from the desktop entry, and two consoles recognising digits with
the installed model, through tst_flows_installed); checks nothing was written
into the prefix; then builds the package with cpack and checks its files and
dependencies.

Usage: install_check.py BUILD_DIR INSTALLED_RECOGNITION_TEST"""
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import check, wait_for  # noqa: E402

BUILD, RECOGNITION_TEST = sys.argv[1], sys.argv[2]
APP_ID = "com.velmoray.Tessivo128"
VERSION = "0.1.0"
SHIPPED = ["mnist_cnn_traced.pt", "error.png"] + [f"{d}.png" for d in range(10)]
ICON_SIDES = [16, 24, 32, 48, 64, 128, 256]
REQUIRED = {"bin/tessivo128", "bin/tessivo128-capture", "lib/tessivo128/libftd2xx-sim.so",
            f"share/applications/{APP_ID}.desktop"} \
    | {f"share/tessivo128/{name}" for name in SHIPPED} \
    | {f"share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in ICON_SIDES}
MAN_PAGES = {"share/man/man1/tessivo128.1", "share/man/man1/tessivo128-capture.1"}
OPTIONAL = {"bin/tessivo128-tango"}


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=300, **kwargs)


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        found |= {os.path.relpath(os.path.join(folder, name), root) for name in names}
    return found


def snapshot(root):
    return {path: (os.stat(os.path.join(root, path)).st_size, os.stat(os.path.join(root, path)).st_mtime_ns)
            for path in files_under(root)} | {"folders": sorted(f for f, _, _ in os.walk(root))}


def check_tree(prefix):
    installed = files_under(prefix)
    man = MAN_PAGES if shutil.which("help2man") else set()
    check(REQUIRED | man <= installed, f"missing from the install: {sorted(REQUIRED | man - installed)}")
    check(installed <= REQUIRED | man | OPTIONAL, f"unexpected in the install: {sorted(installed - REQUIRED - man - OPTIONAL)}")
    validate = run("desktop-file-validate", f"{prefix}/share/applications/{APP_ID}.desktop")
    check(validate.returncode == 0, f"desktop-file-validate: {validate.stdout}{validate.stderr}")
    for tool in ("tessivo128", "tessivo128-capture"):
        libraries = run("ldd", f"{prefix}/bin/{tool}").stdout
        check("not found" not in libraries, f"{tool} misses libraries:\n{libraries}")
        dynamic = run("readelf", "-d", f"{prefix}/bin/{tool}").stdout
        check(BUILD not in dynamic, f"{tool} still points into the build folder:\n{dynamic}")
    for page in man:
        text = open(os.path.join(prefix, page)).read()
        option = "from\\-desktop" if page.endswith("tessivo128.1") else "frames"
        check(".TH" in text and ".SH OPTIONS" in text and option in text, f"{page} is made from the tool's --help")


def make_read_only(prefix):
    for folder, folders, names in os.walk(prefix):
        for name in folders + names + [""]:
            path = os.path.join(folder, name)
            os.chmod(path, os.stat(path).st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))


def wait_for_log_line(path, process):
    def logged():
        check(process.poll() is None, f"the console ended early ({process.returncode})")
        return os.path.exists(path) and "simulator" in open(path).read() or None
    try:
        wait_for(logged, 30, f"the console writes its first line to {path}")
    finally:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=30)


def check_log_places(prefix, scratch):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TESSIVO_DEVICE="simulator",
               XDG_STATE_HOME=f"{scratch}/state", XDG_RUNTIME_DIR=f"{scratch}/runtime")
    os.makedirs(f"{scratch}/runtime", mode=0o700)
    desktop, terminal = f"{scratch}/desktop-cwd", f"{scratch}/terminal-cwd"
    os.makedirs(desktop)
    os.makedirs(terminal)
    console = subprocess.Popen([f"{prefix}/bin/tessivo128", "--from-desktop"], cwd=desktop, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_log_line(f"{scratch}/state/tessivo128/log.txt", console)
    check(os.listdir(desktop) == [], f"started from the desktop, it wrote {os.listdir(desktop)} where it ran")
    console = subprocess.Popen([f"{prefix}/bin/tessivo128"], cwd=terminal, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_log_line(f"{terminal}/log.txt", console)


def check_installed_tools(prefix, scratch):
    version = run(f"{prefix}/bin/tessivo128", "--version", env=dict(os.environ, DISPLAY="", QT_QPA_PLATFORM=""))
    check(version.returncode == 0 and version.stdout.strip() == f"tessivo128 {VERSION}",
          f"tessivo128 --version without a display: {version.returncode} {version.stdout!r} {version.stderr!r}")
    wrong = run(f"{prefix}/bin/tessivo128", "--frobnicate", env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    check(wrong.returncode == 2 and "frobnicate" in wrong.stderr, f"an unknown option: {wrong.returncode} {wrong.stderr!r}")
    os.makedirs(f"{scratch}/runs")
    capture = run(f"{prefix}/bin/tessivo128-capture", "--frames", "2", "--out", f"{scratch}/runs", "--name", "run",
                  "--quiet", cwd=scratch, env=dict(os.environ, TESSIVO_DEVICE="simulator"))
    check(capture.returncode == 0 and os.path.isfile(f"{scratch}/runs/run/run_current.csv"),
          f"the installed capture tool: {capture.returncode} {capture.stderr}")
    check_log_places(prefix, scratch)
    recognition = run(RECOGNITION_TEST, "recognitionFromInstalledTree", cwd=scratch,
                      env=dict(os.environ, TESSIVO_INSTALL_PREFIX=prefix, QT_QPA_PLATFORM="offscreen"))
    check(recognition.returncode == 0 and "SKIP" not in recognition.stdout,
          f"recognition from the installed tree:\n{recognition.stdout}{recognition.stderr}")


def check_package(scratch, installed):
    out = f"{scratch}/package"
    built = run("cpack", "-G", "DEB", "-B", out, cwd=BUILD)
    deb = f"{out}/tessivo128_{VERSION}_amd64.deb"
    check(built.returncode == 0 and os.path.isfile(deb), f"cpack -G DEB:\n{built.stdout}{built.stderr}")
    listing = run("dpkg-deb", "--contents", deb).stdout.splitlines()
    packaged = {line.split()[-1].removeprefix("./usr/") for line in listing if not line.startswith("d")}
    check(packaged == installed, f"package against install: {sorted(packaged ^ installed)}")
    fields = {name: run("dpkg-deb", "--field", deb, name).stdout.strip()
              for name in ("Package", "Version", "Architecture", "Maintainer", "Description", "Section", "Depends")}
    check((fields["Package"], fields["Version"], fields["Architecture"]) == ("tessivo128", VERSION, "amd64"),
          f"package identity {fields}")
    check(all(fields[name] for name in ("Maintainer", "Description", "Section")), f"package metadata {fields}")
    for library in ("libqt6core6", "libqt6widgets6", "libopencv-core", "libtorch", "libhdf5"):
        check(library in fields["Depends"], f"Depends lacks {library}: {fields['Depends']}")


def main():
    for tool in ("desktop-file-validate", "cpack", "dpkg-deb", "dpkg-shlibdeps"):
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed")
            sys.exit(77)
    scratch = tempfile.mkdtemp(prefix="tessivo-install-")
    prefix = f"{scratch}/prefix"
    try:
        installed = run("cmake", "--install", BUILD, "--prefix", prefix)
        check(installed.returncode == 0, f"cmake --install:\n{installed.stdout}{installed.stderr}")
        check_tree(prefix)
        make_read_only(prefix)
        before = snapshot(prefix)
        check_installed_tools(prefix, scratch)
        check(snapshot(prefix) == before, "something was written into the installed tree")
        check_package(scratch, files_under(prefix))
    finally:
        for folder, _, _ in os.walk(scratch):
            os.chmod(folder, 0o755)
        shutil.rmtree(scratch, ignore_errors=True)
    print("the install tree, the installed tools read-only and the package are as they should be")


main()
