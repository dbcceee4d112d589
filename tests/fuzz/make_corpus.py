#!/usr/bin/env python3
"""Writes the replay corpus (tests/fuzz/corpus) from small CDL texts with ncgen.

Each file is a minimal SimpleFreeFieldHRIR set (4 measurements, 2 ears, 8
samples) bent at one point: the minimised form of an input that the fuzzers
found interesting. Classic netCDF keeps most files near 2 KB; the cases that
need netCDF-4 (strings, groups, huge declared dimensions without storage) are
written as netCDF-4.

    python3 tests/fuzz/make_corpus.py [OUT_DIR]
"""
import os
import subprocess
import sys
import tempfile

BASE = r'''netcdf base {
dimensions:
	I = 1 ;
	C = 3 ;
	M = 4 ;
	R = 2 ;
	E = 1 ;
	N = 8 ;
variables:
	double ListenerPosition(I, C) ;
		ListenerPosition:Type = "cartesian" ;
		ListenerPosition:Units = "metre" ;
	double ListenerUp(I, C) ;
	double ListenerView(I, C) ;
		ListenerView:Type = "cartesian" ;
		ListenerView:Units = "metre" ;
	double SourcePosition(M, C) ;
		SourcePosition:Type = "spherical" ;
		SourcePosition:Units = "degree, degree, metre" ;
	double ReceiverPosition(R, C, I) ;
		ReceiverPosition:Type = "cartesian" ;
		ReceiverPosition:Units = "metre" ;
	double EmitterPosition(E, C, I) ;
		EmitterPosition:Type = "cartesian" ;
		EmitterPosition:Units = "metre" ;
	double Data.IR(M, R, N) ;
	double Data.SamplingRate(I) ;
		Data.SamplingRate:Units = "hertz" ;
	double Data.Delay(I, R) ;

// global attributes:
		:Conventions = "SOFA" ;
		:Version = "2.1" ;
		:SOFAConventions = "SimpleFreeFieldHRIR" ;
		:SOFAConventionsVersion = "1.0" ;
		:DataType = "FIR" ;
		:RoomType = "free field" ;
		:Title = "t" ;
		:DateCreated = "2024-01-01" ;
		:DateModified = "2024-01-01" ;
		:APIName = "a" ;
		:APIVersion = "1" ;
		:AuthorContact = "a" ;
		:Organization = "o" ;
		:License = "l" ;
		:DatabaseName = "d" ;
		:ListenerShortName = "s" ;
data:
 ListenerPosition = 0, 0, 0 ;
 ListenerUp = 0, 0, 1 ;
 ListenerView = 1, 0, 0 ;
 SourcePosition = 0, 0, 1.2, 90, 0, 1.2, 180, 0, 1.2, 270, 0, 1.2 ;
 ReceiverPosition = 0, 0.09, 0, 0, -0.09, 0 ;
 EmitterPosition = 0, 0, 0 ;
 Data.IR = 1, 0.5, 0.25, 0, 0, 0, 0, 0,
    0, 1, 0.5, 0.25, 0, 0, 0, 0,
    0, 0, 1, 0.5, 0, 0, 0, 0,
    1, -0.5, 0.25, 0, 0, 0, 0, 0,
    0.2, 1, 0.5, 0, 0, 0, 0, 0,
    0, 0.3, 1, 0.5, 0, 0, 0, 0,
    1, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 1, 0, 0, 0, 0 ;
 Data.SamplingRate = 48000 ;
 Data.Delay = 0, 0 ;
}
'''

SOURCES = ' SourcePosition = 0, 0, 1.2, 90, 0, 1.2, 180, 0, 1.2, 270, 0, 1.2 ;'
IR_START = ' Data.IR = 1, 0.5, 0.25, 0, 0, 0, 0, 0,'
RATE = ' Data.SamplingRate = 48000 ;'


def ir(values):
    """Data.IR data for 4 x 2 x 8 values: the list repeated to fill it."""
    full = (values * 64)[:64]
    return ' Data.IR = ' + ', '.join(str(v) for v in full) + ' ;'


def without_ir_data(cdl):
    start = cdl.index(' Data.IR =')
    end = cdl.index(';', start) + 1
    return cdl[:start] + cdl[end:]


def replace(cdl, old, new):
    if old not in cdl:
        raise SystemExit('corpus: "%s" not in the base text' % old)
    return cdl.replace(old, new, 1)


def edit(*pairs):
    def apply(cdl):
        for old, new in pairs:
            cdl = replace(cdl, old, new)
        return cdl
    return apply


def with_ir(values):
    def apply(cdl):
        return without_ir_data(cdl).replace(' Data.SamplingRate =', ir(values) + '\n Data.SamplingRate =', 1)
    return apply


