"""The package's typelib read back independently and held against the C++ declaration the DLL is
built from (xpcom/IKXAgentClient.h): the browser calls the DLL's vtable by what the typelib says.

Environment: KX_XPT, the generated IKXAgentClient.xpt; KX_SOURCE_DIR, the source tree.
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xpt_reader import read_typelib  # noqa: E402

SOURCE = os.environ.get("KX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
XPT = os.environ.get("KX_XPT", "")

SLOT_ORDER = ["Initialize", "Uninitialize", "OnLoad", "OnUnload", "OnActivate", "OnDeactivate", "OnProfileLink",
              "OnWindowLoad", "OnWindowUnload", "OnDOMNodeModified", "QuickLinkToProfileLink"]

# How each C++ parameter type of the declaration reaches the DLL through the typelib:
# (in, out, dipper, tag, pointer, reference).
CPP_TO_TYPELIB = {
    "nsISupports*": (True, False, False, "interface", True, False),
    "const nsAString&": (True, False, False, "AString", True, True),
    "nsAString&": (True, False, True, "AString", True, True),  # the caller's string, filled in
    "PRBool*": (False, True, False, "boolean", False, False),
}


def cpp_declaration():
    with open(os.path.join(SOURCE, "xpcom", "IKXAgentClient.h")) as f:
        text = f.read()
    m = re.search(r"#define IKXAGENTCLIENT_IID\s*\\\s*\{\s*0x(\w+),\s*0x(\w+),\s*0x(\w+),\s*\{([^}]*)\}", text)
    tail = "".join("%02x" % int(b, 16) for b in re.findall(r"0x(\w+)", m.group(4)))
    iid = "%08x-%04x-%04x-%s-%s" % (int(m.group(1), 16), int(m.group(2), 16), int(m.group(3), 16), tail[:4], tail[4:])
    methods = []
    for name, params in re.findall(r"NS_IMETHOD\s+(\w+)\(([^)]*)\)\s*=\s*0;", text):
        types = []
        for p in params.split(","):
            p = " ".join(p.split())
            types.append(re.sub(r"\s*\w+$", "", p).replace(" *", "*").replace(" &", "&"))
        methods.append((name, types))
    return iid, methods


class TypelibTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not XPT:
            raise RuntimeError("KX_XPT must name the typelib to check")
        with open(XPT, "rb") as f:
            cls.lib = read_typelib(f.read())
        cls.by_name = {i["name"]: i for i in cls.lib["interfaces"]}
        cls.iid, cls.methods = cpp_declaration()

    def test_a_format_version_the_browser_reads(self):
        self.assertEqual(self.lib["version"][0], 1)
        self.assertLessEqual(self.lib["version"][1], 2)

    def test_interface_name_iid_and_parent(self):
        itf = self.by_name["IKXAgentClient"]
        self.assertEqual(itf["iid"], self.iid)
        self.assertEqual(itf["iid"], "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19")
        self.assertTrue(itf["resolved"])
        self.assertTrue(itf["scriptable"], "the browser-window script must be able to call it")
        self.assertIsNone(itf["namespace"])
        self.assertEqual(itf["parent"], "nsISupports")
        parent = self.by_name["nsISupports"]
        self.assertEqual(parent["iid"], "00000000-0000-0000-c000-000000000046")
        self.assertFalse(parent["resolved"], "nsISupports is described by the browser itself")
        self.assertEqual(len(self.lib["interfaces"]), 2)

    def test_methods_in_slot_order(self):
        names = [m["name"] for m in self.by_name["IKXAgentClient"]["methods"]]
        self.assertEqual(names, SLOT_ORDER)
        self.assertEqual(names, [name for name, _ in self.methods])

    def test_every_parameter_matches_the_vtable(self):
        for method, (name, cpp_types) in zip(self.by_name["IKXAgentClient"]["methods"], self.methods):
            with self.subTest(method=name):
                self.assertEqual(method["flags"], 0)
                self.assertEqual(len(method["params"]), len(cpp_types))
                for p, cpp in zip(method["params"], cpp_types):
                    expected = CPP_TO_TYPELIB[cpp]
                    got = (p["in"], p["out"], p["dipper"], p["type"]["tag"], p["type"]["pointer"],
                           p["type"]["reference"])
                    self.assertEqual(got, expected, cpp)
                    self.assertFalse(p["retval"] or p["shared"] or p["optional"])
                    if p["type"]["tag"] == "interface":
                        self.assertEqual(p["type"]["interface"], "nsISupports")
                r = method["result"]
                self.assertEqual((r["in"], r["out"], r["type"]["tag"], r["type"]["pointer"]),
                                 (False, False, "uint32", False), "the result is the nsresult")


if __name__ == "__main__":
    unittest.main()
