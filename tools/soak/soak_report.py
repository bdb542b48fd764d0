#!/usr/bin/env python3
"""Soak report: pairs the server's per-connection alert counts with what the
harness delivered per conversation; see tools/run-soak.sh for the accounting.
Arguments: one folder per phase (server.log, server.out, harness.json)."""
import argparse
import json
import re
import sys

COUNT_LINE = re.compile(r"session (\d+): alerts sent (.*?); unwritten (.*)$")
CONNECTION_LINE = re.compile(r"session (\d+): connection from ")
LOGIN_LINE = re.compile(r"session \d+: \".*\" (logged in|resumed session|asked for unknown session)")
CAPPED = {"strike", "symbol", "simplelist"}
ONE_ROW_PER_ALERT = {"ferrik", "dravel"}
ROW_CAP = 1000
MAX_RECONNECT_MS = 1000


def parse_counts(text):
    counts = {}
    for item in text.split():
        name, _, number = item.partition("=")
        counts[name] = int(number)
    return counts


def server_sessions(log_file):
    accepted, counted, logins = [], {}, 0
    with open(log_file, encoding="utf-8", errors="replace") as log:
        for line in log:
            if LOGIN_LINE.search(line):
                logins += 1
            elif match := CONNECTION_LINE.search(line):
                accepted.append(int(match.group(1)))
            elif match := COUNT_LINE.search(line):
                counted[int(match.group(1))] = (parse_counts(match.group(2)), parse_counts(match.group(3)))
    return accepted, counted, logins


def server_totals(out_file):
    with open(out_file, encoding="utf-8") as out:
        for line in out:
            if line.startswith("alerts sent:"):
                return parse_counts(line.split(":", 1)[1])
    return {}


def fitted_slope(points):
    if len(points) < 2:
        return 0.0
    n = len(points)
    mean_x = sum(x for x, _ in points) / n
    mean_y = sum(y for _, y in points) / n
    sxx = sum((x - mean_x) ** 2 for x, _ in points)
    return sum((x - mean_x) * (y - mean_y) for x, y in points) / sxx if sxx else 0.0