# A head on the horizontal ring: per measurement (azimuth 0, 90, 180, 270) the
# onsets of the left and right responses, in samples at 48 kHz, 256 samples
# each. From azimuth 90 (the left) the left ear hears the sound 27 samples
# earlier. 'onsets' stores the responses at their onsets; 'aligned' is its
# delay-free twin: every response at the start, its onset in Data.Delay (M, R).
ONSETS = [(20, 20), (10, 37), (21, 19), (37, 10)]
SHAPES = [(0.3, 1, -0.6, 0.25, -0.1), (0.2, 0.5, 0.4, -0.2, 0.05)]


def delay_pair(aligned):
    def apply(cdl):
        values, delays = [], []
        for m, onsets in enumerate(ONSETS):
            for r, onset in enumerate(onsets):
                start = 0 if aligned else onset
                response = [0.0] * 256
                for j, v in enumerate(SHAPES[r]):
                    response[start + j] = round(v * (1 + 0.1 * m), 6)
                values += response
                delays.append(onset if aligned else 0)
        cdl = replace(without_ir_data(cdl), 'N = 8 ;', 'N = 256 ;')
        cdl = replace(cdl, 'double Data.Delay(I, R)', 'double Data.Delay(M, R)')
        cdl = replace(cdl, ' Data.Delay = 0, 0 ;', ' Data.Delay = ' + ', '.join(str(d) for d in delays) + ' ;')
        return cdl.replace(' Data.SamplingRate =', ' Data.IR = ' + ', '.join('%g' % v for v in values)
                           + ' ;\n Data.SamplingRate =', 1)
    return apply


def chain(*edits):
    def apply(cdl):
        for e in edits:
            cdl = e(cdl)
        return cdl
    return apply


