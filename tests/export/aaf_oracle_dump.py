#!/usr/bin/env python3
"""Opens an AAF file with the independent pyaaf2 reader (PYTHONPATH must name
its src folder) and prints every object and property it reads as JSON, with
every weak reference resolved and every property's type named. Exits 1 with
a message when pyaaf2 cannot open the file, does not know a class or
property, finds a stored form or size other than its type's, or cannot read
or resolve a value.

Usage: aaf_oracle_dump.py FILE [--mobs]

--mobs adds "mobs": per mob its class, name, id and slots, each slot with its
segment tree (class, length, components, input segments, parameters),
walked through pyaaf2's own mob, slot and segment accessors; and
"identifiers": the dictionary's definitions and the operational pattern with
the names pyaaf2's model knows their ids by.
"""
import datetime
import json
import sys

import aaf2
from aaf2 import properties as props


class Fault(Exception):
    pass


def plain(value):
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).hex()
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, (datetime.datetime, datetime.date)):
        return value.isoformat()
    return str(value)


# The object model's type for OperationGroup Parameters is a vector, but the
# format's reference implementation stores the parameters as a set keyed by
# their definition; editing systems expect that, and pyaaf2 reads either.
def stored_as_set(p, typedef):
    return (p.pid == 0x0B03 and p.format == props.SF_STRONG_OBJECT_REFERENCE_SET
            and typedef.store_format == props.SF_STRONG_OBJECT_REFERENCE_VECTOR)


def check_stored_name(p, at):
    """Storage names are "<property name, maybe cut>-<pid in hex>"."""
    stored = p.ref if isinstance(p, props.StrongRefProperty) else p.index_name
    head, _, pid = stored.rpartition("-")
    if pid != "%x" % p.pid or not head or not p.name.startswith(head):
        raise Fault("%s: stored name %r does not come from %r and pid %04x" % (at, stored, p.name, p.pid))


def known_definitions(f):
    """The dictionary's definitions with the names pyaaf2's model gives their ids."""
    from aaf2.model import datadefs
    tables = {"DataDefinitions": datadefs.DataDefs, "OperationDefinitions": datadefs.OperationDefs,
              "ParameterDefinitions": datadefs.ParameterDefs,
              "InterpolationDefinitions": datadefs.InterpolationDefs}
    out = []
    for prop, table in tables.items():
        if prop not in f.dictionary:
            continue
        for d in f.dictionary[prop].value:
            known = table.get(str(d["Identification"].value))
            out.append({"set": prop, "id": str(d["Identification"].value), "name": d["Name"].value,
                        "knownAs": known[0] if known else None})
    op = str(f.header["OperationalPattern"].value) if "OperationalPattern" in f.header else None
    return {"definitions": out, "operationalPattern": op,
            "operationalPatternKnownAs": datadefs.OPDefs.get(op, (None,))[0]}


def describe_target(obj):
    return {"class": obj.classdef.class_name, "key": str(obj.unique_key)}


class Walker:
    def __init__(self):
        self.objects = 0
        self.properties = 0
        self.weak = 0

    def walk(self, obj, where):
        self.objects += 1
        classdef = obj.classdef
        if classdef is None:
            raise Fault("%s: class unknown to pyaaf2" % where)
        rec = {"class": classdef.class_name, "properties": []}
        for p in obj.properties():
            self.properties += 1
            at = "%s.%04x" % (where, p.pid)
            if p.propertydef is None:
                raise Fault("%s: pid %04x unknown to pyaaf2 in %s" % (at, p.pid, classdef.class_name))
            entry = {"pid": p.pid, "name": p.name, "format": p.format_name()}
            # The stored form and size must be those of the property's type
            # in pyaaf2's own model.
            typedef = p.typedef
            entry["type"] = typedef.type_name
            if p.format != typedef.store_format and not stored_as_set(p, typedef):
                raise Fault("%s (%s): stored form %#x, type %s wants %#x"
                            % (at, p.name, p.format, typedef.type_name, typedef.store_format))
            if p.format == props.SF_DATA:
                try:
                    expected = typedef.byte_size
                except Exception:  # variable-size types have none
                    expected = None
                if expected is not None and len(p.data) != expected:
                    raise Fault("%s (%s): %d bytes, type %s has %d"
                                % (at, p.name, len(p.data), typedef.type_name, expected))
            try:
                value = p.value
            except Exception as e:  # pyaaf2 raises many kinds
                raise Fault("%s (%s): cannot read: %r" % (at, p.name, e))
            if isinstance(p, (props.StrongRefProperty, props.StrongRefVectorProperty,
                              props.StrongRefSetProperty, props.WeakRefArrayProperty)):
                check_stored_name(p, at)
            if isinstance(p, props.StrongRefProperty):
                entry["stored"] = p.ref
                entry["object"] = self.walk(value, at)
            elif isinstance(p, (props.StrongRefVectorProperty, props.StrongRefSetProperty)):
                entry["stored"] = p.index_name
                entry["elements"] = [self.walk(v, "%s[%d]" % (at, i)) for i, v in enumerate(value)]
            elif isinstance(p, props.WeakRefProperty):
                if value is None:
                    raise Fault("%s (%s): weak reference does not resolve" % (at, p.name))
                self.weak += 1
                entry["target"] = describe_target(value)
            elif isinstance(p, props.WeakRefArrayProperty):
                if any(v is None for v in value):
                    raise Fault("%s (%s): weak set element does not resolve" % (at, p.name))
                self.weak += len(value)
                entry["stored"] = p.index_name
                entry["targets"] = [describe_target(v) for v in value]
            else:
                entry["value"] = plain(value)
            rec["properties"].append(entry)
        return rec


