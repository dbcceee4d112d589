#include "dsp/fft.h"

#include "batch/messages/Log.h"
#include "dsp/pi.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <forward_list>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if defined(__SSE2__) && !defined(QUILLON_FFT_SCALAR)
#include <emmintrin.h>
#endif

namespace
{

// One cached twiddle table. The list is the cache (newest first); it is a
// static owner so the tables live until the program ends.
struct TwiddleNode
{
    std::int32_t size = 0;
    FftBlock table;
    // The exchanges of the bit-reversal permutation of size/2 complex values,
    // as (i, j) pairs in the order the permutation loop meets them.
    std::vector<std::uint32_t> exchanges;
};

std::forward_list<TwiddleNode>& twiddleCache()
{
    static std::forward_list<TwiddleNode> cache;
    return cache;
}

std::mutex& twiddleCacheLock()
{
    static std::mutex lock;
    return lock;
}

bool isTransformSize(std::int32_t n)
{
    return n >= 4 && (n & (n - 1)) == 0;
}

void reportAllocationFailure(std::size_t bytes)
{
    if (logLevel >= 1)
        logPrintf("fft.c", "can't allocate %zu bytes", bytes);
}

// One butterfly: p, q = p + q, (p - q) * w, the sums and differences in single
// precision, the product with the twiddle in double, rounded back to single.
#if defined(__SSE2__) && !defined(QUILLON_FFT_SCALAR)
// Both halves of a complex value per instruction. The real part is formed as
// dr*wr + (di*-wi), which IEEE arithmetic makes identical to dr*wr - di*wi, and
// the imaginary part as di*wr + dr*wi, identical to dr*wi + di*wr.
struct Twiddle
{
    __m128d real;        // (wr, wr)
    __m128d imagSigned;  // (-wi, wi)
};

inline Twiddle makeTwiddle(double wr, double wi)
{
    return { _mm_set1_pd(wr), _mm_set_pd(wi, -wi) };
}

inline void butterfly(float* p, float* q, const Twiddle& w)
{
    const __m128 pv = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
    const __m128 qv = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(q));
    _mm_storel_pi(reinterpret_cast<__m64*>(p), _mm_add_ps(pv, qv));
    const __m128d d = _mm_cvtps_pd(_mm_sub_ps(pv, qv));
    const __m128d swapped = _mm_shuffle_pd(d, d, 1);
    const __m128d product = _mm_add_pd(_mm_mul_pd(d, w.real), _mm_mul_pd(swapped, w.imagSigned));
    _mm_storel_pi(reinterpret_cast<__m64*>(q), _mm_cvtpd_ps(product));
}

// (p - q) * w for one complex value held in the low two floats of d.
inline __m128d twiddled(__m128 d, const Twiddle& w)
{
    const __m128d wide = _mm_cvtps_pd(d);
    const __m128d swapped = _mm_shuffle_pd(wide, wide, 1);
    return _mm_add_pd(_mm_mul_pd(wide, w.real), _mm_mul_pd(swapped, w.imagSigned));
}

// Two butterflies on the values p0, p1 (low and high half of p) against q0,
// q1 with twiddles w0 and w1; the same operations as butterfly() in each.
inline void butterflyPair(__m128 p, __m128 q, const Twiddle& w0, const Twiddle& w1, __m128& sums, __m128& products)
{
    sums = _mm_add_ps(p, q);
    const __m128 d = _mm_sub_ps(p, q);
    products = _mm_movelh_ps(_mm_cvtpd_ps(twiddled(d, w0)), _mm_cvtpd_ps(twiddled(_mm_movehl_ps(d, d), w1)));
}
#else
struct Twiddle
{
    double wr;
    double wi;
};

inline Twiddle makeTwiddle(double wr, double wi)
{
    return { wr, wi };
}

inline void butterfly(float* p, float* q, const Twiddle& w)
{
    const float pr = p[0], pi = p[1], qr = q[0], qi = q[1];
    p[0] = pr + qr;
    p[1] = pi + qi;
    const float dr = pr - qr;
    const float di = pi - qi;
    q[0] = static_cast<float>(dr * w.wr - di * w.wi);
    q[1] = static_cast<float>(dr * w.wi + di * w.wr);
}
#endif

