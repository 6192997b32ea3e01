#!/usr/bin/env python3
"""Reads the stored objects of an AAF file (512-byte compound file) from the
published stored-format description, independently of the program's writer,
and prints the whole tree as JSON. Any fault (bad header, unknown stored form,
duplicate or over-long name, sibling tree that is not a red-black tree in
directory order, missing or unreferenced storage, broken index, dangling
weak reference) ends with exit status 1 and a line on stderr.

Usage: aaf_stored_reader.py FILE

Layout of what it reads:
  storage            one object; its class id is the object's class
  "properties"       'L', version, count, count x {pid, form, size}, the values
  strong reference   value: UTF-16 name of the child storage with its 0
  vector / set       value: collection name; "<name> index" stream; elements
                     are storages "<name>{<local key in hex>}"
  weak reference     value: tag, key pid, key size, key; the tag indexes the
                     root stream "referenced properties" (pid paths from the root)
  weak set / vector  value: name; "<name> index": count, tag, key pid, key size, keys
"""
import json
import struct
import sys

import olefile

FILE_KIND_512 = bytes.fromhex("414146420d004f4d060e2b34010101ff")
ROOT_CLASS = "b3b398a5-1c90-11d4-8053-080036210804"
DATA, STRONG, VECTOR, SET, WEAK, WEAKSET, WEAKVECTOR = 0x82, 0x22, 0x32, 0x3A, 0x02, 0x1A, 0x12
FORMS = {DATA: "data", STRONG: "strong", VECTOR: "vector", SET: "set",
         WEAK: "weak", WEAKSET: "weakset", WEAKVECTOR: "weakvector"}
NO_FREE_KEY = 0xFFFFFFFF


class Fault(Exception):
    pass


def guid_text(b):
    d1, d2, d3 = struct.unpack_from("<IHH", b)
    return "%08x-%04x-%04x-%s-%s" % (d1, d2, d3, b[8:10].hex(), b[10:16].hex())


def utf16z(value, where):
    if len(value) < 2 or len(value) % 2 or value[-2:] != b"\0\0":
        raise Fault("%s: name not a terminated UTF-16 string" % where)
    text = value[:-2].decode("utf-16-le")
    if "\0" in text:
        raise Fault("%s: name holds a 0" % where)
    return text


class Cursor:
    def __init__(self, data, where):
        self.data, self.at, self.where = data, 0, where

    def take(self, fmt):
        size = struct.calcsize(fmt)
        if self.at + size > len(self.data):
            raise Fault("%s: stream ends early" % self.where)
        values = struct.unpack_from(fmt, self.data, self.at)
        self.at += size
        return values if len(values) > 1 else values[0]

    def bytes(self, n):
        if self.at + n > len(self.data):
            raise Fault("%s: stream ends early" % self.where)
        b = self.data[self.at:self.at + n]
        self.at += n
        return b

    def end(self):
        if self.at != len(self.data):
            raise Fault("%s: %d bytes past the end" % (self.where, len(self.data) - self.at))


