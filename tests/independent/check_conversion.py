#!/usr/bin/env python3
"""Converts a SOFA file with quillon-convert and checks the result against a
second, independent implementation of the grid, the nearest-position mapping,
the crop treatment and the set's files, written here in plain Python.

Grid and mapping messages must agree to the last printed digit; the header
and, for the treatments none and crop, the data file to the last bit. For
minimum phase the messages and the grid lines of the header are compared.

usage: check_conversion.py QUILLON_CONVERT SOFA_FILE WORK_DIR
"""
import math
import os
import re
import struct
import subprocess
import sys

PI = 3.141592653589793


def f32(x):
    """Rounds a Python float (64-bit) to the nearest 32-bit float."""
    return struct.unpack("f", struct.pack("f", x))[0]


def c_round(x):
    """Rounds halves away from zero, as C's round and roundf do."""
    return math.floor(x + 0.5) if x >= 0 else -math.floor(-x + 0.5)


def g(x, precision=6):
    """printf's %g (or %.Ng) of a value."""
    return "%.*g" % (precision, x)


def read_sofa(path):
    """SourcePosition rows, the sampling rate and Data.IR through ncdump."""
    text = subprocess.run(
        ["ncdump", "-p", "9,17", "-v", "SourcePosition,Data.SamplingRate,Data.IR", path],
        check=True, capture_output=True, text=True).stdout
    dims = {name: int(value) for name, value in re.findall(r"^\s*(\w+) = (\d+) ;", text, re.M)}
    data = text[text.index("\ndata:"):]

    def values(name):
        match = re.search(r"\b" + re.escape(name) + r" =\s*(.*?);", data, re.S)
        return [float(v) for v in match.group(1).replace("\n", " ").split(",")]

    rows = values("SourcePosition")
    positions = [rows[i:i + 3] for i in range(0, len(rows), 3)]
    header = text[:text.index("\ndata:")]
    cartesian = re.search(r'SourcePosition:Type = "cartesian"', header) is not None
    return dims, positions, cartesian, values("Data.SamplingRate")[0], values("Data.IR")


def records(positions, cartesian):
    """(elevation, azimuth) in degrees for every row."""
    out = []
    for a, b, c in positions:
        if cartesian:
            out.append((math.atan2(c, math.sqrt(a * a + b * b)) * 180.0 / PI, math.atan2(b, a) * 180.0 / PI))
        else:
            out.append((b, a))
    return out


def unit(el, az):
    e = el * PI / 180.0
    a = az * PI / 180.0
    return (math.sin(a) * (math.cos(e) * 1.0), math.cos(a) * (math.cos(e) * 1.0), math.sin(e) * 1.0)


def cap_area(radius, el):
    d = f32(90.0 - abs(el))
    c = f32(math.cos(f32(d * PI / 180.0)))
    area = f32(f32(1.0 - c) * (2.0 * PI * radius * radius))
    return area if el >= 0 else f32(4.0 * PI * radius * radius - area)


def grid_and_map(recs):
    lines = []
    lo, hi = 90.0, -90.0
    for el, _ in recs:
        e = f32(el)
        lo = min(lo, e)
        hi = max(hi, e)
    area = f32(cap_area(1.0, lo) - cap_area(1.0, hi)) if hi > lo else 0.0
    s = f32(math.sqrt(f32(area / f32(len(recs)))))
    s = f32(f32(s * 180.0) / PI)
    lines.append("average angular spacing: %s degrees" % g(s))
    t = 5.0 if s < 5 else 10.0 if s < 10 else 15.0 if s < 15 else 30.0
    lines.append("choosing target spacing: %s degrees" % g(t))
    tr = f32(t * PI / 180.0)
    e0 = f32(c_round(f32(lo / t)) * t)
    e1 = f32(c_round(f32(hi / t)) * t)
    num_elev = int(c_round(f32(f32(e1 - e0) / t))) + 1
    lines.append("%d target elevs: %s to %s" % (num_elev, g(e0), g(e1)))
    elevs, counts = [], []
    for i in range(num_elev):
        e = int(f32(f32(i * t) + e0))
        c = f32(math.cos(f32(e * PI / 180.0)))
        counts.append(max(1, int(c_round(c * 2.0 * PI / tr))))
        elevs.append(e)

    measured = [unit(el, az) for el, az in recs]
    targets, mapping = [], []
    largest, largest_k, total = 0.0, 0, 0.0
    for e, count in zip(elevs, counts):
        step = f32(360.0 / count)
        for a in range(count):
            az = f32(a * step)
            tx, ty, tz = unit(float(e), az)
            best, best_j = 2.0, 0
            for j, (mx, my, mz) in enumerate(measured):
                dx, dy, dz = tx - mx, ty - my, tz - mz
                d = math.sqrt(dy * dy + dx * dx + dz * dz)
                if d < best:
                    best, best_j = d, j
            k = len(targets)
            targets.append((float(e), az))
            mapping.append(best_j)
            if best > largest:
                largest, largest_k = f32(best), k
            total = f32(total + best)
    lines.append("largest error %s (%s deg) at targetIndex %d" % (g(largest), g(f32(f32(largest * 180.0) / PI), 3), largest_k))
    te, ta = targets[largest_k]
    se, sa = recs[mapping[largest_k]]
    lines.append("TN (el %s az %s) <=> SOFA (el %s az %s)" % (g(te, 3), g(ta, 3), g(se, 3), g(sa, 3)))
    average = f32(total / f32(len(targets)))
    lines.append("average error %s (%s deg)" % (g(average), g(f32(average * 180.0) / PI, 3)))
    return lines, elevs, counts, mapping


