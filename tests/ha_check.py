#!/usr/bin/python3
"""Checks Home Assistant discovery configs as HA reads them, and renders their
templates with Jinja2 over state payloads, as HA does.

ha_check.py CONFIGS PAYLOADS [--units=N,M,...] [UNIT=STATE ...]

CONFIGS: blocks of a config topic line and a JSON payload line. PAYLOADS:
lines "TOPIC<TAB>PAYLOAD", the last one per topic counts. --units: exactly
these units have configs, four each, beside the site's five. UNIT=STATE: what
the state sensor of that unit must read ("3=failed"). Exit 0 when all holds;
a missing python3-jinja2 is exit 77 (skipped)."""

import datetime
import json
import re
import sys

try:
    from jinja2.sandbox import ImmutableSandboxedEnvironment
except ImportError:
    print("SKIP: python3-jinja2 is not installed (scripts/deps installs it)")
    sys.exit(77)

ID = re.compile(r"^[a-zA-Z0-9_-]+$")
ENTITY_ID = re.compile(r"^(?!.+__)(?!_)[\da-z_]+(?<!_)\.(?!_)[\da-z_]+(?<!_)$")
COMPONENTS = {"sensor", "binary_sensor", "event"}
SHOW_UNDER_WAY = {"starting", "running", "closing"}

problems = []
env = ImmutableSandboxedEnvironment()


def fail(what):
    problems.append(what)


def render(template, payload):
    """As HA's MQTT value templates: value and value_json, result stripped."""
    variables = {"value": payload}
    try:
        variables["value_json"] = json.loads(payload)
    except ValueError:
        pass
    return env.from_string(template).render(**variables).strip()


def read_configs(path):
    lines = [l for l in open(path, encoding="utf-8").read().split("\n") if l]
    return [(lines[i], lines[i + 1]) for i in range(0, len(lines), 2)]


def check_config(topic, text):
    parts = topic.split("/")
    if len(parts) < 5 or parts[-1] != "config" or parts[-4] not in COMPONENTS:
        fail(f"{topic}: not <prefix>/<component>/<node_id>/<object_id>/config")
    component = parts[-4]
    for part in parts[-3:-1]:
        if not ID.match(part):
            fail(f"{topic}: id '{part}' outside [a-zA-Z0-9_-]")
    c = json.loads(text)
    for key in ("name", "unique_id", "state_topic", "device", "origin"):
        if key not in c:
            fail(f"{topic}: no {key}")
    entity = c.get("default_entity_id", "")
    if not ENTITY_ID.match(entity) or entity.split(".")[0] != component:
        fail(f"{topic}: default_entity_id '{entity}'")
    device = c.get("device", {})
    if not device.get("identifiers") or not all(device.get(k) for k in ("name", "manufacturer", "model", "sw_version")):
        fail(f"{topic}: device block incomplete")
    connectivity = c.get("device_class") == "connectivity"
    if connectivity == ("availability_topic" in c):
        fail(f"{topic}: availability must be on every entity but connectivity")
    if not connectivity and (c.get("payload_available"), c.get("payload_not_available")) != ("1", "0"):
        fail(f"{topic}: availability payloads")
    if component == "event" and not c.get("event_types"):
        fail(f"{topic}: event without event_types")
    if c.get("device_class") == "enum" and not c.get("options"):
        fail(f"{topic}: enum without options")
    return c


def check_state(component, c, payload, want):
    """One entity over its topic's payload; `want` the unit's state or None."""
    value = render(c["value_template"], payload) if "value_template" in c else payload
    name, cls = c["unique_id"], c.get("device_class")
    # A binary sensor reads ON or OFF; an empty output is ignored by HA.
    if component == "binary_sensor" and value not in (c.get("payload_on", "ON"), c.get("payload_off", "OFF"), ""):
        fail(f"{name}: '{value}' is neither on nor off")
    if cls == "enum" and value not in c["options"]:
        fail(f"{name}: '{value}' is not one of its options")
    if c.get("json_attributes_template"):
        attrs = json.loads(render(c["json_attributes_template"], payload))
        if not isinstance(attrs, dict):
            fail(f"{name}: attributes are not an object")
    if c.get("device_class") == "timestamp" and value != "None":
        if datetime.datetime.fromisoformat(value).tzinfo is None:
            fail(f"{name}: timestamp '{value}' without an offset")
    if want is None:
        return
    expected = {
        "_state": want,
        "_failed": "ON" if want == "failed" else "OFF",
        "_running": "ON" if want in SHOW_UNDER_WAY else "OFF",
    }
    for suffix, wanted in expected.items():
        if name.endswith(suffix) and value != wanted:
            fail(f"{name}: '{value}', expected '{wanted}'")
    print(f"{name}: {value}")


def main():
    configs = read_configs(sys.argv[1])
    payloads = {}
    for line in open(sys.argv[2], encoding="utf-8"):
        if "\t" in line:
            topic, payload = line.rstrip("\n").split("\t", 1)
            payloads[topic] = payload
    units = [a.split("=", 1)[1].split(",") for a in sys.argv[3:] if a.startswith("--units=")]
    wants = dict(a.split("=", 1) for a in sys.argv[3:] if not a.startswith("--"))
    if units:
        have = sorted({m.group(1) for t, _ in configs if (m := re.search(r"/u(\d+)_[a-z_]+/config$", t))})
        if have != sorted(units[0]) or len(configs) != 5 + 4 * len(units[0]):
            fail(f"{len(configs)} configs for units {have}, expected those of the site and {units[0]}")
    seen = set()
    for topic, text in configs:
        c = check_config(topic, text)
        unit = re.search(r"/unit/(\d+)$", c["state_topic"])
        payload = payloads.get(c["state_topic"])
        if payload is None:
            continue
        if c.get("event_types"):
            event = json.loads(render(c["value_template"], payload))
            if event.get("event_type") not in c["event_types"]:
                fail(f"{c['unique_id']}: event type '{event.get('event_type')}'")
            continue
        want = wants.get(unit.group(1)) if unit else None
        if want is not None:
            seen.add(unit.group(1))
        check_state(topic.split("/")[-4], c, payload, want)
    for unit in set(wants) - seen:
        fail(f"unit {unit}: no config with a payload")
    for p in problems:
        print("FAIL:", p)
    sys.exit(1 if problems else 0)


main()
