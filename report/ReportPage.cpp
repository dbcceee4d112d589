#include "report/Markup.h"
#include "report/Report.h"

#include "batch/messages/FormatString.h"
#include "dsp/fft.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace
{
// A plot's drawing area inside its SVG.
struct Frame
{
    double left, top, width, height;
    double x0, x1, y0, y1;  // data ranges along the axes (y0 at the bottom)
    bool logX = false;

    double x(double v) const
    {
        const double u = logX ? (std::log10(v) - std::log10(x0)) / (std::log10(x1) - std::log10(x0))
                              : (v - x0) / (x1 - x0);
        return left + u * width;
    }
    double y(double v) const { return top + (y1 - v) / (y1 - y0) * height; }
};

// One decimal, as "%.1f" gives it, without printf's cost (a page has thousands).
void appendTenths(std::string& out, double v)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1);
    out.append(text, result.ptr);
}

std::string point(double x, double y)
{
    std::string out;
    appendTenths(out, x);
    out += ',';
    appendTenths(out, y);
    return out;
}

// Blue for the lowest elevations through green to red for the highest.
std::string ringColour(std::int32_t elevation)
{
    const double hue = 240.0 - (std::min(std::max(elevation, -90), 90) + 90) / 180.0 * 240.0;
    return formatString("hsl(%.0f,75%%,42%%)", hue);
}

// Green (on a measurement) through yellow to red (a spacing away or farther).
std::string errorColour(double share)
{
    const double u = std::min(std::max(share, 0.0), 1.0);
    return formatString("hsl(%.0f,80%%,%.0f%%)", 120.0 * (1.0 - u), 45.0 + 10.0 * (1.0 - u));
}

std::string svgOpen(double width, double height, const std::string& label)
{
    return formatString("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"",
                  width, height)
           + xmlText(label) + "\">\n";
}

std::string text(double x, double y, const std::string& s, const char* anchor = "middle", const char* extra = "")
{
    return formatString("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\"%s>", x, y, anchor, extra) + xmlText(s) + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const char* cls)
{
    return formatString("<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", cls, x1, y1, x2, y2);
}

std::string frameBox(const Frame& f)
{
    return formatString("<rect class=\"frame\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>\n", f.left, f.top,
                  f.width, f.height);
}

std::string azimuthAxis(const Frame& f)
{
    std::string out;
    for (int az = 0; az <= 360; az += 45)
    {
        out += line(f.x(az), f.top, f.x(az), f.top + f.height, az % 90 == 0 ? "grid" : "grid minor");
        out += text(f.x(az), f.top + f.height + 16, formatString("%d", az));
    }
    out += text(f.left + f.width / 2, f.top + f.height + 34, "azimuth (degrees, 90 = left)");
    return out;
}