# name, format (nc3 = classic, nc4 = netCDF-4), edit of the base text
CASES = [
    # accepted
    ('accept-plain', 'nc3', edit()),
    ('accept-plain-netcdf4', 'nc4', edit()),
    ('accept-cartesian', 'nc3', edit(
        ('SourcePosition:Type = "spherical"', 'SourcePosition:Type = "cartesian"'),
        ('SourcePosition:Units = "degree, degree, metre"', 'SourcePosition:Units = "Meters"'),
        (SOURCES, ' SourcePosition = 1, 0, 0, 0, 1, 0, -1, -1, 0, 0, 0, 0 ;'))),
    ('accept-single-source-row', 'nc3', edit(
        ('double SourcePosition(M, C)', 'double SourcePosition(I, C)'),
        (SOURCES, ' SourcePosition = 30, 10, 1.2 ;'))),
    ('accept-one-sample', 'nc3', chain(edit(('N = 8 ;', 'N = 1 ;')), with_ir([1, -1, 0.5, 0.25, 0, 1, 3e-39, 1]))),
    ('accept-one-measurement', 'nc3', chain(
        edit(('M = 4 ;', 'M = 1 ;'), (SOURCES, ' SourcePosition = 0, 90, 1 ;')), with_ir([1, 0, 0, 0.5]))),
    ('accept-silent-responses', 'nc3', with_ir([0])),
    ('accept-denormal-responses', 'nc3', with_ir([1e-310, -4.9e-324, 1e-45, 0, -0.0, 1.2e-38, 1, 0])),
    ('mixed-largest-float-samples', 'nc3', with_ir([3.4028234663852886e38, 0, 0, 0, 0, 0, 0, 0])),
    ('accept-fractional-rate', 'nc3', edit((RATE, ' Data.SamplingRate = 48000.7 ;'))),
    ('accept-lowest-rate', 'nc3', edit((RATE, ' Data.SamplingRate = 1 ;'))),
    ('accept-huge-azimuths', 'nc3', edit((SOURCES, ' SourcePosition = 1e300, 0, 1, -1e300, 10, 1, 1e17, -10, 1, 720, 5, 1 ;'))),
    ('accept-poles-only', 'nc3', edit((SOURCES, ' SourcePosition = 0, 90, 1, 0, -90, 1, 45, 90, 1, 0, 90.0000000001, 1 ;'))),
    ('accept-horizontal-ring-far', 'nc3', edit((SOURCES, ' SourcePosition = 0, 0, 1e300, 90, 0, 0, 180, 0, -5, 270, 0, 1e-300 ;'))),
    ('accept-cartesian-origin', 'nc3', edit(
        ('SourcePosition:Type = "spherical"', 'SourcePosition:Type = "cartesian"'),
        ('SourcePosition:Units = "degree, degree, metre"', 'SourcePosition:Units = "metre"'),
        (SOURCES, ' SourcePosition = 0, 0, 0, 0, 0, 0, 1e-320, 0, 0, 0, 0, 1e-300 ;'))),
    ('accept-rate-per-measurement-one', 'nc3', chain(
        edit(('M = 4 ;', 'M = 1 ;'), ('Data.SamplingRate(I)', 'Data.SamplingRate(M)'),
             (SOURCES, ' SourcePosition = 0, 0, 1 ;')), with_ir([1, 0]))),
    ('accept-delays-onsets', 'nc3', delay_pair(False)),
    ('accept-delays-aligned', 'nc3', delay_pair(True)),
    # rejected by the converter's own checks
    ('reject-elevation-huge', 'nc3', edit((SOURCES, ' SourcePosition = 0, -45, 1.2, -0, 1e20, 2147483648., 1, -45, 1.2, 1.5, -45, 1.2 ;'))),
    ('reject-elevation-int-range', 'nc3', edit((SOURCES, ' SourcePosition = 0, 2147483648., 1, 90, -2147483649., 1, 180, 0, 1, 270, 0, 1 ;'))),
    ('reject-elevation-just-past-pole', 'nc3', edit((SOURCES, ' SourcePosition = 0, 0, 1, 90, 91, 1, 180, 0, 1, 270, 0, 1 ;'))),
    ('reject-position-nan', 'nc3', edit((SOURCES, ' SourcePosition = 0, 0, 1, NaN, 0, 1, 180, 0, 1, 270, 0, 1 ;'))),
    ('reject-cartesian-overflowing-distance', 'nc3', edit(
        ('SourcePosition:Type = "spherical"', 'SourcePosition:Type = "cartesian"'),
        ('SourcePosition:Units = "degree, degree, metre"', 'SourcePosition:Units = "metre"'),
        (SOURCES, ' SourcePosition = 1e300, 1e300, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0 ;'))),
    ('mixed-minphase-overflow', 'nc3', with_ir([3e38, -3e38])),
    ('mixed-minphase-overflow-fill-values', 'nc3', chain(without_ir_data, edit(
        ('\tdouble Data.IR(M, R, N) ;\n', '\tdouble Data.IR(M, R, N) ;\n\t\tData.IR:_FillValue = 3.e38 ;\n')))),
    ('reject-samples-nan', 'nc3', with_ir([1, 0, float('nan'), 0])),
    ('reject-samples-beyond-float', 'nc3', with_ir([1, 0, 0, 1e39])),
    ('reject-rate-nan', 'nc3', edit((RATE, ' Data.SamplingRate = NaN ;'))),
    ('reject-rate-zero', 'nc3', edit((RATE, ' Data.SamplingRate = 0 ;'))),
    ('reject-rate-negative', 'nc3', edit((RATE, ' Data.SamplingRate = -44100 ;'))),
    ('reject-rate-beyond-int', 'nc3', edit((RATE, ' Data.SamplingRate = 2147483648. ;'))),
    ('reject-rate-infinite', 'nc3', edit((RATE, ' Data.SamplingRate = Infinity ;'))),
    ('reject-one-receiver', 'nc3', chain(edit(
        ('R = 2 ;', 'R = 1 ;'), (' ReceiverPosition = 0, 0.09, 0, 0, -0.09, 0 ;', ' ReceiverPosition = 0, 0.09, 0 ;'),
        (' Data.Delay = 0, 0 ;', ' Data.Delay = 0 ;')), with_ir([1, 0, 0, 0]))),
    ('reject-three-receivers', 'nc3', chain(edit(
        ('R = 2 ;', 'R = 3 ;'), (' ReceiverPosition = 0, 0.09, 0, 0, -0.09, 0 ;', ' ReceiverPosition = 0, 0.09, 0, 0, -0.09, 0, 0, 0, 0 ;'),
        (' Data.Delay = 0, 0 ;', ' Data.Delay = 0, 0, 0 ;')), with_ir([1, 0, 0, 0]))),
    # declared sizes far beyond the stored data: netCDF-4 stores nothing for them
    ('reject-data-too-large', 'nc4', chain(edit(
        ('M = 4 ;', 'M = 2147483647 ;'), ('double SourcePosition(M, C)', 'double SourcePosition(I, C)'),
        (SOURCES, ' SourcePosition = 0, 0, 1 ;')), without_ir_data)),
    ('reject-too-many-measurements', 'nc4', chain(edit(
        ('M = 4 ;', 'M = 134217728 ;'), ('N = 8 ;', 'N = 1 ;'), ('double SourcePosition(M, C)', 'double SourcePosition(I, C)'),
        (SOURCES, ' SourcePosition = 0, 0, 1 ;')), without_ir_data)),
    ('reject-set-too-large', 'nc4', chain(edit(
        ('M = 4 ;', 'M = 1 ;'), ('N = 8 ;', 'N = 67108864 ;'), (SOURCES, ' SourcePosition = 0, 0, 1 ;')),
        without_ir_data)),
    ('reject-dimension-beyond-int', 'nc4', chain(edit(('M = 4 ;', 'M = 2147483648 ;'),
        ('double SourcePosition(M, C)', 'double SourcePosition(I, C)'), (SOURCES, ' SourcePosition = 0, 0, 1 ;')),
        without_ir_data)),
    # rejected by the SOFA rules
    ('reject-conventions-with-nul', 'nc3', edit((':Conventions = "SOFA" ;', ':Conventions = "SOFA\\000" ;'))),
    ('reject-conventions-as-string', 'nc4', edit((':Conventions = "SOFA" ;', 'string :Conventions = "SOFA" ;'))),
    ('reject-conventions-as-number', 'nc3', edit((':Conventions = "SOFA" ;', ':Conventions = 1. ;'))),
    ('reject-database-name-as-number', 'nc3', edit((':DatabaseName = "d" ;', ':DatabaseName = 0 ;'))),
    ('reject-datatype-fire-layout', 'nc3', edit((':DataType = "FIR" ;', ':DataType = "FIRE" ;'))),
    ('reject-room-type-hyphen', 'nc3', edit((':RoomType = "free field" ;', ':RoomType = "free-field" ;'))),
    ('reject-rate-per-measurement', 'nc3', edit(('Data.SamplingRate(I)', 'Data.SamplingRate(M)'),
                                                (RATE, ' Data.SamplingRate = 48000, 48000, 44100, 48000 ;'))),
    ('reject-rate-units-hz', 'nc3', edit(('Data.SamplingRate:Units = "hertz"', 'Data.SamplingRate:Units = "Hz"'))),
    ('reject-ir-as-float', 'nc3', edit(('double Data.IR(M, R, N)', 'float Data.IR(M, R, N)'))),
    ('reject-source-type-capital', 'nc3', edit(('SourcePosition:Type = "spherical"', 'SourcePosition:Type = "Spherical"'))),
    ('reject-source-rows-mismatch', 'nc3', edit(('double SourcePosition(M, C)', 'double SourcePosition(R, C)'),
                                               (SOURCES, ' SourcePosition = 0, 0, 1, 90, 0, 1 ;'))),
    ('reject-no-emitter-dimension', 'nc3', edit(
        ('\tE = 1 ;\n', ''), ('\tdouble EmitterPosition(E, C, I) ;\n\t\tEmitterPosition:Type = "cartesian" ;\n'
                              '\t\tEmitterPosition:Units = "metre" ;\n', ''), (' EmitterPosition = 0, 0, 0 ;\n', ''))),
    ('reject-listener-up-missing', 'nc3', edit(('\tdouble ListenerUp(I, C) ;\n', ''), (' ListenerUp = 0, 0, 1 ;\n', ''))),
    ('reject-data-in-subgroup-only', 'nc4', lambda cdl: without_ir_data(cdl).replace(
        '\tdouble Data.IR(M, R, N) ;\n', '').replace('\n}\n', '\ngroup: Sub {\n  variables:\n\tdouble Data.IR(M, R, N) ;\n  }\n}\n')),
]

