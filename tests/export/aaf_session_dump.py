#!/usr/bin/env python3
"""Reads AAF sessions with the independent pyaaf2 reader (PYTHONPATH must name
its src folder) the way an editing system does, and prints for each file a
JSON object:

  "mobCounts"   mobs by class
  "topLevel"    the names of the top-level compositions
  "slots"       the (first) top-level composition's slots in stored order:
                class, id, name, physical track number, edit rate, and
                  "timecode"   {length, start, fps, drop}   for a timecode slot
                  "components" the sequence, each with its timeline position
                               (fillers and clips advance it, a transition
                               steps back by its length):
                     Filler      {length}
                     Transition  {length, cutPoint, operation, level: a constant
                                  "n/d" or "<interpolation> <value>@<time> ..."}
                     Clip        {length, start, gains: [{operation, value | points}],
                                  essence: the clip resolved through its master
                                  mob and file source mob}
                  "markers"    [{position, length, comment}] for an event slot
  "masters"     per master mob: name and the file source mob it references

Essence resolution: the clip's SourceID and SourceMobSlotID name a master
mob and its slot, whose source clip names a file source mob and slot; that
mob's WAVE descriptor gives the rate, length, summary and locator URL, and
the URL the path ("exists" says whether a file lies there).

Usage: aaf_session_dump.py FILE...  (prints a JSON array, one entry per file;
exits 1 with a message on stderr when a file cannot be read or a reference
does not resolve)
"""
import json
import os
import sys
import urllib.parse

import aaf2


class Fault(Exception):
    pass


def rational_text(r):
    return "%d/%d" % (r.numerator, r.denominator)


def parameter_value(p):
    if p.classdef.class_name == "ConstantValue":
        return {"value": rational_text(p["Value"].value)}
    return {"interpolation": p["Interpolation"].value.name,
            "points": [[rational_text(cp["Time"].value), rational_text(cp["Value"].value)]
                       for cp in p["PointList"].value]}


def level_text(p):
    """A constant "n/d", or a curve "<interpolation> <value>@<time> ..."."""
    v = parameter_value(p)
    if "value" in v:
        return v["value"]
    return " ".join([v["interpolation"]] + ["%s@%s" % (value, time) for time, value in v["points"]])


def resolve_essence(clip, where):
    master = clip.mob
    if master is None or master.classdef.class_name != "MasterMob":
        raise Fault("%s: clip does not reference a master mob" % where)
    master_slot = clip.slot
    if master_slot is None:
        raise Fault("%s: master mob has no slot %d" % (where, clip.slot_id))
    file_clip = master_slot.segment
    if file_clip.classdef.class_name != "SourceClip":
        raise Fault("%s: master slot holds a %s" % (where, file_clip.classdef.class_name))
    source = file_clip.mob
    if source is None or source.classdef.class_name != "SourceMob":
        raise Fault("%s: master clip does not reference a source mob" % where)
    source_slot = file_clip.slot
    if source_slot is None:
        raise Fault("%s: source mob has no slot %d" % (where, file_clip.slot_id))
    own = source_slot.segment
    if own["SourceID"].value.int != 0:
        raise Fault("%s: the file source mob's clip does not end the chain" % where)
    d = source.descriptor
    urls = [loc["URLString"].value for loc in d["Locator"].value] if "Locator" in d else []
    path = None
    if urls and urls[0].startswith("file://"):
        path = urllib.parse.unquote(urllib.parse.urlparse(urls[0]).path)
    return {
        "masterId": str(master.mob_id), "masterName": master.name,
        "masterSlotLength": file_clip.length, "masterClipStart": file_clip.start,
        "masterPhysicalTrack": master_slot["PhysicalTrackNumber"].value
        if "PhysicalTrackNumber" in master_slot else None,
        "sourceId": str(source.mob_id), "sourceName": source.name,
        "sourceSlotLength": own.length,
        "descriptor": d.classdef.class_name,
        "sampleRate": rational_text(d["SampleRate"].value),
        "length": d["Length"].value,
        "summary": bytes(d["Summary"].value).hex(),
        "urls": urls, "path": path, "exists": bool(path) and os.path.isfile(path),
        "editRate": rational_text(source_slot["EditRate"].value),
    }


