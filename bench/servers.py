"""Private sound servers, started in a folder of their own and reached through a private ALSA
configuration: PulseAudio at 8000 Hz with null devices (here), PipeWire with or without its
PulseAudio server (pipewire.py) and JACK's dummy driver. Nothing is installed and nothing of
the user's session is touched. Each start returns None (and says why) when the server did
not come up; the processes are owned by processes.py."""

import os
import shutil
import socket
import subprocess
import time

from bench import pipewire, processes

ROUTES = ("pulse", "pipewire-alsa", "pipewire-pulse")
# One name for every JACK server: JACK's shared registry holds few servers, and reclaims the
# entry of a server that died only for a new server of the same name.
JACK_SERVER = "dsphost-bench"
CLIENT_UNSET = ("PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "PULSE_LATENCY_MSEC",
                "PIPEWIRE_NODE", "PIPEWIRE_PROPS", "PIPEWIRE_LATENCY")


def server_env(directory):
    """The environment of a server of our own: a private home and runtime folder in
    directory, and nothing that leads it to the user's session. A server started again in
    the same folder gets the same ones."""
    home, runtime = os.path.join(directory, "home"), os.path.join(directory, "run")
    os.makedirs(home, mode=0o700, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime,
               XDG_CONFIG_HOME=os.path.join(home, ".config"))
    for name in ("PULSE_SERVER", "DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE",
                 "PIPEWIRE_RUNTIME_DIR"):
        env.pop(name, None)
    return env


def client_env(config, **extra):
    """The environment of a program whose ALSA configuration is the file `config`."""
    env = dict(os.environ, ALSA_CONFIG_PATH=config, JACK_NO_START_SERVER="1", **extra)
    for name in CLIENT_UNSET:
        env.pop(name, None)
    return env


def alsa_config(directory, slave, output=os.devnull, infile="/dev/zero", types=""):
    """Writes directory/asound.conf, whose default device plays into the file `output` and
    captures from the file `infile` (ALSA's file plug-in, raw samples), paced by `slave`;
    `types` declares plug-in types that live outside ALSA's own folder. Its path."""
    path = os.path.join(directory, "asound.conf")
    with open(path, "w") as f:
        f.write(types)
        f.write('pcm.!default {\n    type asym\n'
                '    playback.pcm { type file slave.pcm %s file "%s" format "raw" }\n'
                '    capture.pcm { type file slave.pcm %s file "/dev/null"\n'
                '                  infile "%s" format "raw" }\n}\n'
                % (slave, output, slave, infile))
    return path


def pulse_slave(sock):
    return '{ type pulse server "unix:%s" }' % sock


def pulse_client(directory, sock):
    """What a program needs beyond ALSA to reach the PulseAudio in directory at sock, as its
    own tools do: the server's address, and its private home and runtime folder."""
    private = server_env(directory)
    return dict({k: private[k] for k in ("HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME")},
                PULSE_SERVER="unix:" + sock)


def start_daemon(argv, env, log_path):
    """Starts a server in a session of its own, its output to log_path."""
    with open(log_path, "a") as log:
        return processes.spawn(argv, stdout=log, stderr=log, env=env)


