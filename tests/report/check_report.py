#!/usr/bin/env python3
"""The report files of a conversion checked against the set it wrote.

usage: check_report.py REPORT_CONVERT SOFA WORKDIR [EXPECTED_WARNING_CODES...]

Converts SOFA with each treatment (the file is first copied under a name full
of non-ASCII and markup characters), then checks for each: the JSON against
the header file, the input's SHA-256 and the conversion's own messages; the
warning lines against the expected codes (given as TREATMENT:CODE, e.g.
crop:itd-implausible); and the page: well-formed XML, self-contained, with its
pictures.
"""
import hashlib
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
XHTML = "{http://www.w3.org/1999/xhtml}"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def header(path):
    lines = open(path, "rb").read().decode("utf-8").split("\r\n")
    body = [l for l in lines if l and not l.startswith("%")]
    fs, n_elevs, n_hrtfs, flags, nb, na = map(int, body[0].split())
    return {
        "fs": fs, "n_hrtfs": n_hrtfs, "flags": flags, "nb": nb,
        "elevs": list(map(int, body[1].split())),
        "numAz": list(map(int, body[2].split())),
        "itds": body[3:] if flags & 2 else None,
    }


def check_json(report, hdr, messages, sofa, treatment, label):
    src = report["source"]
    check(src["sha256"] == hashlib.sha256(open(sofa, "rb").read()).hexdigest(), label + ": sha256")
    check(src["path"] == sofa, label + ": source path %r" % src["path"])
    m = re.search(r"sampling rate: (\S+)\n", messages)
    check(m and float(m.group(1)) == float("%g" % src["samplingRate"]), label + ": samplingRate")
    check(int(src["samplingRate"]) == hdr["fs"], label + ": samplingRate against fs")
    check(("number of measurements: %d\n" % src["measurements"]) in messages, label + ": measurements")
    check(("number of samples per measurement: %d\n" % src["samples"]) in messages, label + ": samples")
    check(src["conventions"] == "SimpleFreeFieldHRIR", label + ": conventions")
    check(isinstance(src["version"], str) and src["version"], label + ": version")
    check(report["treatment"] == treatment, label + ": treatment")
    check(report["cropThreshold"] == 20, label + ": cropThreshold")
    grid = report["grid"]
    check(("choosing target spacing: %g degrees\n" % grid["spacing"]) in messages, label + ": spacing")
    check(grid["elevations"] == hdr["elevs"], label + ": elevations")
    check(grid["azimuths"] == hdr["numAz"], label + ": azimuths")
    targets = report["targets"]
    check(len(targets) == hdr["n_hrtfs"], label + ": one target per HRTF")
    k = 0
    for elev, count in zip(hdr["elevs"], hdr["numAz"]):
        for a in range(count):
            t = targets[k]
            check(t["elevation"] == elev, label + ": target %d elevation" % k)
            check(t["azimuth"] == f32(a * f32(360.0 / count)), label + ": target %d azimuth" % k)
            check(0 <= t["measurement"] < src["measurements"], label + ": target %d measurement" % k)
            if hdr["itds"] is None:
                check(t["itd"] is None, label + ": target %d has no ITD" % k)
            else:
                check(t["itd"] is not None and "%.6f" % f32(t["itd"]) == hdr["itds"][k], label + ": target %d ITD" % k)
            k += 1
    # The largest and average error as the converter reports them (chords).
    chords = [2 * math.sin(math.radians(t["errorDegrees"]) / 2) for t in targets]
    m = re.search(r"largest error (\S+) \(\S+ deg\) at targetIndex (\d+)\n", messages)
    largest = max(chords)
    check(m and abs(float(m.group(1)) - largest) <= 1e-6, label + ": largest error")
    # Targets of equal error differ only by rounding here.
    check(m and chords[int(m.group(2))] >= largest - 1e-9, label + ": largest error's target")
    m = re.search(r"average error (\S+) ", messages)
    check(m and abs(float(m.group(1)) - sum(chords) / len(chords)) <= 1e-5, label + ": average error")
    lines = re.findall(r"^warning: ([a-z-]+): (.*)$", messages, re.M)
    check([(w["code"], w["text"]) for w in report["warnings"]] == lines, label + ": warnings against the messages")


def check_page(path, report, label):
    text = open(path, encoding="utf-8").read()
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        check(False, label + ": page is not well-formed XML: %s" % e)
        return
    check(root.tag == XHTML + "html", label + ": XHTML root")
    check(not root.findall(".//" + XHTML + "script"), label + ": no script")
    for element in root.iter():
        for name in ("src", "href"):
            check(name not in element.attrib, label + ": nothing loaded from elsewhere (%s)" % element.tag)
    check(not root.findall(".//" + XHTML + "link"), label + ": no linked style")
    svgs = root.findall(".//" + SVG + "svg")
    check(len(svgs) == 5, label + ": ITD plot, coverage map and three magnitude plots (%d pictures)" % len(svgs))
    if len(svgs) != 5:
        return
    grid = report["grid"]
    curves = svgs[0].findall(SVG + "polyline")
    check(len(curves) == sum(1 for n in grid["azimuths"] if n > 1), label + ": one ITD curve per ring")
    check(sum(1 for c in curves if "horizontal" in c.get("class", "")) == (1 if 0 in grid["elevations"] else 0),
          label + ": the horizontal ring highlighted")
    cells = [r for r in svgs[1].findall(SVG + "rect") if r.find(SVG + "title") is not None]
    check(len(cells) >= len(report["targets"]), label + ": one coverage cell per target")
    dots = svgs[1].findall(SVG + "g/" + SVG + "circle")
    check(len(dots) == report["source"]["measurements"], label + ": one dot per measurement")
    for svg in svgs[2:]:
        ears = [p for p in svg.findall(SVG + "polyline") if "ear" in p.get("class", "")]
        check(len(ears) == 4 and all(len(p.get("points").split()) > 10 for p in ears),
              label + ": both ears before and after in each magnitude plot")
    page = ET.tostring(root, encoding="unicode", method="text")
    check(report["source"]["path"] in page, label + ": the input path shown as text")
    for w in report["warnings"]:
        check(w["text"] in page, label + ": warning shown")


def main():
    tool, sofa, work = sys.argv[1:4]
    expected = {}
    for item in sys.argv[4:]:
        treatment, code = item.split(":")
        expected.setdefault(treatment, []).append(code)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # Markup, quotes and non-ASCII in the path must come through escaped.
    odd = os.path.join(work, "Kopf <Ärger> & \"ü\" 'x' 頭.sofa")
    shutil.copyfile(sofa, odd)
    for treatment in ("none", "crop", "minphase"):
        out = os.path.join(work, "set-" + treatment)
        run = subprocess.run([tool, odd, out, treatment], stdout=subprocess.PIPE, check=False)
        messages = run.stdout.decode("utf-8")
        label = os.path.basename(sofa) + " " + treatment
        if not check(run.returncode == 0, label + ": conversion failed:\n" + messages):
            continue
        check(("wrote report: %s.report.html\n" % out) in messages, label + ": the line naming the page")
        # -0 is a number of its own: the header prints -0.000000 for it.
        report = json.load(open(out + ".report.json", encoding="utf-8"),
                           parse_int=lambda s: float(s) if s == "-0" else int(s))
        check_json(report, header(out + ".txt"), messages, odd, treatment, label)
        codes = sorted(w["code"] for w in report["warnings"])
        check(codes == sorted(expected.get(treatment, [])), label + ": warnings %s" % codes)
        check_page(out + ".report.html", report, label)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
