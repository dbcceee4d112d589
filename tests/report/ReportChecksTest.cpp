#include "report/Markup.h"
#include "report/QualityChecks.h"
#include "report/Report.h"
#include "report/Sha256.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
TEST(Sha256, KnownDigests)
{
    struct Case
    {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        { "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
        { "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
        // 56 bytes: the length no longer fits the first block.
        { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1" },
        { std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(sha256Hex(c.input.data(), c.input.size()), c.digest) << c.input.size() << " bytes";

    // Both ways of compressing (the processor's SHA extensions, where it has
    // them, and the portable code), fed in uneven pieces across block borders.
    for (bool portableOnly : { false, true })
        for (const Case& c : cases)
        {
            Sha256 pieces(portableOnly);
            for (std::size_t at = 0, step = 1; at < c.input.size(); at += step, step = step * 3 % 197 + 1)
                pieces.update(c.input.data() + at, std::min(step, c.input.size() - at));
            EXPECT_EQ(pieces.finishHex(), c.digest) << c.input.size() << " bytes, portable " << portableOnly;
        }
}

TEST(Markup, EscapesForJsonAndXml)
{
    struct Case
    {
        std::string input, json, xml;
    };
    const Case cases[] = {
        { "plain", "\"plain\"", "plain" },
        { "a\"b\\c/d", "\"a\\\"b\\\\c/d\"", "a&quot;b\\c/d" },
        { "<b>&amp;'x'</b>", "\"<b>&amp;'x'</b>\"", "&lt;b&gt;&amp;amp;&#39;x&#39;&lt;/b&gt;" },
        { "line\nnext\ttab\r\x01\x1f", "\"line\\nnext\\ttab\\r\\u0001\\u001f\"", "line\nnext\ttab\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" },
        // Non-ASCII passes through as UTF-8.
        { "K\xc3\xb6pfe \xe9\xa0\xad \xf0\x9f\x8e\xa7", "\"K\xc3\xb6pfe \xe9\xa0\xad \xf0\x9f\x8e\xa7\"",
          "K\xc3\xb6pfe \xe9\xa0\xad \xf0\x9f\x8e\xa7" },
        // Bytes that are no UTF-8 (a Latin-1 name, a cut sequence, a surrogate) become U+FFFD.
        { "M\xfcller \xe9\xa0 \xed\xa0\x80", "\"M\xef\xbf\xbdller \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"",
          "M\xef\xbf\xbdller \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" },
        { std::string("nul\0end", 7), "\"nul\\u0000end\"", "nul\xef\xbf\xbd" "end" },
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(jsonString(c.input), c.json) << c.input;
        EXPECT_EQ(xmlText(c.input), c.xml) << c.input;
    }
}

TEST(Markup, NumbersReadBackExactly)
{
    EXPECT_EQ(jsonNumber(44100.0), "44100");
    EXPECT_EQ(jsonNumber(-0.5), "-0.5");
    EXPECT_EQ(jsonNumber(-0.0f), "-0");
    EXPECT_EQ(jsonNumber(std::nan("")), "null");
    EXPECT_EQ(jsonNumber(HUGE_VAL), "null");
    for (float v : { 0.1f, -3.3333333f, 1e-30f, 16777217.0f, 27.5f })
        EXPECT_EQ(std::stof(jsonNumber(v)), v);
    for (double v : { 0.1, 2.0 / 3.0, 1e300, 5e-324 })
        EXPECT_EQ(std::strtod(jsonNumber(v).c_str(), nullptr), v);
}

// A grid of rings with count azimuths each, every target on its measurement,
// lags from a spherical head of radius 8.75 cm (Woodworth), left positive.
TargetFigures sphericalHead(float spacing, const std::vector<std::int32_t>& elevs,
                            const std::vector<std::int32_t>& numAz)
{
    TargetFigures f;
    f.spacing = spacing;
    f.elevs = elevs;
    f.numAz = numAz;
    const double pi = 3.141592653589793;
    for (std::size_t r = 0; r < elevs.size(); ++r)
        for (std::int32_t a = 0; a < numAz[r]; ++a)
        {
            const double az = a * 360.0 / numAz[r];
            const double lateral = std::cos(elevs[r] * pi / 180.0) * std::sin(az * pi / 180.0);
            const double angle = std::asin(lateral);
            f.azimuth.push_back(az);
            f.measurement.push_back(static_cast<std::int32_t>(f.measurement.size()));
            f.errorDegrees.push_back(0.0);
            f.lateral.push_back(lateral);
            f.lagMicroseconds.push_back(-0.0875 / 343.0 * (angle + std::sin(angle)) * 1e6);
        }
    return f;
}

TargetFigures fullSphere(float spacing)
{
    // The grids the converter chooses over the whole sphere.
    if (spacing == 30.0f)
        return sphericalHead(30.0f, { -90, -60, -30, 0, 30, 60, 90 }, { 1, 6, 10, 12, 10, 6, 1 });
    return sphericalHead(10.0f, { -90, -80, -70, -60, -50, -40, -30, -20, -10, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90 },
                         { 1, 6, 12, 18, 23, 28, 31, 34, 35, 36, 35, 34, 31, 28, 23, 18, 12, 6, 1 });
}

std::vector<Warning> allChecks(const TargetFigures& f)
{
    std::vector<Warning> w;
    checkReceiversSwapped(f, w);
    checkCoverageGap(f, w);
    checkItdPlausible(f, w);
    return w;
}

TEST(QualityChecks, SilentOnAPlausibleHead)
{
    for (float spacing : { 10.0f, 30.0f })
    {
        TargetFigures f = fullSphere(spacing);
        EXPECT_TRUE(allChecks(f).empty()) << spacing;
        f.lagsAreOnsets = true;
        EXPECT_TRUE(allChecks(f).empty()) << spacing;
        // Every target one spacing away from its measurement is still covered.
        for (double& e : f.errorDegrees)
            e = spacing;
        EXPECT_TRUE(allChecks(f).empty()) << spacing;
    }
}

TEST(QualityChecks, ReceiversSwappedByMajorityOnEachSide)
{
    TargetFigures f = fullSphere(10.0f);
    for (double& lag : f.lagMicroseconds)
        lag = -lag;
    std::vector<Warning> w;
    ASSERT_TRUE(checkReceiversSwapped(f, w));
    EXPECT_EQ(w[0].code, "receivers-swapped");
    EXPECT_NE(w[0].text.find("ITD sign reversed"), std::string::npos) << w[0].text;
    f.lagsAreOnsets = true;
    w.clear();
    ASSERT_TRUE(checkReceiversSwapped(f, w));
    EXPECT_NE(w[0].text.find("onset difference sign reversed"), std::string::npos) << w[0].text;

    // One side swapped only (say one ear's delay wrapped) is no exchange.
    TargetFigures oneSide = fullSphere(10.0f);
    for (std::size_t k = 0; k < oneSide.lateral.size(); ++k)
        if (oneSide.lateral[k] > 0)
            oneSide.lagMicroseconds[k] = -oneSide.lagMicroseconds[k];
    EXPECT_FALSE(checkReceiversSwapped(oneSide, w));

    // Lags too small to tell (a set with its delays removed) decide nothing.
    TargetFigures flat = fullSphere(10.0f);
    for (double& lag : flat.lagMicroseconds)
        lag = -lag * 0.05;
    EXPECT_FALSE(checkReceiversSwapped(flat, w));
}

TEST(QualityChecks, CoverageGapNamesRingsAndTrueAngles)
{
    TargetFigures f = fullSphere(10.0f);
    // The lower cap unmeasured: the rings up to -60 filled from the -50 ring.
    for (std::size_t k = 0, r = 0; r < f.elevs.size(); ++r)
        for (std::int32_t a = 0; a < f.numAz[r]; ++a, ++k)
            if (f.elevs[r] <= -60)
                f.errorDegrees[k] = -50.0 - f.elevs[r];
    std::vector<Warning> w;
    ASSERT_TRUE(checkCoverageGap(f, w));
    EXPECT_EQ(w[0].code, "coverage-gap");
    EXPECT_EQ(w[0].text, "19 of 412 targets lie farther than 10 degrees from any measurement: el -90: 1 of 1 up to "
                         "40.0 deg, el -80: 6 of 6 up to 30.0 deg, el -70: 12 of 12 up to 20.0 deg");

    // Gaps on every ring: the list stops in time and counts the rest.
    for (double& e : f.errorDegrees)
        e = 12.5;
    w.clear();
    ASSERT_TRUE(checkCoverageGap(f, w));
    EXPECT_LE(w[0].text.size() + std::string("warning: coverage-gap: \n").size(), 255u);
    EXPECT_NE(w[0].text.find("more rings"), std::string::npos) << w[0].text;
}

TEST(QualityChecks, ChordToTrueAngle)
{
    EXPECT_DOUBLE_EQ(chordToDegrees(0.0), 0.0);
    EXPECT_NEAR(chordToDegrees(std::sqrt(2.0)), 90.0, 1e-12);
    EXPECT_NEAR(chordToDegrees(2.0), 180.0, 1e-12);
    EXPECT_NEAR(chordToDegrees(2.0 * std::sin(3.141592653589793 / 36)), 10.0, 1e-12);
}

TEST(QualityChecks, ItdImplausibleNamesRingAndAzimuth)
{
    struct Case
    {
        float spacing;
        double at0, at90;  // lags set on the horizontal ring at azimuth 0 and 90
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        // A pair beyond any head at azimuth 90; its neighbours jump to it.
        { 10.0f, 0.0, -1400.0,
          { "1 targets have an ITD beyond 1000 us, no head gives that; the largest is -1400 us at el 0 az 90",
            "2 steps between neighbouring azimuths change the ITD by more than 250 us; the largest is" } },
        // An estimate that wrapped in the front: a jump without a lag beyond the limit.
        { 10.0f, 600.0, 0.0, { "on ring el 0 between az 0 and 10" } },
        // At 30 degrees spacing the limit is 360 us: a head's 260 us step passes, 400 us does not.
        { 30.0f, 400.0, 0.0, { "by more than 360 us" } },
    };
    for (const Case& c : cases)
    {
        TargetFigures f = fullSphere(c.spacing);
        std::size_t first = 0;
        for (std::size_t r = 0; f.elevs[r] != 0; ++r)
            first += static_cast<std::size_t>(f.numAz[r]);
        const auto count = static_cast<std::size_t>(f.numAz[std::size_t(c.spacing == 30.0f ? 3 : 9)]);
        f.lagMicroseconds[first] = c.at0;
        if (c.at90 != 0.0)
            f.lagMicroseconds[first + count / 4] = c.at90;
        std::vector<Warning> w;
        ASSERT_TRUE(checkItdPlausible(f, w));
        std::string all;
        for (const Warning& x : w)
        {
            EXPECT_EQ(x.code, "itd-implausible");
            all += x.text + "\n";
        }
        for (const std::string& text : c.texts)
            EXPECT_NE(all.find(text), std::string::npos) << all;

        // Onset differences only estimate what the responses carry: not judged.
        f.lagsAreOnsets = true;
        EXPECT_FALSE(checkItdPlausible(f, w));
    }
}

TEST(QualityChecks, SilentEarsAndLevelsAboveFullScale)
{
    const std::size_t length = 8;
    TargetFigures f;
    f.measurement = { 0, 1, 2 };
    std::vector<float> responses(3 * 2 * length, 0.0f);
    for (std::size_t k = 0; k < 3; ++k)
        for (int ear = 0; ear < 2; ++ear)
            responses[(k * 2 + static_cast<std::size_t>(ear)) * length + 2] = 0.9f;
    std::vector<Warning> w;
    EXPECT_FALSE(checkResponses(f, responses.data(), 3, length, w));
    EXPECT_TRUE(w.empty());

    responses[(1 * 2 + 1) * length + 2] = 0.0f;  // target 1's right ear silent
    responses[(2 * 2 + 0) * length + 5] = -8.0f;  // target 2: 18 dB above full scale
    ASSERT_TRUE(checkResponses(f, responses.data(), 3, length, w));
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].code, "response-silent");
    EXPECT_EQ(w[0].text, "1 of 3 targets have an ear whose response is all zeros; the first is target 1 (right ear, "
                         "measurement 1)");
    EXPECT_EQ(w[1].code, "level-high");
    EXPECT_EQ(w[1].text, "the largest sample is 8 (18.1 dB above full scale, limit 4) at target 2 (measurement 2); "
                         "the responses look unnormalised");
}

TEST(QualityChecks, OnsetDifferencesLeftMinusRight)
{
    const std::size_t length = 16;
    std::vector<float> responses(2 * 2 * length, 0.0f);
    responses[0 * length + 9] = 1.0f;   // target 0: left arrives at 9
    responses[1 * length + 3] = 0.5f;   // right at 3
    responses[2 * length + 1] = 0.01f;  // target 1: left noise 40 dB down, then the arrival at 4
    responses[2 * length + 4] = 1.0f;
    responses[3 * length + 4] = 1.0f;
    EXPECT_EQ(onsetDifferences(responses.data(), 2, length), (std::vector<std::int32_t> { 6, 0 }));
}

TEST(ReportPage, MagnitudeOfAnImpulseIsFlat)
{
    std::vector<float> impulse(8, 0.0f);
    impulse[3] = 0.5f;
    for (float db : magnitudeDb(impulse, 16))
        EXPECT_NEAR(db, -6.0206f, 1e-3f);
    EXPECT_EQ(magnitudeDb(impulse, 16).size(), 9u);
    EXPECT_FLOAT_EQ(magnitudeDb(std::vector<float>(8, 0.0f), 8)[2], -200.0f);
}
} // namespace