class StoredReader:
    def __init__(self, path):
        with open(path, "rb") as f:
            head = f.read(512)
        if len(head) < 512 or head[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            raise Fault("not a compound file")
        self.header = {
            "signature": guid_text(head[8:24]),
            "majorVersion": struct.unpack_from("<H", head, 26)[0],
            "sectorSize": 1 << struct.unpack_from("<H", head, 30)[0],
            "miniSectorSize": 1 << struct.unpack_from("<H", head, 32)[0],
        }
        if head[8:24] != FILE_KIND_512:
            raise Fault("header class id is not the 512-byte file kind: %s" % self.header["signature"])
        if self.header["sectorSize"] != 512 or self.header["miniSectorSize"] != 64:
            raise Fault("sector sizes %(sectorSize)d/%(miniSectorSize)d" % self.header)
        self.ole = olefile.OleFileIO(path)
        self.weak = []  # (record, key index, where) to resolve once the tree is read
        self.objects = 0

    # -- storages ----------------------------------------------------------
    def check_sibling_tree(self, entry, where):
        """The children of a storage form a red-black tree ordered by name
        length, then by upper-cased name."""
        order = []

        def black_height(sid, depth):
            if sid == olefile.NOSTREAM:
                return 1
            if depth > 64:
                raise Fault("%s: sibling tree deeper than 64" % where)
            node = self.ole.direntries[sid]
            left = black_height(node.sid_left, depth + 1)
            order.append(node.name)
            right = black_height(node.sid_right, depth + 1)
            if left != right:
                raise Fault("%s: sibling tree with unequal black heights" % where)
            if node.color == 0:
                for child in (node.sid_left, node.sid_right):
                    if child != olefile.NOSTREAM and self.ole.direntries[child].color == 0:
                        raise Fault("%s: red entry %r with a red child" % (where, node.name))
            return left + (1 if node.color == 1 else 0)

        if entry.sid_child == olefile.NOSTREAM:
            return
        if self.ole.direntries[entry.sid_child].color != 1:
            raise Fault("%s: red root of the sibling tree" % where)
        black_height(entry.sid_child, 0)
        keys = [(len(n.encode("utf-16-le")), n.upper()) for n in order]
        if any(a >= b for a, b in zip(keys, keys[1:])):
            raise Fault("%s: siblings out of directory order" % where)

    def kids(self, entry, where):
        named = {}
        for kid in entry.kids:
            units = len(kid.name.encode("utf-16-le")) // 2
            if units > 31:
                raise Fault("%s/%s: name of %d characters" % (where, kid.name, units))
            if kid.name.lower() in named:
                raise Fault("%s: duplicate name %r" % (where, kid.name))
            named[kid.name.lower()] = kid
        self.check_sibling_tree(entry, where)
        return named

    def stream(self, kids, name, where):
        kid = kids.get(name.lower())
        if kid is None or kid.entry_type != olefile.STGTY_STREAM:
            raise Fault("%s: missing stream %r" % (where, name))
        # Opened by its entry: looking streams up by path scans a storage's
        # children linearly, which is quadratic over a large collection.
        return self.ole._open(kid.isectStart, kid.size).read()

    def storage(self, kids, name, where):
        kid = kids.get(name.lower())
        if kid is None or kid.entry_type != olefile.STGTY_STORAGE:
            raise Fault("%s: missing storage %r" % (where, name))
        return kid

    # -- objects -----------------------------------------------------------
    def read_object(self, entry, path_list):
        where = "/" + "/".join(path_list)
        self.objects += 1
        kids = self.kids(entry, where)
        used = {"properties"}
        data = self.stream(kids, "properties", where)
        c = Cursor(data, where + "/properties")
        order, version, count = c.take("<BBH")
        if order != 0x4C:
            raise Fault("%s: byte order %#x" % (where, order))
        entries = [c.take("<HHH") for _ in range(count)]
        props, seen = [], set()
        for pid, form, size in entries:
            if pid in seen:
                raise Fault("%s: pid %04x twice" % (where, pid))
            seen.add(pid)
            if form not in FORMS:
                raise Fault("%s: pid %04x of unknown form %#x" % (where, pid, form))
            value = c.bytes(size)
            rec = {"pid": pid, "form": form, "size": size, "value": value.hex()}
            at = "%s:%04x" % (where, pid)
            if form == STRONG:
                name = utf16z(value, at)
                used.add(name.lower())
                rec["name"] = name
                rec["object"] = self.read_object(self.storage(kids, name, at), path_list + [name])
            elif form in (VECTOR, SET):
                name = utf16z(value, at)
                used.add(name.lower())
                used.add((name + " index").lower())
                rec["name"] = name
                rec["elements"] = self.read_collection(form, name, path_list, kids, at, used)
            elif form == WEAK:
                w = Cursor(value, at)
                tag, key_pid, key_size = w.take("<HHB")
                if key_size not in (16, 32):
                    raise Fault("%s: key size %d" % (at, key_size))
                key = w.bytes(key_size)
                w.end()
                rec.update({"tag": tag, "keyPid": key_pid, "keySize": key_size,
                            "keys": [key.hex()]})
                self.weak.append((rec, where))
            elif form in (WEAKSET, WEAKVECTOR):
                name = utf16z(value, at)
                index_name = name + " index"
                used.add(index_name.lower())
                w = Cursor(self.stream(kids, index_name, at), at + " index")
                n, tag, key_pid, key_size = w.take("<IHHB")
                if key_size not in (16, 32):
                    raise Fault("%s: key size %d" % (at, key_size))
                keys = [w.bytes(key_size).hex() for _ in range(n)]
                w.end()
                rec.update({"name": name, "tag": tag, "keyPid": key_pid, "keySize": key_size,
                            "keys": keys})
                self.weak.append((rec, where))
            props.append(rec)
        c.end()
        if path_list == []:
            used.add("referenced properties")
        for name, kid in kids.items():
            if name not in used:
                raise Fault("%s: %r is referenced by no property" % (where, kid.name))
        return {"path": where, "class": entry.clsid.lower(), "properties": props}

    def read_collection(self, form, name, path_list, kids, at, used):
        c = Cursor(self.stream(kids, name + " index", at), at + " index")
        count, next_free, last_free = c.take("<III")
        if last_free != NO_FREE_KEY:
            raise Fault("%s: last free key %#x" % (at, last_free))
        key_pid = key_size = None
        if form == SET:
            key_pid, key_size = c.take("<HB")
            if key_size not in (16, 32):
                raise Fault("%s: key size %d" % (at, key_size))
        elements, locals_seen = [], set()
        for _ in range(count):
            local = c.take("<I")
            key = None
            if form == SET:
                refs = c.take("<I")
                if refs != 1:
                    raise Fault("%s: reference count %d" % (at, refs))
                key = c.bytes(key_size)
            if local in locals_seen or local >= next_free:
                raise Fault("%s: local key %d (next free %d)" % (at, local, next_free))
            locals_seen.add(local)
            element_name = "%s{%x}" % (name, local)
            used.add(element_name.lower())
            obj = self.read_object(self.storage(kids, element_name, at), path_list + [element_name])
            if form == SET:
                stored = data_value(obj, key_pid)
                if stored != key.hex():
                    raise Fault("%s: element %s has key %s, index says %s"
                                % (at, element_name, stored, key.hex()))
            elements.append(obj)
        c.end()
        if form == SET:
            keys = [data_value(e, key_pid) for e in elements]
            if len(set(keys)) != len(keys):
                raise Fault("%s: one key twice in a set" % at)
        return elements

    # -- weak references -----------------------------------------------------
    def read_paths(self, kids):
        data = self.stream(kids, "referenced properties", "/")
        c = Cursor(data, "/referenced properties")
        order, path_count, pid_count = c.take("<BHI")
        if order != 0x4C:
            raise Fault("referenced properties: byte order %#x" % order)
        pids = [c.take("<H") for _ in range(pid_count)]
        c.end()
        paths, path = [], []
        for pid in pids:
            if pid == 0:
                paths.append(path)
                path = []
            else:
                path.append(pid)
        if path or len(paths) != path_count:
            raise Fault("referenced properties: %d paths, header says %d" % (len(paths), path_count))
        return paths

    def resolve(self, root, paths):
        by_key = {}  # (path, key pid) -> {key: element path}
        for rec, where in self.weak:
            if rec["tag"] >= len(paths):
                raise Fault("%s:%04x: tag %d beyond the table" % (where, rec["pid"], rec["tag"]))
            path = paths[rec["tag"]]
            rec["path"] = path
            lookup = (tuple(path), rec["keyPid"])
            if lookup not in by_key:
                by_key[lookup] = {data_value(e, rec["keyPid"]): e["path"] for e in walk_path(root, path)}
            targets = []
            for key in rec["keys"]:
                found = by_key[lookup].get(key)
                if found is None:
                    raise Fault("%s:%04x: dangling weak reference to %s in %s"
                                % (where, rec["pid"], key, " ".join("%04x" % p for p in path)))
                targets.append(found)
            rec["targets"] = targets

    def read(self):
        root_entry = self.ole.root
        if root_entry.clsid.lower() != ROOT_CLASS:
            raise Fault("root class %s" % root_entry.clsid)
        root = self.read_object(root_entry, [])
        paths = self.read_paths(self.kids(root_entry, "/"))
        self.resolve(root, paths)
        return {"header": self.header, "paths": paths, "objects": self.objects, "root": root}


def data_value(obj, pid):
    for p in obj["properties"]:
        if p["pid"] == pid:
            return p["value"] if p["form"] == DATA else None
    return None


def walk_path(root, path):
    obj = root
    for pid in path[:-1]:
        prop = next((p for p in obj["properties"] if p["pid"] == pid), None)
        if prop is None or prop["form"] != STRONG:
            return []
        obj = prop["object"]
    prop = next((p for p in obj["properties"] if p["pid"] == path[-1]), None) if path else None
    if prop is None or prop["form"] not in (VECTOR, SET):
        return []
    return prop["elements"]


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        tree = StoredReader(sys.argv[1]).read()
    except Fault as fault:
        sys.stderr.write("FAULT: %s\n" % fault)
        return 1
    sys.stdout.write(json.dumps(tree) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
