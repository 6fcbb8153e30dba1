/* lzari_reference.h -- the LZARI codec read literally, as the oracle of the codec's tests and fuzz targets:
 * ring buffer, byte chains with removal by walking, linear model updates. Slow, and kept plain on purpose. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace ps2::test::lzari_ref {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t N = 4096, F = 60, THRESHOLD = 2, CODES = 314, NONE = 0xFFFF;
constexpr uint32_t Q1 = 0x8000, Q2 = 0x10000, Q3 = 0x18000, Q4 = 0x20000;

struct Model {
    uint32_t freq[CODES + 1], cum[CODES + 1], code_of[CODES + 1], rank_of[CODES], dcum[N + 1];
    Model()
    {
        for (uint32_t k = 1; k <= CODES; ++k) {
            code_of[k] = k - 1;
            rank_of[k - 1] = k;
            freq[k] = 1;
            cum[k] = CODES - k;
        }
        cum[0] = CODES;
        freq[0] = 0;
        dcum[N] = 0;
        for (uint32_t d = N; d >= 1; --d) dcum[d - 1] = dcum[d] + 10000 / (d + 200);
    }
    void update(uint32_t k)
    {
        if (cum[0] >= 32767) {
            uint32_t s = 0;
            for (uint32_t j = CODES; j >= 1; --j) {
                cum[j] = s;
                freq[j] = (freq[j] + 1) / 2;
                s += freq[j];
            }
            cum[0] = s;
        }
        uint32_t i = k;
        while (freq[i] == freq[i - 1]) --i;
        if (i < k) {
            std::swap(code_of[i], code_of[k]);
            rank_of[code_of[i]] = i;
            rank_of[code_of[k]] = k;
        }
        ++freq[i];
        for (uint32_t j = i; j-- > 0;) ++cum[j];
    }
};

inline Bytes encode(const Bytes& in, size_t capacity)
{
    Model m;
    Bytes out;
    uint32_t low = 0, high = Q4, pending = 0, bit_byte = 0, bit_count = 0;
    auto put = [&](uint32_t b) {
        bit_byte = (bit_byte * 2 + b) & 0xFF;
        if (++bit_count == 8) {
            bit_count = 0;
            if (out.size() < capacity) out.push_back(uint8_t(bit_byte));
        }
    };
    auto put_pending = [&](uint32_t b) {
        put(b);
        for (; pending; --pending) put(1 - b);
    };
    auto renormalise = [&] {
        for (;;) {
            if (high <= Q2) {
                put_pending(0);
            } else if (low >= Q2) {
                put_pending(1);
                low -= Q2;
                high -= Q2;
            } else if (low >= Q1 && high <= Q3) {
                ++pending;
                low -= Q1;
                high -= Q1;
            } else {
                break;
            }
            low *= 2;
            high *= 2;
        }
    };
    auto encode_code = [&](uint32_t c) {
        const uint32_t k = m.rank_of[c], range = high - low;
        high = low + range * m.cum[k - 1] / m.cum[0];
        low = low + range * m.cum[k] / m.cum[0];
        renormalise();
        m.update(k);
    };
    auto encode_distance = [&](uint32_t d) {
        const uint32_t range = high - low;
        high = low + range * m.dcum[d - 1] / m.dcum[0];
        low = low + range * m.dcum[d] / m.dcum[0];
        renormalise();
    };

    uint8_t ring[N];
    uint16_t links[N + 256];
    for (auto& l : links) l = NONE;
    for (uint32_t i = 0; i < N - F; ++i) ring[i] = 0x20;
    size_t next_in = 0;
    auto next_byte = [&]() -> uint8_t { return next_in < in.size() ? in[next_in++] : (next_in++, 0); };
    for (uint32_t i = N - F; i < N; ++i) ring[i] = next_byte();
    uint32_t r = N - F, s = 0;
    auto insert = [&](uint32_t p) {
        links[p] = links[N + ring[p]];
        links[N + ring[p]] = uint16_t(p);
    };
    auto remove = [&](uint32_t p) {
        links[p] = NONE;
        uint32_t at = N + ring[p];
        while (links[at] != NONE) {
            if (links[at] == p) {
                links[at] = NONE;
                break;
            }
            at = links[at];
        }
    };
    for (uint32_t p = N - 2 * F; p < N - F; ++p) insert(p);

    size_t coded = 0;
    while (coded < in.size()) {
        uint32_t len = 0, dist = 0;
        for (uint32_t p = links[N + ring[r]]; p != NONE; p = links[p]) {
            uint32_t l = 0;
            while (l < F && ring[(r + l) % N] == ring[(p + l) % N]) ++l;
            if (l < 3) continue;
            if (l == F) {
                len = F;
                dist = (r - p + N) % N;
                break;
            }
            if (l > len) {
                len = l;
                dist = (r - p + N) % N;
            }
        }
        if (coded + len > in.size()) len = uint32_t(in.size() - coded);
        if (len <= THRESHOLD) {
            encode_code(ring[r]);
            len = 1;
        } else {
            encode_code(len + 253);
            encode_distance(dist);
        }
        coded += len;
        for (uint32_t i = 0; i < len; ++i) {
            insert(r);
            remove(s);
            ring[s] = next_byte();
            r = (r + 1) % N;
            s = (s + 1) % N;
        }
    }
    ++pending;
    put_pending(low < Q1 ? 0 : 1);
    for (int i = 0; i < 7; ++i) put(0);
    return out;
}

inline Bytes decode(const Bytes& stream, size_t count)
{
    Model m;
    size_t pos = 0;
    uint32_t bit_byte = 0, bit_count = 0, low = 0, high = Q4, value = 0;
    auto get = [&]() -> uint32_t {
        if (bit_count == 0) {
            bit_count = 8;
            if (pos < stream.size()) bit_byte = stream[pos++];
        }
        --bit_count;
        return (bit_byte >> bit_count) & 1;
    };
    auto narrow = [&](const uint32_t* table, uint32_t j, uint32_t* rank) {
        const uint32_t range = high - low;
        const uint32_t x = ((value - low + 1) * table[0] - 1) / range;
        uint32_t i = 1;
        while (i < j) {
            const uint32_t mid = (i + j) / 2;
            if (table[mid] > x)
                i = mid + 1;
            else
                j = mid;
        }
        high = low + range * table[i - 1] / table[0];
        low = low + range * table[i] / table[0];
        for (;;) {
            if (low >= Q2) {
                value -= Q2;
                low -= Q2;
                high -= Q2;
            } else if (low >= Q1 && high <= Q3) {
                value -= Q1;
                low -= Q1;
                high -= Q1;
            } else if (high > Q2) {
                break;
            }
            low *= 2;
            high *= 2;
            value = value * 2 + get();
        }
        *rank = i;
    };
    for (int i = 0; i < 17; ++i) value = value * 2 + get();
    uint8_t ring[N];
    std::memset(ring, 0x20, N);
    uint32_t r = N - F;
    Bytes out;
    while (out.size() < count) {
        uint32_t k;
        narrow(m.cum, CODES, &k);
        const uint32_t c = m.code_of[k];
        m.update(k);
        if (c < 256) {
            out.push_back(uint8_t(c));
            ring[r] = uint8_t(c);
            r = (r + 1) % N;
            continue;
        }
        uint32_t d;
        narrow(m.dcum, N, &d);
        uint32_t start = (r - d + N) % N;
        for (uint32_t i = 0; i < c - 253; ++i) {
            const uint8_t b = ring[start];
            start = (start + 1) % N;
            if (out.size() < count) out.push_back(b);
            ring[r] = b;
            r = (r + 1) % N;
        }
    }
    return out;
}

} // namespace ps2::test::lzari_ref
