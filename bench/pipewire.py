"""PipeWire and JACK for the private servers of servers.py: Debian's packages, downloaded once
and unpacked into a cache folder of the user's with whatever libraries they need that the
machine lacks (nothing is installed), and PipeWire's configuration for a machine without a
sound card or a desktop session."""

import glob
import os
import re
import shutil
import subprocess

from bench import processes

# What a private PipeWire needs beyond the libraries every Debian 12 has; the libraries the
# machine lacks besides are found by asking apt what installing these would bring.
PACKAGES = ("pipewire", "pipewire-bin", "libpipewire-0.3-0", "libpipewire-0.3-common",
            "libpipewire-0.3-modules", "libspa-0.2-modules", "pipewire-alsa", "pipewire-pulse",
            "wireplumber", "libwireplumber-0.4-0", "liblua5.3-0")


def missing_packages(packages):
    """The packages, and the ones they depend on, that this machine lacks, as apt would
    install them (a simulation: nothing changes); None if apt cannot tell. Without package
    lists yet, as on a fresh machine, they are fetched first (as root)."""
    argv = ["apt-get", "install", "-s", "-q", "--no-install-recommends"] + list(packages)
    result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0 and os.geteuid() == 0:
        subprocess.run(["apt-get", "update", "-qq"], stdin=subprocess.DEVNULL)
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        processes.say("apt cannot resolve %s:\n%s" % (" ".join(packages), result.stderr))
        return None
    return re.findall(r"^Inst (\S+)", result.stdout, re.MULTILINE)


def unpack(cache, wanted, what):
    """The Debian packages wanted, with those they need that the machine lacks, unpacked under
    cache/prefix (downloaded into cache/debs), the first time only; the prefix, or None."""
    prefix = os.path.join(cache, "prefix")
    if os.path.exists(os.path.join(cache, "unpacked")):
        return prefix
    processes.say("downloading %s's packages into %s" % (what, cache))
    debs = os.path.join(cache, "debs")
    for folder in (debs, prefix):
        shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(debs)
    missing = missing_packages(wanted)
    if missing is None:
        return None
    packages = list(wanted) + [p for p in missing if p not in wanted]
    apt = ["apt-get", "-q"]
    if os.geteuid() == 0:  # apt's download user cannot write to the cache folder
        apt += ["-o", "APT::Sandbox::User=root"]
    if not processes.run_checked(apt + ["download"] + packages, cwd=debs,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL):
        return None
    for name in sorted(os.listdir(debs)):
        if not processes.run_checked(["dpkg-deb", "-x", os.path.join(debs, name), prefix]):
            return None
    with open(os.path.join(cache, "unpacked"), "w") as f:
        f.write("\n".join(packages) + "\n")
    return prefix


def find(prefix, *path):
    """The library folder under prefix holding path (usr/lib/<triplet>/...), or None."""
    found = glob.glob(os.path.join(prefix, "usr", "lib", "*", *path))
    if not found:
        processes.say("no %s under %s" % (os.path.join(*path), prefix))
        return None
    return os.path.dirname(found[0])


def bin_dir(cache):
    return os.path.join(cache, "prefix", "usr", "bin")


def without_block(text, start):
    """text less the block in braces that begins with `start`."""
    begin = text.find(start)
    if begin < 0:
        return text
    depth = 0
    for end in range(begin, len(text)):
        depth += {"{": 1, "}": -1}.get(text[end], 0)
        if depth == 0:
            return text[:begin] + text[end + 1:]
    return text


def configure(directory, prefix):
    """Configuration folders for PipeWire and WirePlumber in directory, from the stock ones:
    no modules that want a desktop session, two null devices that WirePlumber makes the
    defaults, no device monitors. Returns (PipeWire's folder, WirePlumber's)."""
    share = os.path.join(prefix, "usr", "share")
    config = os.path.join(directory, "pipewire")
    shutil.copytree(os.path.join(share, "pipewire"), config, dirs_exist_ok=True)
    path = os.path.join(config, "pipewire.conf")
    with open(path) as f:
        text = f.read()
    for module in ("portal", "x11-bell"):
        text = without_block(text, "{ name = libpipewire-module-" + module)
    nulls = "".join(
        "\n    { factory = adapter args = { factory.name = support.null-audio-sink "
        "node.name = %s media.class = %s audio.position = [ FL FR ] } }" % (name, media)
        for name, media in (("null-sink", "Audio/Sink"), ("null-source", "Audio/Source/Virtual")))
    text = text.replace("context.objects = [", "context.objects = [" + nulls, 1)
    with open(path, "w") as f:
        f.write(text)

    session = os.path.join(directory, "wireplumber")
    shutil.copytree(os.path.join(share, "wireplumber"), session, dirs_exist_ok=True)
    path = os.path.join(session, "wireplumber.conf")
    with open(path) as f:
        text = f.read()
    with open(path, "w") as f:
        f.write(re.sub(r"^(\s*\{ name = bluetooth\.lua)", r"#\1", text, flags=re.MULTILINE))
    with open(os.path.join(session, "main.lua.d", "60-private.lua"), "w") as f:
        f.write("alsa_monitor.enabled = false\n"
                "v4l2_monitor.enabled = false\n"
                "libcamera_monitor.enabled = false\n"
                "default_access.properties[\"enable-flatpak-portal\"] = false\n")
    return config, session