// Radix-2 decimation in frequency over m complex values (z interleaved), in
// place; the result is in bit-reversed order. table holds 2m complex entries
// and is read with a stride that doubles per stage.
void fft_complex(float* z, std::int32_t m, const float* table)
{
    const auto twiddle = [table](std::int32_t i, std::int32_t stride) {
        return makeTwiddle(table[2 * static_cast<std::size_t>(i) * stride],
                           table[2 * static_cast<std::size_t>(i) * stride + 1]);
    };
    std::int32_t span = m;
    std::int32_t stride = 1;
    while (stride < m)
    {
        const std::int32_t half = span / 2;
        stride *= 2;
        std::int32_t i = 0;
#if defined(__SSE2__) && !defined(QUILLON_FFT_SCALAR)
        // Neighbouring butterflies i and i+1 together (their values are adjacent).
        for (; i + 1 < half; i += 2)
        {
            const Twiddle w0 = twiddle(i, stride), w1 = twiddle(i + 1, stride);
            for (std::int32_t idx = i; idx < m; idx += span)
            {
                float* p = z + 2 * static_cast<std::size_t>(idx);
                float* q = z + 2 * static_cast<std::size_t>(idx + half);
                __m128 sums, products;
                butterflyPair(_mm_loadu_ps(p), _mm_loadu_ps(q), w0, w1, sums, products);
                _mm_storeu_ps(p, sums);
                _mm_storeu_ps(q, products);
            }
        }
        // The last stage (half = 1): each butterfly is a pair of neighbours;
        // two such pairs are taken apart and done together.
        if (half == 1 && m >= 4)
        {
            const Twiddle w = twiddle(0, stride);
            for (std::int32_t idx = 0; idx + 3 < m; idx += 4)
            {
                float* block = z + 2 * static_cast<std::size_t>(idx);
                const __m128 first = _mm_loadu_ps(block);       // p0 q0
                const __m128 second = _mm_loadu_ps(block + 4);  // p1 q1
                __m128 sums, products;
                butterflyPair(_mm_movelh_ps(first, second), _mm_movehl_ps(second, first), w, w, sums, products);
                _mm_storeu_ps(block, _mm_movelh_ps(sums, products));
                _mm_storeu_ps(block + 4, _mm_movehl_ps(products, sums));
            }
            i = half;
        }
#endif
        for (; i < half; ++i)
        {
            const Twiddle w = twiddle(i, stride);
            for (std::int32_t idx = i; idx < m; idx += span)
                butterfly(z + 2 * static_cast<std::size_t>(idx), z + 2 * static_cast<std::size_t>(idx + half), w);
        }
        span = half;
    }
}

