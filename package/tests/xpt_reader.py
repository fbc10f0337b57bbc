"""A reader of the browser's typelib files (.xpt, format 1.x), written from the format's published
description and kept apart from the generator in tools/xptgen, so that each checks the other.

    python3 xpt_reader.py FILE.xpt     prints the interfaces, one method a line
"""
import struct
import sys

MAGIC = b"XPCOM\nTypeLib\r\n\x1a"

TAGS = {
    0: "int8", 1: "int16", 2: "int32", 3: "int64", 4: "uint8", 5: "uint16", 6: "uint32", 7: "uint64",
    8: "float", 9: "double", 10: "boolean", 11: "char", 12: "wchar", 13: "void", 14: "nsIID",
    15: "DOMString", 16: "string", 17: "wstring", 18: "interface", 19: "interface_is", 20: "array",
    21: "string_size_is", 22: "wstring_size_is", 23: "AUTF8String", 24: "ACString", 25: "AString",
    26: "jsval",
}


class FormatError(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = data

    def need(self, pos, size):
        if pos < 0 or pos + size > len(self.data):
            raise FormatError("read of %d bytes at %d runs past the end (%d bytes)" % (size, pos, len(self.data)))

    def u8(self, pos):
        self.need(pos, 1)
        return self.data[pos]

    def u16(self, pos):
        self.need(pos, 2)
        return struct.unpack_from(">H", self.data, pos)[0]

    def u32(self, pos):
        self.need(pos, 4)
        return struct.unpack_from(">I", self.data, pos)[0]

    def cstring(self, pos):
        self.need(pos, 1)
        end = self.data.find(b"\0", pos)
        if end < 0:
            raise FormatError("name at %d has no terminator" % pos)
        return self.data[pos:end].decode("ascii")


def iid_text(raw):
    m0, m1, m2 = struct.unpack(">IHH", raw[:8])
    m3 = raw[8:]
    return "%08x-%04x-%04x-%s-%s" % (m0, m1, m2, m3[:2].hex(), m3[2:].hex())


def read_typelib(data):
    """The header and interfaces of a typelib: a dict with "version", "annotations" and
    "interfaces", each interface a dict with "name", "iid", "namespace", "parent", "scriptable",
    "resolved" and "methods" (each with "name", "flags", "params" and "result")."""
    r = Reader(data)
    if data[:16] != MAGIC:
        raise FormatError("not a typelib: bad magic")
    major, minor = r.u8(16), r.u8(17)
    if major != 1:
        raise FormatError("major version %d is not readable" % major)
    count = r.u16(18)
    file_length = r.u32(20)
    if file_length != len(data):
        raise FormatError("file_length %d, file has %d bytes" % (file_length, len(data)))
    directory = r.u32(24) - 1  # a file offset counted from 1
    pool_start = r.u32(28)     # the file position of the pool's first byte (pool offset 1)

    def pool(offset):
        return pool_start + offset - 1

    # Annotations: one byte of flags (is_last 0x80, tag 0x7f); tag 1 carries two strings.
    annotations = []
    pos = 32
    while True:
        flags = r.u8(pos)
        pos += 1
        tag = flags & 0x7F
        if tag == 1:
            creator = r.cstring(pool(r.u32(pos)))
            private = r.cstring(pool(r.u32(pos + 4)))
            pos += 8
            annotations.append((creator, private))
        elif tag != 0:
            raise FormatError("unknown annotation tag %d" % tag)
        else:
            annotations.append(None)
        if flags & 0x80:
            break

    entries = []
    for i in range(count):
        e = directory + 28 * i
        r.need(e, 28)
        name_offset, namespace_offset, descriptor = r.u32(e + 16), r.u32(e + 20), r.u32(e + 24)
        entries.append({
            "iid": iid_text(data[e:e + 16]),
            "name": r.cstring(pool(name_offset)),
            "namespace": r.cstring(pool(namespace_offset)) if namespace_offset else None,
            "descriptor": descriptor,
        })

    def interface_name(index):  # directory positions count from 1, 0 is none
        if index == 0:
            return None
        if index > len(entries):
            raise FormatError("interface index %d beyond the directory's %d entries" % (index, len(entries)))
        return entries[index - 1]["name"]

    def type_descriptor(pos):
        prefix = r.u8(pos)
        t = {"pointer": bool(prefix & 0x80), "unique": bool(prefix & 0x40), "reference": bool(prefix & 0x20),
             "tag": TAGS.get(prefix & 0x1F, "tag%d" % (prefix & 0x1F))}
        pos += 1
        if t["tag"] == "interface":
            t["interface"] = interface_name(r.u16(pos))
            pos += 2
        elif t["tag"] == "interface_is":
            t["arg"] = r.u8(pos)
            pos += 1
        elif t["tag"] in ("array",):
            t["size_is"], t["length_is"] = r.u8(pos), r.u8(pos + 1)
            t["element"], pos = type_descriptor(pos + 2)
        elif t["tag"] in ("string_size_is", "wstring_size_is"):
            t["size_is"], t["length_is"] = r.u8(pos), r.u8(pos + 1)
            pos += 2
        return t, pos

    def param(pos):
        flags = r.u8(pos)
        t, pos = type_descriptor(pos + 1)
        return {"in": bool(flags & 0x80), "out": bool(flags & 0x40), "retval": bool(flags & 0x20),
                "shared": bool(flags & 0x10), "dipper": bool(flags & 0x08), "optional": bool(flags & 0x04),
                "type": t}, pos

    interfaces = []
    for e in entries:
        itf = {"name": e["name"], "iid": e["iid"], "namespace": e["namespace"], "resolved": bool(e["descriptor"]),
               "parent": None, "scriptable": False, "methods": []}
        if e["descriptor"]:
            pos = pool(e["descriptor"])
            itf["parent"] = interface_name(r.u16(pos))
            method_count = r.u16(pos + 2)
            pos += 4
            for _ in range(method_count):
                flags = r.u8(pos)
                name = r.cstring(pool(r.u32(pos + 1)))
                argc = r.u8(pos + 5)
                pos += 6
                params = []
                for _ in range(argc):
                    p, pos = param(pos)
                    params.append(p)
                result, pos = param(pos)
                itf["methods"].append({"name": name, "flags": flags, "params": params, "result": result})
            constant_count = r.u16(pos)
            if constant_count:
                raise FormatError("%s: constants are not read here" % e["name"])
            itf["scriptable"] = bool(r.u8(pos + 2) & 0x80)
        interfaces.append(itf)
    return {"version": (major, minor), "annotations": annotations, "interfaces": interfaces}


def describe_type(t):
    if t["tag"] == "interface":
        return t["interface"]
    return t["tag"]


def main(argv):
    with open(argv[1], "rb") as f:
        lib = read_typelib(f.read())
    print("typelib %d.%d" % lib["version"])
    for itf in lib["interfaces"]:
        if not itf["resolved"]:
            print("interface %s {%s} (described elsewhere)" % (itf["name"], itf["iid"]))
            continue
        print("%sinterface %s : %s {%s}" % ("[scriptable] " if itf["scriptable"] else "", itf["name"],
                                             itf["parent"], itf["iid"]))
        for m in itf["methods"]:
            params = []
            for p in m["params"]:
                direction = "out" if p["dipper"] else ("inout" if p["in"] and p["out"] else ("out" if p["out"] else "in"))
                params.append("%s %s" % (direction, describe_type(p["type"])))
            print("  %s(%s)" % (m["name"], ", ".join(params)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