def memory_figures(samples):
    samples = [(t, kb) for t, kb in samples if kb > 0]
    n = len(samples)
    peak = max(kb for _, kb in samples)
    half = samples[n // 2:]
    third = [kb for _, kb in samples[n // 2: 3 * n // 4]]
    fourth = [kb for _, kb in samples[3 * n // 4:]]
    mean = lambda values: sum(values) / len(values) if values else 0.0
    q3, q4 = mean(third), mean(fourth)
    slope = fitted_slope(half) * 60  # kB per minute
    return {"start_kb": samples[0][1], "peak_kb": peak, "end_kb": samples[-1][1], "q3_mean_kb": q3,
            "q4_mean_kb": q4, "slope_kb_per_min": slope,
            "growing": q4 - q3 > max(1024.0, 0.01 * q3) and slope > 0}


def analyse(folder, out):
    failures = []
    with open(f"{folder}/harness.json", encoding="utf-8") as harness_file:
        harness = json.load(harness_file)
    accepted, counted, logins = server_sessions(f"{folder}/server.log")
    totals = server_totals(f"{folder}/server.out")
    reached = [c for c in harness["conversations"] if c["connected_ms"] >= 0]
    print(f"== phase {folder.rsplit('/', 1)[-1]}: {harness['duration_s']:.0f} s, "
          f"{len(harness['windows'])} windows", file=out)
    if not harness["stopped"]:
        failures.append("the run did not end with the server's STOP")
    if len(reached) != len(accepted):
        failures.append(f"client reached the server {len(reached)} times, server accepted {len(accepted)}")
    missing = [n for n in accepted if n not in counted]
    if missing:
        failures.append(f"no count line for server sessions {missing}")

    sent, unwritten, received, lost, extra = {}, {}, {}, {}, {}
    for conversation, number in zip(reached, accepted):
        got = conversation["alerts"]
        sent_here, cut_here = counted.get(number, ({}, {}))
        for category in set(sent_here) | set(got):
            s, u, g = sent_here.get(category, 0), cut_here.get(category, 0), got.get(category, 0)
            sent[category] = sent.get(category, 0) + s
            unwritten[category] = unwritten.get(category, 0) + u
            received[category] = received.get(category, 0) + g
            if g < s - u:
                lost[category] = lost.get(category, 0) + (s - u - g)
            if g > s:
                extra[category] = extra.get(category, 0) + (g - s)

    print(f"{'category':<12}{'server total':>13}{'sent, live':>12}{'in flight':>10}{'handled':>10}"
          f"{'lost':>6}{'extra':>6}{'rows':>9}", file=out)
    rows = {w["subscription"]: w["rows"] for w in harness["windows"]}
    for category in sorted(set(sent) | set(received) | set(totals)):
        handled = harness["delivered"].get(category, 0)
        print(f"{category:<12}{totals.get(category, 0):>13}{sent.get(category, 0):>12}"
              f"{unwritten.get(category, 0):>10}{handled:>10}{lost.get(category, 0):>6}"
              f"{extra.get(category, 0):>6}{rows.get(category, '-'):>9}", file=out)
        if category in rows:
            expected_rows = (min(handled, ROW_CAP) if category in CAPPED
                             else handled if category in ONE_ROW_PER_ALERT else None)
            if expected_rows is not None and rows[category] != expected_rows:
                failures.append(f"window {category} holds {rows[category]} rows, expected {expected_rows}")
        if totals.get(category, 0) != sent.get(category, 0):
            failures.append(f"{category}: server total {totals.get(category, 0)} differs from the "
                            f"per-connection sum {sent.get(category, 0)}")
    total_sent, total_handled = sum(sent.values()), sum(harness["delivered"].values())
    print(f"alerts: {total_sent} sent on live connections, {total_handled} handled, "
          f"{sum(unwritten.values())} in flight at a drop, {sum(lost.values())} lost, "
          f"{sum(extra.values())} extra; {total_handled / harness['duration_s']:.0f} alerts/s handled", file=out)
    if lost:
        failures.append(f"alerts lost on live connections: {lost}")
    if extra:
        failures.append(f"alerts received beyond what was sent: {extra}")

    delays = [d["delay_ms"] for d in harness["drops"] if d["delay_ms"] >= 0]
    unresolved = [d for d in harness["drops"] if d["delay_ms"] < 0]
    print(f"reconnections: {len(harness['conversations'])} conversations, {len(reached)} reached the server, "
          f"{len(harness['drops'])} drops seen by the client, {logins} logins accepted by the server", file=out)
    if delays:
        print(f"drop to working session: longest {max(delays)} ms, average {sum(delays) / len(delays):.1f} ms, "
              f"over {len(delays)} drops", file=out)
        slow = [d for d in delays if d > MAX_RECONNECT_MS]
        if slow:
            failures.append(f"{len(slow)} reconnections took over {MAX_RECONNECT_MS} ms (longest {max(slow)} ms)")
    if unresolved:
        failures.append(f"{len(unresolved)} drops never got a new session")

    memory = memory_figures(harness["memory_kb"])
    print(f"memory (VmRSS): start {memory['start_kb'] / 1024:.1f} MB, peak {memory['peak_kb'] / 1024:.1f} MB, "
          f"end {memory['end_kb'] / 1024:.1f} MB; second half slope {memory['slope_kb_per_min']:.0f} kB/min, "
          f"third-quarter mean {memory['q3_mean_kb'] / 1024:.1f} MB, last-quarter mean "
          f"{memory['q4_mean_kb'] / 1024:.1f} MB: {'still growing' if memory['growing'] else 'flat'}", file=out)
    for failure in failures:
        print(f"FAIL: {failure}", file=out)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rate")
    parser.add_argument("--drop-ms")
    parser.add_argument("--drop-jitter-ms")
    parser.add_argument("phases", nargs="+")
    args = parser.parse_args()
    print(f"server: --rate {args.rate} per category, --drop-every-ms {args.drop_ms} "
          f"--drop-jitter-ms {args.drop_jitter_ms}")
    failures = []
    for folder in args.phases:
        failures += analyse(folder, sys.stdout)
    print("RESULT: " + ("FAIL" if failures else "PASS"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
