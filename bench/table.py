#!/usr/bin/env python3
"""Prints the benchmarks of one run as one table, each row beside its comparison."""
import json
import sys

patch_json, install_json, probe_txt = sys.argv[1:4]


def rows(path):
    """Each benchmark by its plain name: its median where it was repeated, else its only run."""
    with open(path) as f:
        found = {}
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            found[b["name"].split("/iterations")[0].split("/repeats")[0].split("/real_time")[0]] = b
        return found


def ms(b):
    return b["real_time"] if b["time_unit"] == "ms" else b["real_time"] / 1e6


patch = rows(patch_json)
install = rows(install_json)
lines = [("benchmark", "time", "throughput / value", "comparison")]
for size in ("10KB", "1MB", "10MB", "50MB"):
    ours = patch[f"patch/{size}"]
    for peer in ("patch", "python_json", "jq", "cp_floor"):
        b = patch[f"{peer}/{size}"]
        mbps = b["bytes_per_second"] / 1e6
        comparison = ""
        if peer == "patch":
            comparison = (f"{ms(patch[f'python_json/{size}']) / ms(b):.1f}x faster than Python, "
                          f"{ms(b) / ms(patch[f'cp_floor/{size}']):.1f}x the cost of cp")
        lines.append((f"{peer}/{size}", f"{ms(b):.1f} ms", f"{mbps:.1f} MB/s", comparison))
peak = patch["patch_peak_memory/50MB"]
lines.append(("patch_peak_memory/50MB", "", f"{peak['peak_MB']:.0f} MB", f"{peak['x_size']:.1f}x the collection's size"))
floor = ms(install["floor/copy_payload_bytes"]) + ms(install["floor/seven_starts_of_true"])
for name in ("install/whole", "install/file_work", "install/seven_launchctl_commands",
             "floor/copy_payload_bytes", "floor/copy_payload_and_replace_collections",
             "floor/seven_starts_of_true"):
    b = install[name]
    comparison = ""
    if name == "install/whole":
        comparison = f"{ms(b) / floor:.1f}x the floor (payload copy + seven starts)"
    if name == "install/file_work":
        comparison = (f"{ms(b) / ms(install['floor/copy_payload_bytes']):.1f}x copying the payload bytes, "
                      f"{ms(b) / ms(install['floor/copy_payload_and_replace_collections']):.1f}x that "
                      "and replacing each collection durably")
    lines.append((name, f"{ms(b):.1f} ms", "", comparison))
with open(probe_txt) as f:
    for line in f:
        if line.startswith("window/"):
            name, rest = line.split(None, 1)
            lines.append((name, "", rest.strip(), ""))
widths = [max(len(row[i]) for row in lines) for i in range(4)]
for index, row in enumerate(lines):
    print(" | ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)).rstrip())
    if index == 0:
        print("-+-".join("-" * w for w in widths))