std::string itdPlot(const ReportContent& r)
{
    const TargetFigures& t = r.targets;
    double largest = 0.0;
    for (double v : t.lagMicroseconds)
        if (std::isfinite(v))
            largest = std::max(largest, std::fabs(v));
    const double range = std::max(1000.0, std::ceil(largest / 250.0) * 250.0);
    const Frame f { 70, 14, 660, 300, 0, 360, -range, range };
    std::string out = svgOpen(760, 360, t.lagsAreOnsets ? "Onset difference against azimuth" : "ITD against azimuth");
    out += frameBox(f);
    out += azimuthAxis(f);
    const double step = range > 2000.0 ? 1000.0 : 250.0;
    for (double v = -range; v <= range + 1e-9; v += step)
    {
        out += line(f.left, f.y(v), f.left + f.width, f.y(v), v == 0.0 ? "grid zero" : "grid");
        out += text(f.left - 6, f.y(v) + 4, formatString("%.0f", v), "end");
    }
    out += text(18, f.top + f.height / 2, t.lagsAreOnsets ? "onset difference (\u00b5s)" : "ITD (\u00b5s)", "middle",
                formatString(" transform=\"rotate(-90 18 %.1f)\"", f.top + f.height / 2).c_str());

    std::size_t first = 0;
    std::string horizontal;  // drawn last, on top
    for (std::size_t ring = 0; ring < t.elevs.size() && ring < t.numAz.size(); ++ring)
    {
        const auto count = static_cast<std::size_t>(std::max<std::int32_t>(t.numAz[ring], 0));
        if (first + count > t.lagMicroseconds.size() || first + count > t.azimuth.size())
            break;
        const bool isHorizontal = t.elevs[ring] == 0;
        const std::string colour = isHorizontal ? "#000" : ringColour(t.elevs[ring]);
        std::string shape;
        if (count == 1)
            shape = formatString("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"", f.x(t.azimuth[first]),
                           f.y(t.lagMicroseconds[first]))
                    + colour + "\"><title>" + formatString("el %d", t.elevs[ring]) + "</title></circle>\n";
        else
        {
            shape = "<polyline class=\"" + std::string(isHorizontal ? "curve horizontal" : "curve") + "\" stroke=\""
                    + colour + "\" points=\"";
            for (std::size_t a = 0; a <= count; ++a)  // closed: azimuth 360 repeats azimuth 0
            {
                const std::size_t k = first + a % count;
                const double az = a == count ? 360.0 : t.azimuth[k];
                const double v = std::min(std::max(t.lagMicroseconds[k], -range), range);
                shape += (a == 0 ? "" : " ") + point(f.x(az), f.y(std::isfinite(v) ? v : 0.0));
            }
            shape += "\"><title>" + formatString("el %d", t.elevs[ring]) + "</title></polyline>\n";
        }
        (isHorizontal ? horizontal : out) += shape;
        first += count;
    }
    out += horizontal;
    out += "</svg>\n";

    // The legend: one swatch per ring.
    out += "<p class=\"legend\">";
    for (std::size_t ring = 0; ring < t.elevs.size(); ++ring)
    {
        const bool isHorizontal = t.elevs[ring] == 0;
        out += "<span class=\"" + std::string(isHorizontal ? "key horizontal" : "key") + "\"><span class=\"swatch\" "
               "style=\"background:" + (isHorizontal ? std::string("#000") : ringColour(t.elevs[ring])) + "\"></span>"
               + formatString("el %d", t.elevs[ring]) + "</span> ";
    }
    out += "</p>\n";
    return out;
}

std::string coveragePlot(const ReportContent& r)
{
    const TargetFigures& t = r.targets;
    const Frame f { 70, 14, 660, 330, 0, 360, -90, 90 };
    const double spacing = t.spacing > 0.0f ? static_cast<double>(t.spacing) : 5.0;
    std::string out = svgOpen(760, 440, "Coverage map: targets coloured by their distance to the nearest measurement");
    out += frameBox(f);
    std::size_t first = 0;
    for (std::size_t ring = 0; ring < t.elevs.size() && ring < t.numAz.size(); ++ring)
    {
        const auto count = static_cast<std::size_t>(std::max<std::int32_t>(t.numAz[ring], 0));
        if (first + count > t.errorDegrees.size() || first + count > t.azimuth.size())
            break;
        const double width = 360.0 / static_cast<double>(std::max<std::size_t>(count, 1));
        const double el = t.elevs[ring];
        const double top = std::min(90.0, el + spacing / 2), bottom = std::max(-90.0, el - spacing / 2);
        for (std::size_t a = 0; a < count; ++a)
        {
            const std::size_t k = first + a;
            const double error = t.errorDegrees[k];
            // A cell centred on its azimuth; the one at 0 wraps to the right edge.
            const double centre = t.azimuth[k];
            const std::string title = "<title>" + formatString("el %d az %g: %.2f deg", t.elevs[ring], t.azimuth[k], error)
                                      + "</title>";
            for (double shift : { 0.0, 360.0 })
            {
                const double x0 = std::max(0.0, centre + shift - width / 2), x1 = std::min(360.0, centre + shift + width / 2);
                if (x1 <= x0)
                    continue;
                out += formatString("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"", f.x(x0), f.y(top),
                              f.x(x1) - f.x(x0), f.y(bottom) - f.y(top))
                       + errorColour(error / spacing) + "\">" + title + "</rect>\n";
            }
        }
        first += count;
    }
    out += azimuthAxis(f);
    for (int el = -90; el <= 90; el += 30)
    {
        out += line(f.left, f.y(el), f.left + f.width, f.y(el), "grid");
        out += text(f.left - 6, f.y(el) + 4, formatString("%d", el), "end");
    }
    out += text(18, f.top + f.height / 2, "elevation (degrees)", "middle",
                formatString(" transform=\"rotate(-90 18 %.1f)\"", f.top + f.height / 2).c_str());
    out += "<g class=\"measured\">\n";
    for (const ReportDirection& d : r.measured)
    {
        double az = std::fmod(d.azimuth, 360.0);
        if (az < 0.0)
            az += 360.0;
        out += "<circle cx=\"";
        appendTenths(out, f.x(az));
        out += "\" cy=\"";
        appendTenths(out, f.y(d.elevation));
        out += "\" r=\"1.6\"/>\n";
    }
    out += "</g>\n";

    // The colour scale.
    const double barTop = 394, barLeft = 70, barWidth = 300;
    for (int i = 0; i < 30; ++i)
        out += formatString("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"12\" fill=\"", barLeft + i * barWidth / 30,
                      barTop, barWidth / 30 + 0.5)
               + errorColour(i / 29.0) + "\"/>\n";
    out += text(barLeft, barTop + 28, "0 deg", "start");
    out += text(barLeft + barWidth, barTop + 28, formatString("%g deg (the spacing) or more", spacing), "end");
    out += formatString("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" class=\"dot\"/>\n", barLeft + barWidth + 40, barTop + 6);
    out += text(barLeft + barWidth + 48, barTop + 10, "measured direction", "start");
    out += "</svg>\n";
    return out;
}

