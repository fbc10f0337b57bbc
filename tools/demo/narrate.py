#!/usr/bin/env python3
"""Tells a browser stand-in session in plain words.

    narrate.py SESSION.jsonl [AGENT.log]

SESSION.jsonl is what `browser.exe --script` printed (one JSON line per step); AGENT.log is the agent
stand-in's JSON-lines log. Each step is told with its note, what the component answered, what changed
on the page and what the page saw happen (values typed, clicks, submissions). The agent's side follows:
what it received and what it answered.
"""
import json
import sys

OPERATIONS = {1: "dofillin", 2: "qlfillin", 3: "checklogin", 4: "starttraining", 5: "cacheupdated",
              6: "fingeractivity"}

BLOCKS = {
    1: "a request for the data to fill in",
    2: "a new manifest to store",
    3: "a profile operation on a recognised form",
    4: "the manifest names of the domain (password change)",
    5: "where to highlight a field",
    6: "the window to reply to",
}


def tell_events(events):
    for e in events:
        kind, target, detail = e.get("type"), e.get("target"), e.get("detail")
        if kind == "value":
            shown = "*" * len(detail) if "password" in target else detail
            print(f"      the page: '{shown}' typed into {target}")
        elif kind == "checked":
            print(f"      the page: {target} {'ticked' if detail in ('1', 'true') else 'cleared'}")
        elif kind == "click":
            print(f"      the page: {target} clicked")
        elif kind == "submit":
            print(f"      the page: {target} submitted (by {detail or 'Enter'})")
        elif kind in ("keydown", "keypress", "keyup"):
            print(f"      the page: {kind} {detail} in {target}")
        elif kind == "setAttribute":
            print(f"      the page: attribute {detail} set on <{target}>")
        elif kind == "removeAttribute":
            print(f"      the page: attribute {detail} removed from <{target}>")
        elif kind == "focus":
            continue
        else:
            print(f"      the page: {kind} {target} {detail}")


def tell_dump(d):
    print(f"      document ID {d.get('docid') or '(none)'} for {d.get('url')}")
    forms = d.get("recognized", [])
    if not forms:
        print(f"      not recognised ({d.get('stop')})")
    for f in forms:
        print(f"      recognised: {f['manifest']} form {f['form']}, score {f['score']} ({f['scoreText']})")


def tell_step(line):
    note = line.get("note")
    if note:
        print(f"\n  {note}")
    if "call" in line:
        outs = []
        if "outURI" in line:
            outs.append(f"out URI '{line['outURI']}'")
        if "result" in line:
            outs.append(f"result {str(line['result']).lower()}")
        if "handled" in line:
            outs.append(f"handled {str(line['handled']).lower()}")
        extra = (", " + ", ".join(outs)) if outs else ""
        print(f"    {line['call']} -> {line.get('rv', '?')}{extra}")
    elif "agent" in line:
        print(f"    the agent stand-in sends the action request '{line['agent']}' to the component")
    elif "wait" in line:
        print(f"    the browser's message loop runs for {line['wait']} ms")
    elif "dump" in line:
        tell_dump(line["dump"])
    if "error" in line:
        print(f"    ERROR: {line['error']}")
    profile = line.get("browser", {}).get("kxffagent_profileid")
    if profile is not None:
        print(f"      the tab remembers profile ID {profile}")
    tell_events(line.get("events", []))


def tell_agent(path):
    print("\n  What the agent stand-in received and answered:")
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            try:
                e = json.loads(raw)
            except ValueError:
                continue
            kind = e.get("kind")
            if kind == "started":
                print(f"    started with {e.get('lookup_entries')} lookup-cache entries")
            elif kind == "block":
                what = BLOCKS.get(e.get("code"), f"block {e.get('code')}")
                detail = ""
                decoded = e.get("decoded", {})
                mp = decoded.get("manifestprofileID")
                if mp:
                    detail = f" for {mp.get('manifestfilename')} form {mp.get('currentformindex')} profile {mp.get('profileindex')}"
                if e.get("stored"):
                    detail = f", stored as {e['stored']}"
                answer = f"; answers {e['answer']}" if e.get("answer") else ""
                print(f"    block {e.get('code')}: {what}{detail}{answer}")
            elif kind == "forward":
                print(f"    passed {e.get('message')} ({e.get('lparam')}) on to its requester")
            elif kind == "delivered":
                op = e.get("operation")
                what = e.get("notice") or f"the action request '{OPERATIONS.get(op, op)}'"
                print(f"    delivered {what} to the component{'' if e.get('sent') else ' (not taken)'}")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        for raw in f:
            raw = raw.strip()
            if not raw.startswith("{"):
                continue
            tell_step(json.loads(raw))
    if len(sys.argv) > 2:
        tell_agent(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