def unwrap(segment, where):
    """A clip inside gain effects: the clip and the effects, outermost first."""
    gains = []
    while segment.classdef.class_name == "OperationGroup":
        entry = {"operation": segment["Operation"].value.name, "length": segment.length}
        params = list(segment["Parameters"].value) if "Parameters" in segment else []
        if len(params) != 1:
            raise Fault("%s: gain effect with %d parameters" % (where, len(params)))
        entry.update(parameter_value(params[0]))
        gains.append(entry)
        inputs = list(segment["InputSegments"].value)
        if len(inputs) != 1:
            raise Fault("%s: gain effect with %d inputs" % (where, len(inputs)))
        segment = inputs[0]
    return segment, gains


def sequence_components(seq, where):
    out = []
    position = 0
    for i, c in enumerate(seq["Components"].value):
        at = "%s[%d]" % (where, i)
        name = c.classdef.class_name
        length = c.length
        if name == "Filler":
            out.append({"kind": "Filler", "position": position, "length": length})
            position += length
        elif name == "Transition":
            position -= length
            group = c["OperationGroup"].value
            params = list(group["Parameters"].value) if "Parameters" in group else []
            out.append({"kind": "Transition", "position": position, "length": length,
                        "cutPoint": c["CutPoint"].value, "operation": group["Operation"].value.name,
                        "groupLength": group.length,
                        "level": level_text(params[0]) if params else None})
        else:
            clip, gains = unwrap(c, at)
            if clip.classdef.class_name != "SourceClip":
                raise Fault("%s: %s in a sound track" % (at, clip.classdef.class_name))
            out.append({"kind": "Clip", "position": position, "length": length, "clipLength": clip.length,
                        "start": clip.start, "gains": gains, "essence": resolve_essence(clip, at)})
            position += length
    return out, position


def dump(path):
    with aaf2.open(path, "r") as f:
        counts = {}
        for mob in f.content.mobs:
            counts[mob.classdef.class_name] = counts.get(mob.classdef.class_name, 0) + 1
        top = list(f.content.toplevel())
        out = {"mobCounts": counts, "topLevel": [m.name for m in top], "slots": []}
        if top:
            for slot in top[0].slots:
                s = {"class": slot.classdef.class_name, "id": slot.slot_id,
                     "name": slot["SlotName"].value if "SlotName" in slot else None,
                     "physicalTrack": slot["PhysicalTrackNumber"].value if "PhysicalTrackNumber" in slot else None,
                     "editRate": rational_text(slot["EditRate"].value)}
                seg = slot.segment
                where = "slot %d" % slot.slot_id
                if seg.classdef.class_name == "Timecode":
                    s["timecode"] = {"length": seg.length, "start": seg["Start"].value, "fps": seg["FPS"].value,
                                     "drop": seg["Drop"].value}
                elif slot.classdef.class_name == "EventMobSlot":
                    s["markers"] = [{"position": m["Position"].value, "length": m.length,
                                     "comment": m["Comment"].value if "Comment" in m else None}
                                    for m in seg["Components"].value]
                else:
                    s["components"], s["end"] = sequence_components(seg, where)
                    s["length"] = seg.length
                out["slots"].append(s)
        out["masters"] = [{"name": m.name, "id": str(m.mob_id),
                           "source": str(m.slots[0].segment.mob.mob_id)} for m in f.content.mastermobs()]
        return out


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    results = []
    for path in sys.argv[1:]:
        try:
            results.append(dump(path))
        except Fault as fault:
            sys.stderr.write("FAULT: %s: %s\n" % (path, fault))
            return 1
        except Exception as e:
            sys.stderr.write("FAULT: %s: pyaaf2 failed: %r\n" % (path, e))
            return 1
    sys.stdout.write(json.dumps(results, ensure_ascii=False) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
