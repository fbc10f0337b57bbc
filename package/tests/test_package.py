"""The extension package as the browser opens it: its files, install.rdf, chrome.manifest and the
overlay, and what the packer refuses to ship. The DLL is a stand-in image with a 32-bit x86 PE header
(the native tree has no Windows DLL; ./run package ships the real one).

Environment: KX_XPT, the generated typelib; KX_SOURCE_DIR, the source tree.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

SOURCE = os.environ.get("KX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
XPT = os.environ.get("KX_XPT", "")
MAKE_XPI = os.path.join(SOURCE, "package", "make_xpi.py")
FIREFOX = "{ec8030f7-c20a-464f-9b0e-13a3a9e97384}"
RDF = "{http://www.w3.org/1999/02/22-rdf-syntax-ns#}"
EM = "{http://www.mozilla.org/2004/em-rdf#}"


def pe_image(machine=0x14C, characteristics=0x2102):
    data = bytearray(0x200)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x84, machine)
    struct.pack_into("<H", data, 0x80 + 22, characteristics)
    return bytes(data)


def read_source(*parts):
    with open(os.path.join(SOURCE, *parts)) as f:
        return f.read()


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not XPT:
            raise RuntimeError("KX_XPT must name the typelib to package")
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dll = os.path.join(cls.tmp.name, "MozillaKXAgentClient.dll")
        with open(cls.dll, "wb") as f:
            f.write(pe_image())
        cls.xpi = os.path.join(cls.tmp.name, "kxagentclient.xpi")
        cls.run_packer(cls.dll, cls.xpi, check=True)
        cls.zip = zipfile.ZipFile(cls.xpi)

    @classmethod
    def tearDownClass(cls):
        cls.zip.close()
        cls.tmp.cleanup()

    @staticmethod
    def run_packer(dll, out, xpt=None, check=False):
        return subprocess.run([sys.executable, MAKE_XPI, "--xpt", xpt or XPT, "--dll", dll, "--version", "3.20.9",
                               "--out", out], capture_output=True, text=True, check=check)

    def text(self, name):
        return self.zip.read(name).decode("utf-8")

    def test_file_list(self):
        self.assertEqual(sorted(self.zip.namelist()), [
            "chrome.manifest",
            "components/IKXAgentClient.idl",
            "components/IKXAgentClient.xpt",
            "components/MozillaKXAgentClient.dll",
            "content/overlay.js",
            "content/overlay.xul",
            "content/quicklink.html",
            "install.rdf",
        ])
        with open(XPT, "rb") as f:
            self.assertEqual(self.zip.read("components/IKXAgentClient.xpt"), f.read())
        self.assertEqual(self.zip.read("components/MozillaKXAgentClient.dll"), pe_image())

    def test_install_manifest(self):
        root = ET.fromstring(self.zip.read("install.rdf"))
        d = root.find(RDF + "Description")
        self.assertEqual(d.get("about"), "urn:mozilla:install-manifest")
        field = lambda e, name: e.find(EM + name).text  # noqa: E731
        self.assertEqual(field(d, "id"), "kxagentclient@kestrix.example")
        self.assertEqual(field(d, "version"), "3.20.9")
        self.assertEqual(field(d, "type"), "2")  # an extension
        self.assertEqual(field(d, "unpack"), "true", "a binary component is only loaded from an unpacked extension")
        self.assertEqual(field(d, "targetPlatform"), "WINNT_x86-msvc")
        apps = d.findall(EM + "targetApplication/" + RDF + "Description")
        self.assertEqual([(field(a, "id"), field(a, "minVersion"), field(a, "maxVersion")) for a in apps],
                         [(FIREFOX, "20.0", "20.*")])

    def test_chrome_manifest(self):
        lines = [l.split() for l in self.text("chrome.manifest").splitlines() if l.strip()]
        self.assertEqual(sorted(lines), sorted([
            ["content", "kxagentclient", "content/"],
            ["overlay", "chrome://browser/content/browser.xul", "chrome://kxagentclient/content/overlay.xul"],
            ["interfaces", "components/IKXAgentClient.xpt"],
            ["binary-component", "components/MozillaKXAgentClient.dll", "ABI=WINNT_x86-msvc"],
        ]))
        overlay = ET.fromstring(self.zip.read("content/overlay.xul"))
        scripts = [s.get("src") for s in overlay.iter() if s.tag.endswith("script")]
        self.assertEqual(scripts, ["chrome://kxagentclient/content/overlay.js"])

    # One browser release throughout: the module record's version, the contract ID the script asks
    # for, and the release install.rdf accepts.
    def test_one_release_throughout(self):
        module_version = re.search(r"kVersion = (\d+);", read_source("xpcom", "Module.h")).group(1)
        contract = re.search(r'#define KXAGENTCLIENT_CONTRACTID "([^"]+)"', read_source("xpcom", "IKXAgentClient.h")).group(1)
        self.assertEqual(module_version, "20")
        self.assertTrue(contract.endswith(";%s.0" % module_version), contract)
        self.assertIn('var CONTRACT_ID = "%s";' % contract, self.text("content/overlay.js"))
        self.assertIn("<em:minVersion>%s.0</em:minVersion>" % module_version, self.text("install.rdf"))
        iid = re.search(r"uuid\(([0-9a-f-]+)\)", self.text("components/IKXAgentClient.idl")).group(1)
        self.assertEqual(iid, "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19")

    def test_the_same_inputs_give_the_same_package(self):
        again = os.path.join(self.tmp.name, "again.xpi")
        self.run_packer(self.dll, again, check=True)
        with open(self.xpi, "rb") as a, open(again, "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_refuses_what_the_browser_could_not_load(self):
        cases = [
            ("x64.dll", pe_image(machine=0x8664), None, "machine 0x8664"),
            ("program.exe", pe_image(characteristics=0x0102), None, "not a DLL"),
            ("text.dll", b"not an image", None, "no MZ header"),
            ("ok.dll", pe_image(), os.path.join(SOURCE, "package", "IKXAgentClient.idl"), "typelib magic"),
        ]
        for name, data, xpt, message in cases:
            with self.subTest(name=name):
                dll = os.path.join(self.tmp.name, name)
                with open(dll, "wb") as f:
                    f.write(data)
                out = os.path.join(self.tmp.name, name + ".xpi")
                r = self.run_packer(dll, out, xpt=xpt)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