RAW = [
    ('reject-empty-file', b''),
    ('reject-text-file', b'This is not a SOFA file.\n'),
    ('reject-hdf5-signature-only', b'\x89HDF\r\n\x1a\n' + bytes(56)),
    ('reject-classic-header-only', b'CDF\x01' + bytes(28)),
]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for name, kind, change in CASES:
            cdl = os.path.join(tmp, name + '.cdl')
            with open(cdl, 'w') as f:
                f.write(change(BASE))
            subprocess.run(['ncgen', '-k', kind, '-o', os.path.join(out, name + '.sofa'), cdl], check=True)
    for name, data in RAW:
        with open(os.path.join(out, name + '.sofa'), 'wb') as f:
            f.write(data)
    # A netCDF-4 file cut short: the HDF5 library meets the end of the file.
    with open(os.path.join(out, 'accept-plain-netcdf4.sofa'), 'rb') as f:
        whole = f.read()
    with open(os.path.join(out, 'reject-netcdf4-truncated.sofa'), 'wb') as f:
        f.write(whole[:len(whole) // 2])
    with open(os.path.join(out, 'accept-plain.sofa'), 'rb') as f:
        whole = f.read()
    with open(os.path.join(out, 'reject-classic-truncated.sofa'), 'wb') as f:
        f.write(whole[:len(whole) - 100])


if __name__ == '__main__':
    main()
