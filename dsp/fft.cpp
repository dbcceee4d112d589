#include "dsp/fft.h"

#include "batch/Log.h"

#include <algorithm>
#include <cmath>
#include <forward_list>
#include <new>
#include <utility>

namespace
{

constexpr double kPi = 3.141592653589793;

// One cached twiddle table. The list is the cache (newest first); it is a
// static owner so the tables live until the program ends.
struct TwiddleNode
{
    std::int32_t size = 0;
    FftBlock table;
};

std::forward_list<TwiddleNode>& twiddleCache()
{
    static std::forward_list<TwiddleNode> cache;
    return cache;
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

// Radix-2 decimation in frequency over m complex values (z interleaved), in
// place; the result is in bit-reversed order. table holds 2m complex entries
// and is read with a stride that doubles per stage.
void fft_complex(float* z, std::int32_t m, const float* table)
{
    std::int32_t span = m;
    std::int32_t stride = 1;
    while (stride < m)
    {
        const std::int32_t half = span / 2;
        stride *= 2;
        for (std::int32_t i = 0; i < half; ++i)
        {
            const double wr = table[2 * static_cast<std::size_t>(i) * stride];
            const double wi = table[2 * static_cast<std::size_t>(i) * stride + 1];
            for (std::int32_t idx = i; idx < m; idx += span)
            {
                float* p = z + 2 * static_cast<std::size_t>(idx);
                float* q = z + 2 * static_cast<std::size_t>(idx + half);
                const float pr = p[0], pi = p[1], qr = q[0], qi = q[1];
                p[0] = pr + qr;
                p[1] = pi + qi;
                const float dr = pr - qr;
                const float di = pi - qi;
                q[0] = static_cast<float>(dr * wr - di * wi);
                q[1] = static_cast<float>(dr * wi + di * wr);
            }
        }
        span = half;
    }
}

void fft_bitrev(float* z, std::int32_t m)
{
    std::int32_t j = 0;
    for (std::int32_t i = 0; i < m - 1; ++i)
    {
        if (i < j)
        {
            std::swap(z[2 * static_cast<std::size_t>(i)], z[2 * static_cast<std::size_t>(j)]);
            std::swap(z[2 * static_cast<std::size_t>(i) + 1], z[2 * static_cast<std::size_t>(j) + 1]);
        }
        std::int32_t k = m / 2;
        while (k <= j)
        {
            j -= k;
            k /= 2;
        }
        j += k;
    }
}

// Turns the half-length complex transform into the real one (direction +1) or
// back (-1). z holds n complex values; table is the twiddle table of size n.
void fft_split(float* z, std::int32_t n, int direction, const float* table)
{
    const std::size_t nyquist = static_cast<std::size_t>(n) / 2;
    if (direction == 1)
    {
        z[2 * nyquist] = z[0];
        z[2 * nyquist + 1] = z[1];
    }
    const std::size_t quarter = static_cast<std::size_t>(n) / 4;
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
}

// Forward real transform: the first n floats of z (n complex values of room)
// are the samples; afterwards z holds X[0] .. X[n-1].
void fft_real_full(float* z, std::int32_t n, const float* table)
{
    if (n < 4)
        return;
    fft_complex(z, n / 2, table);
    fft_bitrev(z, n / 2);
    fft_split(z, n, 1, table);
}

// Inverse real transform from X[0] .. X[n/2]; afterwards the first n floats of
// z are the samples.
void fft_real_inverse_full(float* z, std::int32_t n, const float* table)
{
    if (n < 4)
        return;
    fft_split(z, n, -1, table);
    const float scale = 2.0f / static_cast<float>(n);
    for (std::size_t k = 0; k <= static_cast<std::size_t>(n) / 2; ++k)
    {
        z[2 * k] = z[2 * k] * scale;
        z[2 * k + 1] = -z[2 * k + 1] * scale;
    }
    fft_complex(z, n / 2, table);
    fft_bitrev(z, n / 2);
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) / 2; ++k)
        z[2 * k + 1] = -z[2 * k + 1];
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
    if (n < 1)
        return nullptr;
    auto& cache = twiddleCache();
    for (const TwiddleNode& node : cache)
    {
        if (node.size == n)
        {
            if (node.table)
                return node.table.get();
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
        cache.push_front(TwiddleNode { n, std::move(table) });
    }
    catch (const std::bad_alloc&)
    {
        reportAllocationFailure(sizeof(TwiddleNode));
        return nullptr;
    }
    return cache.front().table.get();
}

std::size_t fft_cacheNodeCount()
{
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
    const std::int32_t n = plan.n;
    if (!isTransformSize(n) || x == nullptr)
        return;
    const float* table = fft_twiddles(n);
    if (!table)
        return;
    const std::size_t count = static_cast<std::size_t>(n);
    FftBlock scratch = fft_alloc(2 * count * sizeof(float));
    if (!scratch)
        return;
    std::fill(scratch.get(), scratch.get() + 2 * count, 0.0f);
    std::copy(x, x + count, scratch.get());
    fft_real_full(scratch.get(), n, table);
    std::copy(scratch.get(), scratch.get() + count, x);
    x[1] = scratch[count];  // Re X[n/2] in place of the DC's zero imaginary part
}

void fft_inverse(const fft_plan& plan, float* x)
{
    const std::int32_t n = plan.n;
    if (!isTransformSize(n) || x == nullptr)
        return;
    const float* table = fft_twiddles(n);
    if (!table)
        return;
    const std::size_t count = static_cast<std::size_t>(n);
    FftBlock scratch = fft_alloc(2 * count * sizeof(float));
    if (!scratch)
        return;
    float* z = scratch.get();
    std::fill(z, z + 2 * count, 0.0f);
    for (std::size_t k = 1; k < count / 2; ++k)
    {
        z[2 * k] = x[2 * k];
        z[2 * k + 1] = x[2 * k + 1];
        z[2 * (count - k)] = x[2 * k];
        z[2 * (count - k) + 1] = -x[2 * k + 1];
    }
    z[0] = x[0];
    z[count] = x[1];  // complex index n/2
    fft_real_inverse_full(z, n, table);
    std::copy(z, z + count, x);
}