std::string magnitudePlot(const ResponseView& v, double samplingRate)
{
    const std::size_t longest = std::max({ v.beforeLeft.size(), v.afterLeft.size(), std::size_t(4) });
    const std::int32_t size = nextPowerOfTwo(static_cast<std::int32_t>(std::min<std::size_t>(longest, 1 << 20)));
    const std::vector<float> curves[4] = { magnitudeDb(v.beforeLeft, size), magnitudeDb(v.beforeRight, size),
                                           magnitudeDb(v.afterLeft, size), magnitudeDb(v.afterRight, size) };
    const char* classes[4] = { "ear left before", "ear right before", "ear left", "ear right" };
    const double binHz = samplingRate / size;
    float top = -200.0f;
    for (const auto& c : curves)
        for (std::size_t i = 1; i < c.size(); ++i)
            top = std::max(top, c[i]);
    const double yTop = std::ceil(top / 10.0) * 10.0;
    const double lowest = std::max(20.0, binHz);
    const Frame f { 52, 24, 290, 190, lowest, samplingRate / 2, yTop - 60.0, yTop, true };
    std::string out = svgOpen(360, 254, formatString("Magnitude responses at azimuth %g", v.azimuth));
    out += text(f.left + f.width / 2, 16, formatString("azimuth %g, elevation 0", v.azimuth), "middle", " class=\"title\"");
    out += frameBox(f);
    for (double hz : { 100.0, 1000.0, 10000.0 })
        if (hz > f.x0 && hz < f.x1)
        {
            out += line(f.x(hz), f.top, f.x(hz), f.top + f.height, "grid");
            out += text(f.x(hz), f.top + f.height + 14, hz >= 1000.0 ? formatString("%gk", hz / 1000.0) : formatString("%g", hz));
        }
    for (double db = f.y0; db <= f.y1 + 1e-9; db += 10.0)
    {
        out += line(f.left, f.y(db), f.left + f.width, f.y(db), "grid");
        out += text(f.left - 4, f.y(db) + 4, formatString("%.0f", db), "end");
    }
    out += text(f.left + f.width / 2, f.top + f.height + 30, "frequency (Hz)");
    out += text(12, f.top + f.height / 2, "dB", "middle", formatString(" transform=\"rotate(-90 12 %.1f)\"", f.top + f.height / 2).c_str());
    for (int c = 0; c < 4; ++c)
    {
        out += std::string("<polyline class=\"") + classes[c] + "\" points=\"";
        bool firstPoint = true;
        for (std::size_t i = 1; i < curves[c].size(); ++i)
        {
            const double hz = static_cast<double>(i) * binHz;
            if (hz < f.x0)
                continue;
            const double db = std::min(std::max(static_cast<double>(curves[c][i]), f.y0), f.y1);
            out += (firstPoint ? "" : " ") + point(f.x(hz), f.y(db));
            firstPoint = false;
        }
        out += "\"/>\n";
    }
    out += "</svg>\n";
    return out;
}

