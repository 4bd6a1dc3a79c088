#!/usr/bin/env python3
"""Runs zephrin-demo on a shared dump with --certified 2 --json and checks the
summary's fields; then on a broken copy of the dump, which must be refused
with a message naming the table. Exit 77 (skipped) when the dumps are absent."""
import json
import os
import subprocess
import sys
import tempfile

demo, shared = sys.argv[1], sys.argv[2]
dump = os.path.join(shared, "acpi-dumps", "laptop-intel-2015.acpidump")
if not os.path.exists(dump):
    print(f"shared ACPI dumps not found ({dump}): skipped")
    sys.exit(77)

with tempfile.TemporaryDirectory() as work:
    out = os.path.join(work, "out.json")
    run = subprocess.run([demo, "--acpidump", dump, "--certified", "2", "--json", out,
                          "--log", os.path.join(work, "log")], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    summary = json.load(open(out))
    boots = summary["boots"]
    assert [b["path"] for b in boots] == ["custom", "certified", "certified"], boots
    for boot in boots:
        for key in ("end", "stream_bytes", "compressed_bytes", "stored", "tables_captured", "tables_installed"):
            assert key in boot, key
        assert boot["end"] == "normal", boot["end"]
    custom = boots[0]
    assert custom["stored"] is True and custom["compressed_bytes"] < custom["stream_bytes"]
    assert len(custom["tables_captured"]) == 19, custom["tables_captured"]
    assert custom["fit"]["fits"] is True
    for boot in boots[1:]:
        installed = boot["tables_installed"]
        assert len(installed) == 19
        assert set(installed[0]) >= {"signature", "oem_table_id", "length", "phase", "source"}
        assert installed[2]["signature"] == "DSDT" and installed[2]["source"] == "firmware volume"
    assert summary["verify"] == {"tables": 38, "matching": 38, "differing": []}, summary["verify"]

    # A table cut short in the text: refused, naming it, before any boot.
    lines = open(dump).read().split("\n")
    cut = [l for i, l in enumerate(lines) if not (l.startswith("    0010:") and i < 20)]
    broken = os.path.join(work, "broken.acpidump")
    open(broken, "w").write("\n".join(cut))
    run = subprocess.run([demo, "--acpidump", broken], capture_output=True, text=True)
    assert run.returncode == 1, run.returncode
    assert "SSDT (line 1): line 3 is at offset 32 where 16 was due" in run.stderr, run.stderr
print("zephrin-demo JSON summary and bad-dump refusal: ok")