// j = 0; for i = 0 .. m-2: exchange z[i] and z[j] when i < j, then step j
// to the bit reverse of i + 1. The exchanges depend on m only.
std::vector<std::uint32_t> bitReversalExchanges(std::int32_t m)
{
    std::vector<std::uint32_t> exchanges;
    std::int32_t j = 0;
    for (std::int32_t i = 0; i < m - 1; ++i)
    {
        if (i < j)
        {
            exchanges.push_back(static_cast<std::uint32_t>(i));
            exchanges.push_back(static_cast<std::uint32_t>(j));
        }
        std::int32_t k = m / 2;
        while (k <= j)
        {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    return exchanges;
}

void fft_bitrev(float* z, const std::vector<std::uint32_t>& exchanges)
{
    for (std::size_t e = 0; e < exchanges.size(); e += 2)
    {
        // One complex value (two floats) moved as one 8-byte word.
        float* a = z + 2 * static_cast<std::size_t>(exchanges[e]);
        float* b = z + 2 * static_cast<std::size_t>(exchanges[e + 1]);
        std::uint64_t wordA, wordB;
        std::memcpy(&wordA, a, sizeof wordA);
        std::memcpy(&wordB, b, sizeof wordB);
        std::memcpy(a, &wordB, sizeof wordB);
        std::memcpy(b, &wordA, sizeof wordA);
    }
}

// Turns the half-length complex transform into the real one (direction +1) or
// back (-1). z holds n complex values; table is the twiddle table of size n.
//   new z[j] = (Re B·h - Im B·l + Re A·g - Im A·l,  -Re B·l - Im B·h + Im A·g + Re A·l)
//   new z[r] = (Re A·h + Im A·l + Im B'·l + Re B'·g,  Im B'·g - Re B'·l - Im A·h + Re A·l)
// with A the old z[j], B the old z[r] and B' the z[r] read again after z[j] was
// written (the new z[j] itself at j = n/4), each sum taken from left to right.
void fft_split(float* z, std::int32_t n, int direction, const float* table)
{
    const std::size_t nyquist = static_cast<std::size_t>(n) / 2;
    if (direction == 1)
    {
        z[2 * nyquist] = z[0];
        z[2 * nyquist + 1] = z[1];
    }
    const std::size_t quarter = static_cast<std::size_t>(n) / 4;
#if defined(__SSE2__) && !defined(QUILLON_FFT_SCALAR)
    // Real and imaginary parts side by side. A difference x - y is formed as
    // x + (-y) and a product with a negated factor as the negated product, which
    // IEEE arithmetic makes identical, so every lane sees the scalar sequence.
    const __m128 conjugateMask = _mm_castsi128_ps(_mm_set_epi32(0, 0, static_cast<int>(0x80000000u), 0));
    const __m128d highSign = _mm_set_pd(-0.0, 0.0);
    for (std::size_t j = 0; j <= quarter; ++j)
    {
        const std::size_t r = nyquist - j;
        const double wr = table[2 * j], wi = table[2 * j + 1];
        const double g = (1.0 + wi) / 2.0;
        const double h = 1.0 - g;
        const double l = -direction * wr / 2.0;

        const __m128d a = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(z + 2 * j)));
        const __m128d b = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(z + 2 * r)));
        // lanes (Re, Im): ((B.re·(h, l) with Im negated) - B.im·(l, h)) + A·g + (A.im, A.re)·(-l, l)
        const __m128d bRe = _mm_unpacklo_pd(b, b);
        const __m128d bIm = _mm_unpackhi_pd(b, b);
        __m128d sum = _mm_mul_pd(_mm_xor_pd(bRe, highSign), _mm_set_pd(l, h));
        sum = _mm_sub_pd(sum, _mm_mul_pd(bIm, _mm_set_pd(h, l)));
        sum = _mm_add_pd(sum, _mm_mul_pd(a, _mm_set1_pd(g)));
        sum = _mm_add_pd(sum, _mm_mul_pd(_mm_shuffle_pd(a, a, 1), _mm_set_pd(l, -l)));
        const __m128 newJ = _mm_cvtpd_ps(sum);
        _mm_storel_pi(reinterpret_cast<__m64*>(z + 2 * j), newJ);
        if (j > 0)
            _mm_storel_pi(reinterpret_cast<__m64*>(z + 2 * (n - j)), _mm_xor_ps(newJ, conjugateMask));

        const __m128d b2 = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(z + 2 * r)));
        // lanes: (A.re, B'.im)·(h, g) + (A.im, B'.re)·(l, -l) + (B'.im, A.im)·(l, -h) + (B'.re, A.re)·(g, l)
        __m128d sumR = _mm_mul_pd(_mm_shuffle_pd(a, b2, 2), _mm_set_pd(g, h));
        sumR = _mm_add_pd(sumR, _mm_mul_pd(_mm_shuffle_pd(a, b2, 1), _mm_xor_pd(_mm_set1_pd(l), highSign)));
        sumR = _mm_add_pd(sumR, _mm_mul_pd(_mm_shuffle_pd(b2, a, 3), _mm_set_pd(-h, l)));
        sumR = _mm_add_pd(sumR, _mm_mul_pd(_mm_unpacklo_pd(b2, a), _mm_set_pd(l, g)));
        const __m128 newR = _mm_cvtpd_ps(sumR);
        _mm_storel_pi(reinterpret_cast<__m64*>(z + 2 * r), newR);
        if (j > 0)
            _mm_storel_pi(reinterpret_cast<__m64*>(z + 2 * (nyquist + j)), _mm_xor_ps(newR, conjugateMask));
    }