std::string row(const std::string& name, const std::string& value)
{
    return "<tr><th>" + xmlText(name) + "</th><td>" + xmlText(value) + "</td></tr>\n";
}

const char kStyle[] = R"(
body { font: 14px/1.45 system-ui, sans-serif; color: #1d2327; background: #fff; margin: 24px auto; max-width: 980px; padding: 0 16px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 8px; border-bottom: 1px solid #ccd; padding-bottom: 3px; }
p.note { color: #555; margin: 4px 0 10px; }
table.facts { border-collapse: collapse; }
table.facts th { text-align: left; font-weight: 600; padding: 2px 16px 2px 0; vertical-align: top; white-space: nowrap; }
table.facts td { padding: 2px 0; word-break: break-all; }
ul.warnings { padding-left: 20px; }
ul.warnings li { color: #8a1c00; margin: 3px 0; }
ul.warnings code { font-weight: 600; }
p.clean { color: #1f6b2a; font-weight: 600; }
svg { width: 100%; height: auto; display: block; }
svg text { font: 11px system-ui, sans-serif; fill: #333; }
svg text.title { font-weight: 600; font-size: 12px; }
svg .frame { fill: none; stroke: #888; }
svg .grid { stroke: #ddd; stroke-width: 1; }
svg .grid.minor { stroke: #eee; }
svg .grid.zero { stroke: #999; }
svg .curve { fill: none; stroke-width: 1.1; opacity: 0.85; }
svg .curve.horizontal { stroke-width: 3; opacity: 1; }
svg .measured circle, svg .dot { fill: #111; }
svg .ear { fill: none; stroke-width: 1.3; }
svg .ear.left { stroke: #1f5fbf; }
svg .ear.right { stroke: #c8321e; }
svg .ear.before { stroke-dasharray: 3 3; opacity: 0.75; }
p.legend { font-size: 12px; margin: 6px 0; }
.key { display: inline-block; margin-right: 10px; white-space: nowrap; }
.key.horizontal { font-weight: 700; }
.swatch { display: inline-block; width: 14px; height: 3px; margin-right: 4px; vertical-align: middle; }
.key.horizontal .swatch { height: 5px; }
.panels { display: flex; flex-wrap: wrap; gap: 8px; }
.panels > div { flex: 1 1 300px; }
footer { color: #777; font-size: 12px; margin-top: 32px; }
@media print {
  body { margin: 0; max-width: none; font-size: 11px; }
  h2 { break-after: avoid; }
  svg, .panels { break-inside: avoid; }
}
)";
} // namespace

std::vector<float> magnitudeDb(const std::vector<float>& x, std::int32_t size)
{
    const auto n = static_cast<std::size_t>(size);
    std::vector<float> spectrum(n, 0.0f);
    std::copy_n(x.begin(), std::min(x.size(), n), spectrum.begin());
    const auto plan = fft_create(size);
    fft_forward(*plan, spectrum.data());
    std::vector<float> db(n / 2 + 1);
    const auto level = [](double power) {
        return static_cast<float>(power > 1e-20 ? 10.0 * std::log10(power) : -200.0);
    };
    db[0] = level(static_cast<double>(spectrum[0]) * spectrum[0]);
    db[n / 2] = level(static_cast<double>(spectrum[1]) * spectrum[1]);
    for (std::size_t k = 1; k < n / 2; ++k)
    {
        const double re = spectrum[2 * k], im = spectrum[2 * k + 1];
        db[k] = level(re * re + im * im);
    }
    return db;
}

std::string reportPage(const ReportContent& r)
{
    const TargetFigures& t = r.targets;
    std::string name = r.setPath;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);

    std::string out = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
                      "<meta charset=\"utf-8\"/>\n<title>" + xmlText("Quillon report: " + name) + "</title>\n"
                      "<style>" + kStyle + "</style>\n</head>\n<body>\n";
    out += "<h1>" + xmlText("Conversion report: " + name) + "</h1>\n";
    out += "<p class=\"note\">What the conversion did, and what looks wrong.</p>\n";

    // 1. Summary.
    out += "<h2>Summary</h2>\n<table class=\"facts\">\n";
    out += row("Input", r.sourcePath);
    out += row("SHA-256", r.sha256);
    out += row("Conventions", r.conventions + " " + r.version);
    out += row("Sampling rate", formatString("%g Hz", r.samplingRate));
    out += row("Measurements", formatString("%d, of %d samples each", r.measurements, r.samples));
    std::string treatment = r.treatment;
    if (r.treatment == "crop")
        treatment += formatString(", threshold %d dB below the peak", r.cropThreshold);
    out += row("Treatment", treatment);
    std::string rings;
    for (std::size_t i = 0; i < t.elevs.size(); ++i)
        rings += formatString("%s%d (%d)", i == 0 ? "" : ", ", t.elevs[i], i < t.numAz.size() ? t.numAz[i] : 0);
    out += row("Grid", formatString("%g degrees spacing, %zu rings, %zu targets", static_cast<double>(t.spacing),
                              t.elevs.size(), t.measurement.size()));
    out += row("Rings, elevation (azimuths)", rings);
    double largest = 0.0, sum = 0.0;
    for (double e : t.errorDegrees)
        largest = std::max(largest, e), sum += e;
    out += row("Distance to the nearest measurement",
               formatString("largest %.2f degrees, average %.2f degrees", largest,
                      t.errorDegrees.empty() ? 0.0 : sum / static_cast<double>(t.errorDegrees.size())));
    out += row("Set written", formatString("%s (%d Hz, %d coefficients per ear, %s)", r.setPath.c_str(), r.sampRate,
                                     r.numBCoeff, r.itds.empty() ? "no ITDs" : "with ITDs"));
    out += "</table>\n";
    out += "<h2>Warnings</h2>\n";
    if (r.warnings.empty())
        out += "<p class=\"clean\">None: the checks found nothing wrong.</p>\n";
    else
    {
        out += "<ul class=\"warnings\">\n";
        for (const Warning& w : r.warnings)
            out += "<li><code>" + xmlText(w.code) + "</code>: " + xmlText(w.text) + "</li>\n";
        out += "</ul>\n";
    }

    // 2. ITDs.
    out += "<h2 id=\"itd\">" + std::string(t.lagsAreOnsets ? "Onset difference" : "Interaural time delay")
           + " against azimuth</h2>\n";
    out += std::string("<p class=\"note\">") + (t.lagsAreOnsets
               ? "The set stores no ITDs: shown is the difference of the two ears' onsets in the stored responses."
               : "The ITD stored for each target.")
           + " Positive: the left ear hears later. One curve per ring; the horizontal ring is the thick black one."
             "</p>\n";
    out += itdPlot(r);

    // 3. Coverage.
    out += "<h2 id=\"coverage\">Coverage</h2>\n";
    out += "<p class=\"note\">Each target is coloured by the angle to the measurement it was filled from; the dots "
           "are the measured directions.</p>\n";
    out += coveragePlot(r);

    // 4. Magnitudes.
    out += "<h2 id=\"magnitude\">Magnitude responses on the horizontal ring</h2>\n";
    out += "<p class=\"note\">Left ear blue, right ear red; dashed before the treatment, solid after.</p>\n";
    if (r.responses.empty())
        out += "<p class=\"note\">The grid has no horizontal ring.</p>\n";
    else
    {
        out += "<div class=\"panels\">\n";
        for (const ResponseView& v : r.responses)
            out += "<div>\n" + magnitudePlot(v, r.samplingRate) + "</div>\n";
        out += "</div>\n";
    }
    out += "<footer>Written by Quillon.</footer>\n</body>\n</html>\n";
    return out;
}
