#!/usr/bin/env python3
"""Writes the extension package (.xpi): the manifests and browser-window script of this folder,
the interface description and its typelib, and the shipping 32-bit DLL.

    make_xpi.py --xpt IKXAgentClient.xpt --dll MozillaKXAgentClient.dll --version 3.20.9 --out kxagentclient.xpi

The DLL must be a 32-bit x86 Windows DLL: the package declares ABI=WINNT_x86-msvc. Entries are
written in a fixed order with a fixed time, so the same inputs give the same package.
"""
import argparse
import os
import struct
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TYPELIB_MAGIC = b"XPCOM\nTypeLib\r\n\x1a"
FIXED_TIME = (2010, 1, 1, 0, 0, 0)

# Package path -> where it comes from: a file of this folder, or "xpt"/"dll" from the command line.
LAYOUT = [
    ("install.rdf", "install.rdf"),
    ("chrome.manifest", "chrome.manifest"),
    ("components/IKXAgentClient.idl", "IKXAgentClient.idl"),
    ("components/IKXAgentClient.xpt", "xpt"),
    ("components/MozillaKXAgentClient.dll", "dll"),
    ("content/overlay.xul", "content/overlay.xul"),
    ("content/overlay.js", "content/overlay.js"),
    ("content/quicklink.html", "content/quicklink.html"),
]


class PackageError(Exception):
    pass


def check_dll(data):
    """A PE image for i386 that is a DLL."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise PackageError("the DLL is not a Windows image (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise PackageError("the DLL is not a Windows image (no PE header)")
    machine, characteristics = struct.unpack_from("<H", data, pe + 4)[0], struct.unpack_from("<H", data, pe + 22)[0]
    if machine != 0x14C:
        raise PackageError("the DLL is built for machine 0x%04x, the package ships 32-bit x86 (0x014c)" % machine)
    if not characteristics & 0x2000:
        raise PackageError("the image is not a DLL")


def check_typelib(data):
    if data[:16] != TYPELIB_MAGIC:
        raise PackageError("the typelib does not start with the typelib magic")


def manifest_files(manifest):
    """The package paths that chrome.manifest names."""
    paths = []
    for line in manifest.splitlines():
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        if words[0] in ("interfaces", "binary-component"):
            paths.append(words[1])
        elif words[0] == "content":
            paths.append(words[2].rstrip("/") + "/")
    return paths


def build(xpt, dll, version, out):
    with open(xpt, "rb") as f:
        typelib = f.read()
    with open(dll, "rb") as f:
        image = f.read()
    check_typelib(typelib)
    check_dll(image)
    entries = []
    for name, source in LAYOUT:
        if source == "xpt":
            data = typelib
        elif source == "dll":
            data = image
        else:
            with open(os.path.join(HERE, source), "rb") as f:
                data = f.read()
        if name == "install.rdf":
            data = data.replace(b"@VERSION@", version.encode())
        entries.append((name, data))
    names = [n for n, _ in entries]
    manifest = dict(entries)["chrome.manifest"].decode()
    for path in manifest_files(manifest):
        if not any(n == path or (path.endswith("/") and n.startswith(path)) for n in names):
            raise PackageError("chrome.manifest names %s, which the package does not hold" % path)
    part = out + ".part"
    with zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
    os.replace(part, out)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--xpt", required=True)
    p.add_argument("--dll", required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--out", required=True)
    a = p.parse_args(argv)
    try:
        build(a.xpt, a.dll, a.version, a.out)
    except (PackageError, OSError) as e:
        print("make_xpi: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