def crop(x, threshold):
    peak = 0.0
    for v in x:
        peak = max(peak, abs(v))
    level = f32(10.0 ** f32(-abs(threshold) / 20.0))
    onset = 0
    for j, v in enumerate(x):
        if abs(v) >= f32(level * peak):
            onset = j - 1 if j > 0 else 0
            break
    if onset >= 1:
        x = x[onset:] + [0.0] * onset
    return x, onset


def expected_files(rate, elevs, counts, mapping, ir, n, option, threshold):
    words, itds = [], []
    for m in mapping:
        left = [f32(v) for v in ir[(m * 2) * n:(m * 2 + 1) * n]]
        right = [f32(v) for v in ir[(m * 2 + 1) * n:(m * 2 + 2) * n]]
        if option == 1:
            left, on_left = crop(left, threshold)
            right, on_right = crop(right, threshold)
            itds.append(float(on_left - on_right))
        words += left + right
    data = struct.pack(">%df" % len(words), *words)
    flags = 2 if option == 1 else 0
    rows = ["% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff",
            "% flags:" + (" ITD_extracted" if flags else ""),
            "%d %d %d %d %d %d" % (int(rate), len(elevs), len(mapping), flags, n, 0),
            "% elevs(1,:)", " ".join(str(e) for e in elevs),
            "% elevs(2,:)", " ".join(str(c) for c in counts)]
    if flags:
        rows.append("%  ITDs(1...n_hrtf)")
        rows += ["%f" % v for v in itds]
    return data, "".join(r + "\r\n" for r in rows).encode()


def main():
    tool, sofa_path, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    dims, positions, cartesian, rate, ir = read_sofa(sofa_path)
    n = dims["N"]
    recs = records(positions, cartesian)
    messages, elevs, counts, mapping = grid_and_map(recs)
    base = os.path.splitext(os.path.basename(sofa_path))[0]
    failures = 0
    for treatment, option in (("none", 0), ("crop", 1), ("minphase", 2)):
        out_dir = os.path.join(work, treatment)
        run = subprocess.run([tool, "--treatment", treatment, "--threshold", "20", sofa_path, out_dir],
                             capture_output=True, text=True)
        got = run.stdout.splitlines()
        start = next((i for i, line in enumerate(got) if line.startswith("average angular spacing")), None)
        if run.returncode != 0 or start is None or got[start:start + 6] != messages:
            print("%s: messages differ\n  expected: %s\n  got:      %s" % (treatment, messages, got))
            failures += 1
            continue
        with open(os.path.join(out_dir, base), "rb") as f:
            data = f.read()
        with open(os.path.join(out_dir, base + ".txt"), "rb") as f:
            header = f.read()
        if option == 2:
            rows = header.decode().split("\r\n")
            want = ["% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff", "% flags: ITD_extracted",
                    "%d %d %d 2 %d 0" % (int(rate), len(elevs), len(mapping), 1 << (n - 1).bit_length()),
                    "% elevs(1,:)", " ".join(str(e) for e in elevs), "% elevs(2,:)", " ".join(str(c) for c in counts),
                    "%  ITDs(1...n_hrtf)"]
            itds = rows[8:-1]
            if rows[:8] != want or len(itds) != len(mapping) or not all(math.isfinite(float(v)) for v in itds):
                print("minphase: header differs:\n%s" % "\n".join(rows[:8]))
                failures += 1
            continue
        want_data, want_header = expected_files(rate, elevs, counts, mapping, ir, n, option, 20.0)
        if header != want_header:
            print("%s: header differs" % treatment)
            failures += 1
        if data != want_data:
            first = next(i for i in range(min(len(data), len(want_data))) if data[i] != want_data[i]) if len(data) == len(want_data) else -1
            print("%s: data file differs (sizes %d/%d, first byte %d)" % (treatment, len(data), len(want_data), first))
            failures += 1
    print("%s: %s" % (os.path.basename(sofa_path), "agrees" if failures == 0 else "%d differences" % failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