#else
    for (std::size_t j = 0; j <= quarter; ++j)
    {
        const std::size_t r = nyquist - j;
        const double ar = z[2 * j], ai = z[2 * j + 1];
        const double wr = table[2 * j], wi = table[2 * j + 1];
        const double g = (1.0 + wi) / 2.0;
        const double h = 1.0 - g;
        const double l = -direction * wr / 2.0;

        const double br = z[2 * r], bi = z[2 * r + 1];
        const float newJr = static_cast<float>(br * h - bi * l + ar * g - ai * l);
        const float newJi = static_cast<float>(-br * l - bi * h + ai * g + ar * l);
        z[2 * j] = newJr;
        z[2 * j + 1] = newJi;
        if (j > 0)
        {
            z[2 * (n - j)] = newJr;
            z[2 * (n - j) + 1] = -newJi;
        }

        // Read again: at j = n/4, r == j and this is the value just written.
        const double br2 = z[2 * r], bi2 = z[2 * r + 1];
        const float newRr = static_cast<float>(ar * h + ai * l + bi2 * l + br2 * g);
        const float newRi = static_cast<float>(bi2 * g - br2 * l - ai * h + ar * l);
        z[2 * r] = newRr;
        z[2 * r + 1] = newRi;
        if (j > 0)
        {
            z[2 * (nyquist + j)] = newRr;
            z[2 * (nyquist + j) + 1] = -newRi;
        }
    }
#endif
}

// Forward real transform: the first n floats of z (n complex values of room)
// are the samples; afterwards z holds X[0] .. X[n-1].
void fft_real_full(float* z, std::int32_t n, const TwiddleNode& node)
{
    if (n < 4)
        return;
    const float* table = node.table.get();
    fft_complex(z, n / 2, table);
    fft_bitrev(z, node.exchanges);
    fft_split(z, n, 1, table);
}

// Inverse real transform from X[0] .. X[n/2]; afterwards the first n floats of
// z are the samples.
void fft_real_inverse_full(float* z, std::int32_t n, const TwiddleNode& node)
{
    if (n < 4)
        return;
    const float* table = node.table.get();
    fft_split(z, n, -1, table);
    const float scale = 2.0f / static_cast<float>(n);
    for (std::size_t k = 0; k <= static_cast<std::size_t>(n) / 2; ++k)
    {
        z[2 * k] = z[2 * k] * scale;
        z[2 * k + 1] = -z[2 * k + 1] * scale;
    }
    fft_complex(z, n / 2, table);
    fft_bitrev(z, node.exchanges);
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) / 2; ++k)
        z[2 * k + 1] = -z[2 * k + 1];
}

// Scratch of 2n floats for one transform. Blocks up to kKeptScratchFloats are
// kept per thread and reused by later transforms; larger ones live for the call.
constexpr std::size_t kKeptScratchFloats = std::size_t(1) << 17;

class Scratch
{
public:
    explicit Scratch(std::size_t floats)
    {
        thread_local FftBlock kept;
        thread_local std::size_t keptFloats = 0;
        if (floats <= keptFloats)
        {
            block = kept.get();
            return;
        }
        FftBlock fresh = fft_alloc(floats * sizeof(float));
        if (!fresh)
            return;
        if (floats <= kKeptScratchFloats)
        {
            kept = std::move(fresh);
            keptFloats = floats;
            block = kept.get();
        }
        else
        {
            own = std::move(fresh);
            block = own.get();
        }
    }

    float* get() const { return block; }

private:
    FftBlock own;
    float* block = nullptr;
};

