#!/usr/bin/env python3
"""Turns the Public Suffix List into the table the component compiles in.

Each rule becomes one entry per suffix (the rule without its "*." or "!" prefix) with the kinds of
rule that name it: an exact rule, a wildcard rule ("*.suffix") and an exception rule ("!suffix").
Rules with non-ASCII labels are written twice, in UTF-8 and in their punycode form, because page URLs
carry punycode hosts while manifests may carry either. The entries are sorted for binary search.
"""
import sys

EXACT, WILDCARD, EXCEPTION = 1, 2, 4


def ascii_form(suffix):
    labels = []
    for label in suffix.split("."):
        if label.isascii():
            labels.append(label)
        else:
            try:
                labels.append(label.encode("idna").decode("ascii"))
            except UnicodeError:
                labels.append("xn--" + label.encode("punycode").decode("ascii"))
    return ".".join(labels)


def main(source, target):
    kinds = {}
    with open(source, encoding="utf-8") as f:
        for line in f:
            rule = line.strip().split()[0] if line.strip() else ""
            if not rule or rule.startswith("//"):
                continue
            rule = rule.lower()
            if rule.startswith("!"):
                suffix, kind = rule[1:], EXCEPTION
            elif rule.startswith("*."):
                suffix, kind = rule[2:], WILDCARD
            else:
                suffix, kind = rule, EXACT
            for form in {suffix, ascii_form(suffix)}:
                kinds[form] = kinds.get(form, 0) | kind
    entries = sorted(kinds.items(), key=lambda e: e[0].encode("utf-8"))
    with open(target, "w", encoding="utf-8") as out:
        out.write("// Generated from %s by make_public_suffix_table.py. Do not edit.\n" % source.replace("\\", "/"))
        out.write("// {suffix, kinds}: 1 exact rule, 2 wildcard rule (\"*.suffix\"), 4 exception rule (\"!suffix\").\n")
        for suffix, kind in entries:
            escaped = "".join(c if c.isascii() and c not in '"\\' else "".join("\\x%02x\"\"" % b for b in c.encode("utf-8")) for c in suffix)
            out.write('{"%s", %d},\n' % (escaped, kind))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