def segment_tree(seg):
    rec = {"class": seg.classdef.class_name}
    if "Length" in seg:
        rec["length"] = seg["Length"].value
    if "DataDefinition" in seg:
        rec["dataDef"] = seg["DataDefinition"].value.name
    name = seg.classdef.class_name
    if name == "Sequence":
        rec["components"] = [segment_tree(c) for c in seg["Components"].value]
    elif name == "OperationGroup":
        rec["operation"] = seg["Operation"].value.name
        if "InputSegments" in seg:
            rec["inputs"] = [segment_tree(s) for s in seg["InputSegments"].value]
        if "Parameters" in seg:
            params = []
            for prm in seg["Parameters"].value:
                p = {"class": prm.classdef.class_name, "definition": str(prm["Definition"].value)}
                if prm.classdef.class_name == "ConstantValue":
                    p["value"] = plain(prm["Value"].value)
                else:
                    p["interpolation"] = prm["Interpolation"].value.name
                    p["points"] = [[plain(cp["Time"].value), plain(cp["Value"].value)]
                                   for cp in prm["PointList"].value]
                params.append(p)
            rec["parameters"] = params
    elif name == "Transition":
        rec["cutPoint"] = seg["CutPoint"].value
        rec["operationGroup"] = segment_tree(seg["OperationGroup"].value)
    elif name == "SourceClip":
        rec["sourceId"] = str(seg["SourceID"].value) if "SourceID" in seg else None
        rec["sourceSlot"] = seg["SourceMobSlotID"].value
        rec["start"] = seg["StartTime"].value if "StartTime" in seg else None
    elif name == "Timecode":
        rec["start"], rec["fps"], rec["drop"] = seg["Start"].value, seg["FPS"].value, seg["Drop"].value
    elif name in ("CommentMarker", "DescriptiveMarker"):
        rec["position"] = seg["Position"].value
        rec["comment"] = seg["Comment"].value if "Comment" in seg else None
    return rec


def mob_trees(f):
    mobs = []
    for mob in f.content.mobs:
        m = {"class": mob.classdef.class_name, "name": mob.name, "id": str(mob.mob_id), "slots": []}
        for slot in mob.slots:
            s = {"class": slot.classdef.class_name, "id": slot.slot_id,
                 "name": slot["SlotName"].value if "SlotName" in slot else None,
                 "editRate": str(slot["EditRate"].value),
                 "segment": segment_tree(slot.segment)}
            m["slots"].append(s)
        if mob.classdef.class_name == "SourceMob":
            d = mob.descriptor
            m["descriptor"] = {"class": d.classdef.class_name,
                               "locators": [loc["URLString"].value for loc in d["Locator"].value]
                               if "Locator" in d else []}
        mobs.append(m)
    return mobs


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        with aaf2.open(sys.argv[1], "r") as f:
            walker = Walker()
            tree = walker.walk(f.root, "root")
            out = {"objects": walker.objects, "properties": walker.properties,
                   "weakReferences": walker.weak, "root": tree}
            if "--mobs" in sys.argv[2:]:
                out["mobs"] = mob_trees(f)
                out["identifiers"] = known_definitions(f)
    except Fault as fault:
        sys.stderr.write("FAULT: %s\n" % fault)
        return 1
    except Exception as e:
        sys.stderr.write("FAULT: pyaaf2 failed: %r\n" % e)
        return 1
    sys.stdout.write(json.dumps(out, ensure_ascii=False) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
