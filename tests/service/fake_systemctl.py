#!/usr/bin/python3
# Stand-in for systemctl in the service tests. The unit counts as loaded
# while its file lies in $CALVORA_SYSTEMD_UNIT_DIR (or, once started, until
# it is stopped, as systemd keeps a running unit whose file was removed).
# State and the calls made are kept beside this script.
import json
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
state_path = os.path.join(here, "systemctl-state.json")
calls_path = os.path.join(here, "systemctl-calls.txt")
unit_dir = os.environ.get("CALVORA_SYSTEMD_UNIT_DIR", "")

with open(calls_path, "a") as calls:
    calls.write(" ".join(sys.argv[1:]) + "\n")

state = {"active": "inactive", "enabled": False}
if os.path.exists(state_path):
    with open(state_path) as f:
        state = json.load(f)

if os.path.exists(os.path.join(here, "deny")):
    print("Failed to connect to bus: Access denied", file=sys.stderr)
    sys.exit(1)

args = [a for a in sys.argv[1:] if not a.startswith("--")]
verb = args[0] if args else ""
unit = args[-1] if len(args) > 1 else ""
unit_file = os.path.join(unit_dir, unit) if unit else ""
has_file = bool(unit_file) and os.path.exists(unit_file)


def save():
    with open(state_path, "w") as f:
        json.dump(state, f)


if verb == "daemon-reload":
    sys.exit(0)
if verb == "enable":
    if not has_file:
        print(f"Failed to enable unit: Unit file {unit} does not exist.", file=sys.stderr)
        sys.exit(1)
    state["enabled"] = True
    save()
    sys.exit(0)
if verb == "disable":
    if not has_file:
        print(f"Failed to disable unit: Unit file {unit} does not exist.", file=sys.stderr)
        sys.exit(1)
    state["enabled"] = False
    save()
    sys.exit(0)
if verb == "start":
    if not has_file:
        print(f"Failed to start {unit}: Unit {unit} not found.", file=sys.stderr)
        sys.exit(5)
    state["active"] = "active"
    save()
    sys.exit(0)
if verb == "stop":
    if not has_file and state["active"] != "active":
        print(f"Failed to stop {unit}: Unit {unit} not loaded.", file=sys.stderr)
        sys.exit(5)
    state["active"] = "inactive"
    save()
    sys.exit(0)
if verb == "show":
    load = "loaded" if has_file else "not-found"
    print(f"LoadState={load}")
    print(f"ActiveState={state['active']}")
    sys.exit(0)
print(f"Unknown command verb {verb}.", file=sys.stderr)
sys.exit(1)
