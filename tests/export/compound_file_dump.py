#!/usr/bin/env python3
"""Reads a compound file with python3-olefile (any defect olefile notes fails
the read, but for the header class id, which holds the file kind), checks
what olefile leaves to the writer, and prints the file as JSON.

Checked here: the header's fixed fields, the DIFAT chain's length, and
(with the AAF reader's check) for every storage that its children form a
red-black tree in directory order. Any fault: exit status 1 and a
line on stderr. The bytes of every stream are appended to BLOB; each
stream's record gives its offset there.

Usage: compound_file_dump.py FILE BLOB
"""
import json
import os
import struct
import sys
import uuid

import olefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import aaf_stored_reader  # noqa: E402  (beside this file)

END_OF_CHAIN = 0xFFFFFFFE


class Fault(Exception):
    pass


class OleFile(olefile.OleFileIO):
    """olefile with its check that no two streams share a first sector done
    over sets: its lists make opening 100,000 small streams quadratic."""

    def _check_duplicate_stream(self, first_sect, minifat=False):
        special = (olefile.DIFSECT, olefile.FATSECT, olefile.ENDOFCHAIN, olefile.FREESECT)
        if not minifat and first_sect in special:
            return
        seen = self.__dict__.setdefault("_first_sectors_mini" if minifat else "_first_sectors", set())
        if first_sect in seen:
            self._raise_defect(olefile.DEFECT_INCORRECT, "Stream referenced twice")
        seen.add(first_sect)


def header_facts(path):
    with open(path, "rb") as f:
        head = f.read(512)
        f.seek(0, os.SEEK_END)
        size = f.tell()
    if len(head) < 512 or head[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
        raise Fault("not a compound file")
    minor, major, order, shift, mini_shift = struct.unpack_from("<HHHHH", head, 24)
    fat_sectors, first_dir, _, cutoff, first_minifat, minifat_sectors, first_difat, difat_sectors = \
        struct.unpack_from("<IIIIIIII", head, 44)
    if order != 0xFFFE or (size - 512) % (1 << shift):
        raise Fault("byte order mark or file length")
    # Follow the DIFAT chain: it must list exactly the FAT sectors past 109.
    listed, sector, seen = min(fat_sectors, 109), first_difat, 0
    with open(path, "rb") as f:
        while sector != END_OF_CHAIN:
            seen += 1
            if seen > difat_sectors:
                raise Fault("DIFAT chain longer than the header says")
            f.seek(512 + sector * 512)
            words = struct.unpack("<128I", f.read(512))
            listed += sum(1 for w in words[:127] if w != 0xFFFFFFFF)
            sector = words[127]
    if seen != difat_sectors or listed != fat_sectors:
        raise Fault("DIFAT lists %d of %d FAT sectors in %d sectors" % (listed, fat_sectors, seen))
    return {
        "classId": head[8:24].hex(), "minorVersion": minor, "majorVersion": major,
        "sectorShift": shift, "miniSectorShift": mini_shift, "miniStreamCutoff": cutoff,
        "fatSectors": fat_sectors, "difatSectors": difat_sectors,
        "miniFatSectors": minifat_sectors, "fileSize": size,
    }


class TreeCheck:
    """The AAF reader's check of a storage's sibling tree, over any file."""

    def __init__(self, ole):
        self.ole = ole

    check = aaf_stored_reader.StoredReader.check_sibling_tree


def raw_class_id(text):
    """olefile gives a class id as GUID text ("" when zero): back to its 16 bytes."""
    return uuid.UUID(text).bytes_le.hex() if text else "00" * 16


def walk(ole, entry, path, blob, entries):
    TreeCheck(ole).check(entry, path or "/")
    for kid in entry.kids:
        kid_path = path + "/" + kid.name
        record = {"path": kid_path, "type": kid.entry_type, "classId": raw_class_id(kid.clsid),
                  "size": kid.size}
        if kid.entry_type == olefile.STGTY_STREAM:
            data = ole._open(kid.isectStart, kid.size).read()
            if len(data) != kid.size:
                raise Fault("%s: %d of %d bytes" % (kid_path, len(data), kid.size))
            record["offset"] = blob.tell()
            blob.write(data)
        entries.append(record)
        if kid.entry_type == olefile.STGTY_STORAGE:
            walk(ole, kid, kid_path, blob, entries)


def main():
    path, blob_path = sys.argv[1], sys.argv[2]
    try:
        facts = header_facts(path)
        ole = OleFile(path)
        entries = []
        with open(blob_path, "wb") as blob:
            walk(ole, ole.root, "", blob, entries)
        # The header's class id holds the file kind (olefile expects zero).
        issues = [m for _, m in ole.parsing_issues if m != "incorrect CLSID in OLE header"]
        if issues:
            raise Fault("; ".join(issues))
        facts["rootClassId"] = raw_class_id(ole.root.clsid)
        facts["entries"] = entries
    except Exception as e:  # olefile's own faults come as several types
        sys.stderr.write("compound file fault: %s\n" % e)
        sys.exit(1)
    json.dump(facts, sys.stdout)


if __name__ == "__main__":
    main()
