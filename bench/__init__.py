"""The measuring tools of dsphost (bench/run is the command to type), and the kit the tests and
scripts/try.sh share with them: private sound servers (servers, pipewire), the status line
(status) and the owner of every process started (processes)."""