def wait_for_socket(path, daemon, seconds=10.0):
    """Whether the Unix socket at path accepts a connection before the daemon ends or the
    time runs out."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and daemon.poll() is None:
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            probe.connect(path)
            return True
        except OSError:
            time.sleep(0.05)
        finally:
            probe.close()
    return False


def start_pulse(directory, sinks=("out",), source=None, seconds=10.0):
    """A private PulseAudio, 8000 Hz mono: a null sink for each name in sinks (the first is
    the default) and a null source `silence`, the default source unless `source` names
    another (a sink's monitor, say). Its socket's path, or None."""
    if shutil.which("pulseaudio") is None:
        processes.say("no pulseaudio; run scripts/setup.sh try")
        return None
    os.makedirs(directory, exist_ok=True)
    sock, script = os.path.join(directory, "native"), os.path.join(directory, "default.pa")
    # An idle null sink renders in 2-second blocks; a loopback of silence keeps each sink on
    # short ones, and a suspend and resume makes it start over with them.
    nulls = "rate=8000 channels=1 format=s16le"
    lines = ["load-module module-null-sink sink_name=%s %s" % (s, nulls) for s in sinks]
    lines += ["load-module module-null-source source_name=silence " + nulls,
              "set-default-sink " + sinks[0], "set-default-source " + (source or "silence")]
    for sink in sinks:
        lines += ["load-module module-loopback source=silence sink=%s latency_msec=10 "
                  "adjust_time=0" % sink, "suspend-sink %s 1" % sink, "suspend-sink %s 0" % sink]
    lines.append("load-module module-native-protocol-unix socket=%s auth-anonymous=1" % sock)
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    daemon = start_daemon(
        ["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
         "--use-pid-file=no", "--system=no", "--log-target=stderr"],
        server_env(directory), os.path.join(directory, "pulse.log"))
    if wait_for_socket(sock, daemon, seconds):
        return sock
    processes.say("PulseAudio did not start; its log: " + os.path.join(directory, "pulse.log"))
    return None


def start_paced(server, directory, cache):
    """The server named (one of ROUTES) started in directory, a new folder, behind the default
    ALSA device of the programs measured: file plug-ins (played samples to /dev/null, captured
    ones from /dev/zero) over the server's plug-in, which paces them. Returns their
    environment and words for the tables; None if the server did not start."""
    os.makedirs(directory)
    if server == "pulse":
        processes.say("starting a private PulseAudio")
        sock = start_pulse(directory)
        if sock is None:
            return None
        return (client_env(alsa_config(directory, pulse_slave(sock))),
                "8000 Hz through PulseAudio")
    started = start_pipewire(directory, cache, server == "pipewire-pulse")
    if started is None:
        return None
    client, types, sock = started
    if sock:
        return (client_env(alsa_config(directory, pulse_slave(sock))),
                "8000 Hz through PipeWire's PulseAudio server")
    config = alsa_config(directory, '{ type pipewire playback_node "-1" capture_node "-1" }',
                         types=types)
    return client_env(config, **client), "8000 Hz through PipeWire's ALSA plug-in"


def start_route(server, directory, cache, loop=False):
    """The server named (one of ROUTES) started in directory (a new folder), the programs'
    default ALSA device its plug-in itself (no file plug-ins), playing into the default sink.
    Their input is silence, or with `loop` the sink's monitor (turned down, to half the level
    or less a pass, so that what goes round dies away). Returns a dict: "env", the programs'
    environment; "tools", that of the server's own tools; "play" and "record", the commands
    that play a WAV file into the sink and record its monitor into one (the file's path goes
    last); "device", the configuration of the default device, with %s where its options go.
    None if the server did not start."""
    os.makedirs(directory)
    config = os.path.join(directory, "route.conf")
    env = client_env(config)
    types = ""
    if server == "pulse":
        processes.say("starting a private PulseAudio")
        sock = start_pulse(directory)
        if sock is None:
            return None
        tools = dict(env, PULSE_SERVER="unix:" + sock)
        if loop and not processes.run_checked(["pactl", "set-source-volume", "out.monitor",
                                               "80%"], env=tools):
            return None
        wav = ["--latency-msec=10", "--file-format=wav", "--rate=8000", "--channels=1"]
        play = ["pacat"] + wav + ["--device=out"]
        record = ["parec"] + wav + ["--device=out.monitor"]
        device = 'type pulse server "unix:%s"' % sock
        if loop:
            env["PULSE_SOURCE"] = "out.monitor"
    else:
        started = start_pipewire(directory, cache, server == "pipewire-pulse")
        if started is None:
            return None
        client, types, sock = started
        tools = dict(env, **client)
        tool = os.path.join(pipewire.bin_dir(cache), "pw-")
        # Linear: with the stereo sink's mono mix-down and up-mix, a pass keeps about 0.45.
        if loop and not processes.run_checked(
                [tool + "cli", "set-param", "null-sink", "Props",
                 "{ monitorVolumes: [ 0.3, 0.3 ] }"], env=tools, stdout=subprocess.DEVNULL):
            return None
        play = [tool + "play", "--target=null-sink"]
        record = [tool + "record", "--rate=8000", "--channels=1", "--target=null-sink",
                  "-P", "{ stream.capture.sink = true }"]
        if sock:
            device = 'type pulse server "unix:%s"' % sock
            if loop:
                env["PULSE_SOURCE"] = "null-sink.monitor"
        else:
            device = 'type pipewire playback_node "-1" capture_node "-1"'
            env.update(client)
            if loop:
                env["PIPEWIRE_PROPS"] = "{ stream.capture.sink = true }"
    route = {"env": env, "tools": tools, "play": play, "record": record,
             "device": types + "pcm.!default { %s %%s }\n" % device}
    route_setting(route, None)
    return route


def route_setting(route, setting):
    """The route's program environment with the setting in place (None: the default), whose
    configuration file this writes: "NAME=value" is a variable of the environment, anything
    else an option of the default ALSA device (as ~/.asoundrc would give it); a setting may
    join several with ", "."""
    env = dict(route["env"])
    options = []
    for item in (setting or "").split(", "):
        name, equals, value = item.partition("=")
        if equals:
            env[name] = value
        elif item:
            options.append(item)
    with open(env["ALSA_CONFIG_PATH"], "w") as f:
        f.write(route["device"] % " ".join(options))
    return env


def start_pipewire(directory, cache, with_pulse):
    """A private PipeWire in directory from the packages unpacked in cache: the daemon,
    WirePlumber (which links new streams to the null devices) and, with with_pulse, its
    PulseAudio server. Returns the variables a client needs to reach it through the ALSA
    plug-in, the plug-in types for the ALSA configuration, and the PulseAudio socket's path
    (None without); None if it did not come up."""
    prefix = pipewire.unpack(cache, pipewire.PACKAGES, "PipeWire")
    lib = prefix and pipewire.find(prefix, "libpipewire-0.3.so.0")
    if not lib:
        return None
    processes.say("starting a private PipeWire")
    bin_path = pipewire.bin_dir(cache)
    config, session = pipewire.configure(directory, prefix)
    env = server_env(directory)
    runtime = env["XDG_RUNTIME_DIR"]
    client = {
        "LD_LIBRARY_PATH": ":".join(filter(None, (lib, os.environ.get("LD_LIBRARY_PATH")))),
        "SPA_PLUGIN_DIR": os.path.join(lib, "spa-0.2"),
        "PIPEWIRE_MODULE_DIR": os.path.join(lib, "pipewire-0.3"),
        "PIPEWIRE_CONFIG_DIR": config,
        "PIPEWIRE_RUNTIME_DIR": runtime,
    }
    env.update(client, PATH=bin_path + ":" + os.environ.get("PATH", ""),
               WIREPLUMBER_MODULE_DIR=os.path.join(lib, "wireplumber-0.4"),
               WIREPLUMBER_CONFIG_DIR=session, WIREPLUMBER_DATA_DIR=session)
    log = os.path.join(directory, "pipewire.log")

    def failed(what):
        with open(log) as f:
            processes.say("%s; the end of its log:\n%s" % (what, f.read()[-3000:]))

    daemon = start_daemon([os.path.join(bin_path, "pipewire")], env, log)
    if not wait_for_socket(os.path.join(runtime, "pipewire-0"), daemon):
        return failed("PipeWire did not start")
    manager = start_daemon([os.path.join(bin_path, "wireplumber")], env, log)
    deadline = time.monotonic() + 10.0
    while not all(subprocess.run([os.path.join(bin_path, "wpctl"), "inspect", node], env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL).returncode == 0
                  for node in ("@DEFAULT_AUDIO_SINK@", "@DEFAULT_AUDIO_SOURCE@")):
        if time.monotonic() > deadline or manager.poll() is not None:
            return failed("WirePlumber set no default devices")
        time.sleep(0.1)
    pulse_socket = None
    if with_pulse:
        pulse_socket = os.path.join(runtime, "pulse", "native")
        server = start_daemon([os.path.join(bin_path, "pipewire-pulse")], env, log)
        if not wait_for_socket(pulse_socket, server):
            return failed("PipeWire's PulseAudio server did not start")
    types = "".join('%s_type.pipewire { lib "%s/alsa-lib/libasound_module_%s_pipewire.so" }\n'
                    % (kind, lib, kind) for kind in ("pcm", "ctl"))
    return client, types, pulse_socket


def start_jack(directory, cache):
    """jackd with the dummy driver (48 kHz, 256-frame periods, two ports each way, not in the
    real-time class), unpacked from Debian's packages into cache, under JACK_SERVER. Starting
    it again in the same folder gives the same server. Whether it came up."""
    prefix = pipewire.unpack(cache, ("jackd2",), "JACK")
    drivers = prefix and pipewire.find(prefix, "jack", "jack_dummy.so")
    if not drivers:
        return False
    os.makedirs(directory, exist_ok=True)
    bin_dir = os.path.join(prefix, "usr", "bin")
    env = server_env(directory)
    env.update(JACK_DRIVER_DIR=drivers, JACK_DEFAULT_SERVER=JACK_SERVER, JACK_NO_START_SERVER="1",
               LD_LIBRARY_PATH=":".join(filter(None, (os.path.dirname(drivers),
                                                      os.environ.get("LD_LIBRARY_PATH")))))
    log = os.path.join(directory, "jack.log")
    daemon = start_daemon([os.path.join(bin_dir, "jackd"), "--no-realtime", "-n", JACK_SERVER,
                           "-d", "dummy", "-r", "48000", "-p", "256"], env, log)
    ready = subprocess.run([os.path.join(bin_dir, "jack_wait"), "-w", "-t", "10", "-s",
                            JACK_SERVER], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if ready.returncode != 0 or daemon.poll() is not None:
        processes.say("JACK did not start; its log: " + log)
        return False
    return True


def jack_client_env(directory):
    """The environment of a program whose default ALSA device is JACK, as
    doc/devices-and-latency.md sets it up: `plug` over ALSA's `jack` device (declared here, as ALSA's own configuration is not
    read), which connects to the dummy driver's ports."""
    path = os.path.join(directory, "asound.conf")
    with open(path, "w") as f:
        f.write("pcm.jack {\n    type jack\n"
                "    playback_ports { 0 system:playback_1 1 system:playback_2 }\n"
                "    capture_ports { 0 system:capture_1 1 system:capture_2 }\n}\n"
                'pcm.!default {\n    type plug\n    slave.pcm "jack"\n}\n')
    return client_env(path, JACK_DEFAULT_SERVER=JACK_SERVER)
