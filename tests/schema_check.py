#!/usr/bin/env python3
"""Validates JSON documents against docs/schema/ with a real validator.

usage: schema_check.py SCHEMA_DIR KIND FILE [KIND FILE ...]
KIND is board, unit, bus, record, event, or the hub's sites, site, alarm and notification:
FILE holds one document a line
(or a JSON array of them, as /api/records answers).
KIND message: a WebSocket message per line ({"board","records","events"}).
KIND retained: "[...] TOPIC JSON" per line, TOPIC ending in unit/N or bus
(MQTT retained topics).
Exit 0 all valid, 1 a document is not, 77 python3-jsonschema is missing.
"""
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("SKIP: python3-jsonschema is not installed (scripts/deps installs it)")
    sys.exit(77)

KINDS = ("board", "unit", "bus", "record", "event", "sites", "site", "alarm", "notification")


def validators(schema_dir):
    schemas = {k: json.loads((schema_dir / f"{k}.schema.json").read_text()) for k in KINDS}
    for s in schemas.values():
        jsonschema.Draft202012Validator.check_schema(s)
    try:  # jsonschema 4.18 and later
        from referencing import Registry, Resource
        registry = Registry().with_resources(
            (s["$id"], Resource.from_contents(s)) for s in schemas.values())
        return {k: jsonschema.Draft202012Validator(s, registry=registry)
                for k, s in schemas.items()}
    except ImportError:
        store = {s["$id"]: s for s in schemas.values()}
        return {k: jsonschema.Draft202012Validator(
                    s, resolver=jsonschema.RefResolver.from_schema(s, store=store))
                for k, s in schemas.items()}


def main(argv):
    if len(argv) < 4 or len(argv) % 2:
        print(__doc__)
        return 2
    check = validators(pathlib.Path(argv[1]))
    bad = 0
    for kind, path in zip(argv[2::2], argv[3::2]):
        lines = [l for l in pathlib.Path(path).read_text(encoding="utf-8").splitlines() if l]
        if not lines:
            print(f"{path}: no documents")
            bad += 1
        for n, line in enumerate(lines, 1):
            if kind == "retained":
                head, brace, rest = line.partition("{")
                topic, line = head.split()[-1], brace + rest
            doc = json.loads(line)
            parts = [(kind, d) for d in doc] if isinstance(doc, list) else [(kind, doc)]
            if kind == "retained":
                bus = topic.split("/")[-1] == "bus"
                parts = [("bus" if bus else "unit", doc)]
                if not bus and not topic.endswith(f"unit/{doc.get('unit')}"):
                    bad += 1
                    print(f"{path}:{n}: topic {topic} carries unit {doc.get('unit')}")
            if kind == "message":
                parts = [("board", doc["board"])] + [("record", r) for r in doc["records"]] + \
                        [("event", e) for e in doc.get("events", [])]
            for k, d in parts:
                for err in check[k].iter_errors(d):
                    bad += 1
                    where = "/".join(str(p) for p in err.absolute_path)
                    print(f"{path}:{n}: {k} {where}: {err.message}")
        print(f"{path}: {len(lines)} {kind} documents checked")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