// The cache node of size n, made on first use; nullptr when n < 1 or memory
// ran out (reported). Transforms may run on two threads at once: the cache
// is looked up and grown under one lock (the nodes, once made, never change).
const TwiddleNode* twiddleNode(std::int32_t n)
{
    if (n < 1)
        return nullptr;
    const std::lock_guard<std::mutex> lock(twiddleCacheLock());
    auto& cache = twiddleCache();
    for (const TwiddleNode& node : cache)
    {
        if (node.size == n)
        {
            if (node.table)
                return &node;
            break;
        }
    }

    const std::size_t count = static_cast<std::size_t>(n);
    FftBlock table = fft_alloc(2 * count * sizeof(float));
    if (!table)
        return nullptr;
    for (std::size_t i = 0; i < count; ++i)
    {
        const double angle = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
        table[2 * i] = static_cast<float>(std::cos(angle));
        table[2 * i + 1] = static_cast<float>(-std::sin(angle));
    }

    try
    {
        cache.push_front(TwiddleNode { n, std::move(table), bitReversalExchanges(n / 2) });
    }
    catch (const std::bad_alloc&)
    {
        reportAllocationFailure(sizeof(TwiddleNode));
        return nullptr;
    }
    return &cache.front();
}

// Runs transform(z, n, count, node) with the cache node of the plan's size
// and a scratch block z of 2n floats; does nothing when the size is out of
// range, x is missing or memory ran out.
template <typename Transform>
void withTransformScratch(const fft_plan& plan, float* x, Transform transform)
{
    const std::int32_t n = plan.n;
    if (!isTransformSize(n) || x == nullptr)
        return;
    const TwiddleNode* node = twiddleNode(n);
    if (node == nullptr)
        return;
    const std::size_t count = static_cast<std::size_t>(n);
    const Scratch scratch(2 * count);
    if (scratch.get() == nullptr)
        return;
    transform(scratch.get(), n, count, *node);
}

}  // namespace

std::int32_t nextPowerOfTwo(std::int32_t n)
{
    std::int32_t p = 1;
    for (int doublings = 0; doublings < 30 && p < n; ++doublings)
        p *= 2;
    return p;
}

FftBlock fft_alloc(std::size_t bytes)
{
    FftBlock block(static_cast<float*>(std::malloc(bytes == 0 ? 1 : bytes)));
    if (!block)
        reportAllocationFailure(bytes);
    return block;
}

const float* fft_twiddles(std::int32_t n)
{
    const TwiddleNode* node = twiddleNode(n);
    return node != nullptr ? node->table.get() : nullptr;
}

std::size_t fft_cacheNodeCount()
{
    const std::lock_guard<std::mutex> lock(twiddleCacheLock());
    const auto& cache = twiddleCache();
    return static_cast<std::size_t>(std::distance(cache.begin(), cache.end()));
}

std::unique_ptr<fft_plan> fft_create(std::int32_t n)
{
    auto plan = std::make_unique<fft_plan>();
    plan->n = n;
    if (isTransformSize(n))
        fft_twiddles(n);
    return plan;
}

void fft_destroy(std::unique_ptr<fft_plan>& plan)
{
    plan.reset();
}

void fft_forward(const fft_plan& plan, float* x)
{
    withTransformScratch(plan, x, [x](float* z, std::int32_t n, std::size_t count, const TwiddleNode& node) {
        // The upper half needs no zeros: the split step writes z[n/2] before it
        // reads it and only writes the values above.
        std::copy(x, x + count, z);
        fft_real_full(z, n, node);
        std::copy(z, z + count, x);
        x[1] = z[count];  // Re X[n/2] in place of the DC's zero imaginary part
    });
}

void fft_inverse(const fft_plan& plan, float* x)
{
    withTransformScratch(plan, x, [x](float* z, std::int32_t n, std::size_t count, const TwiddleNode& node) {
        // X[0] .. X[n/2]; the inverse reads nothing above X[n/2], so the conjugate
        // half is not filled in.
        std::copy(x + 2, x + count, z + 2);
        z[0] = x[0];
        z[1] = 0.0f;
        z[count] = x[1];  // complex index n/2
        z[count + 1] = 0.0f;
        fft_real_inverse_full(z, n, node);
        std::copy(z, z + count, x);
    });
}
