// exp2, log2, division and square root written once over a lane type `L`, so that the scalar
// build (exact_math.cpp) and the AVX2 rows (fast_fire_avx2.cpp) perform the same operations in
// the same order and round alike. fire_field.hlsli spells out the same sequences.
//
// Include this only from inside an anonymous namespace: each instruction set compiles its own
// copy.
//
// What L provides besides the float operations of fast_fire_rows.h (F floats, M masks,
// U 32-bit unsigned lanes): AsBits(F) -> U, FromBits(U) -> F, USet, UAdd, USub, UShiftLeft,
// UShiftRight (logical, by a constant below 32), UAnd, UOr, ToFloat(U as a signed integer of
// magnitude below 2^24, exact), ToInt(F holding a whole number, exact) -> U.

template <class L>
struct ExactLanes {
    using F = typename L::F;
    using U = typename L::U;

    // The two halves of a: hi holds its upper 12 significant bits, hi + lo = a exactly
    // (Veltkamp's split; |a| < 2^115).
    [[gnu::always_inline]] static void Split(F a, F* hi, F* lo) {
        const F c = L::Mul(L::Set(4097.0f), a);
        *hi = L::Sub(c, L::Sub(c, a));
        *lo = L::Sub(a, *hi);
    }

    // a * b - product(a * b) exactly, without a fused multiply-add (Dekker).
    [[gnu::always_inline]] static F ProductError(F a, F b, F product) {
        F ah, al, bh, bl;
        Split(a, &ah, &al);
        Split(b, &bh, &bl);
        const F e = L::Add(L::Add(L::Sub(L::Mul(ah, bh), product), L::Mul(ah, bl)), L::Mul(al, bh));
        return L::Add(e, L::Mul(al, bl));
    }

    // 1 / b for b > 0: a first guess from the bits (within 12 %), four Newton steps.
    [[gnu::always_inline]] static F Reciprocal(F b) {
        F y = L::FromBits(L::USub(L::USet(0x7EF311C3u), L::AsBits(b)));
        const F one = L::Set(1.0f);
        for (int step = 0; step < 4; ++step) {
            const F e = L::Sub(one, L::Mul(b, y));
            y = L::Add(y, L::Mul(y, e));
        }
        return y;
    }

    [[gnu::always_inline]] static F Div(F a, F b) {
        const F y = Reciprocal(b);
        const F q = L::Mul(a, y);
        const F p = L::Mul(q, b);
        const F residual = L::Sub(L::Sub(a, p), ProductError(q, b, p));
        return L::Add(q, L::Mul(residual, y));
    }

    // For v >= 0: 1/sqrt(v) from the bits (within 3.5 %), three Newton steps, then s = v y
    // corrected by its exact residual. v = 0 gives 0.
    [[gnu::always_inline]] static F Sqrt(F v) {
        F y = L::FromBits(L::USub(L::USet(0x5F3759DFu), L::UShiftRight(L::AsBits(v), 1)));
        const F half = L::Mul(L::Set(0.5f), v);
        for (int step = 0; step < 3; ++step) {
            const F t = L::Mul(L::Mul(half, y), y);
            y = L::Mul(y, L::Sub(L::Set(1.5f), t));
        }
        const F s = L::Mul(v, y);
        const F p = L::Mul(s, s);
        const F residual = L::Sub(L::Sub(v, p), ProductError(s, s, p));
        return L::Add(s, L::Mul(residual, L::Mul(L::Set(0.5f), y)));
    }

    // 2^y = 2^n * 2^f with n = floor(y + 0.5), f = y - n in [-0.5, 0.5] (exact). 2^f =
    // 1 + f ln2 + f^2 q(f): f ln2 is carried exactly (ln2 in two parts, Dekker's product) and
    // 1 is added by an exact two-sum, so that only the last addition rounds at full weight.
    // 2^n is built from its bits; n <= -127 gives the bits of +0, and so does any result below
    // 2^-126.
    [[gnu::always_inline]] static F Exp2(F y) {
        const F clamped = L::Min(L::Max(y, L::Set(-200.0f)), L::Set(200.0f));
        const F n = L::Floor(L::Add(clamped, L::Set(0.5f)));
        const F f = L::Sub(clamped, n);
        F q = L::Set(1.535336188319500e-4f);
        q = L::Add(L::Mul(q, f), L::Set(1.339887440266574e-3f));
        q = L::Add(L::Mul(q, f), L::Set(9.618437357674640e-3f));
        q = L::Add(L::Mul(q, f), L::Set(5.550332471162809e-2f));
        q = L::Add(L::Mul(q, f), L::Set(2.402264791363012e-1f));
        const F ln2High = L::Set(0.693147182464599609375f);  // 0x3F317218
        const F ln2Low = L::Set(-1.904654323148236e-9f);     // ln2 - ln2High
        const F high = L::Mul(f, ln2High);
        const F small =
            L::Add(ProductError(f, ln2High, high), L::Mul(f, L::Add(ln2Low, L::Mul(f, q))));
        const F one = L::Set(1.0f);
        const F sum = L::Add(one, high);
        const F sumError = L::Add(L::Sub(one, sum), high);
        const F power = L::Add(sum, L::Add(sumError, small));
        const F exponent = L::Min(L::Max(n, L::Set(-127.0f)), L::Set(128.0f));
        const U biased = L::UAdd(L::ToInt(exponent), L::USet(127u));
        const F result = L::Mul(power, L::FromBits(L::UShiftLeft(biased, 23)));
        // Below 2^-126 the result is +0 by a comparison, not by the device's own flushing:
        // some (Mesa's llvmpipe among them) keep denormals.
        const F smallestNormal = L::FromBits(L::USet(0x00800000u));
        return L::Select(L::Greater(smallestNormal, result), L::Set(0.0f), result);
    }

    // x = 2^e m with m in [sqrt(1/2), sqrt(2)); log2(1 + t), t = m - 1 (exact), by the
    // polynomial of log(1 + t) with its leading terms added last for accuracy.
    [[gnu::always_inline]] static F Log2(F x) {
        const U bits = L::AsBits(x);
        const F mantissa =
            L::FromBits(L::UOr(L::UAnd(bits, L::USet(0x007FFFFFu)), L::USet(0x3F800000u)));
        const F e0 = L::ToFloat(L::USub(L::UShiftRight(bits, 23), L::USet(127u)));
        const auto upper = L::Greater(mantissa, L::Set(1.41421356f));
        const F m = L::Select(upper, L::Mul(L::Set(0.5f), mantissa), mantissa);
        const F e = L::Select(upper, L::Add(e0, L::Set(1.0f)), e0);
        const F t = L::Sub(m, L::Set(1.0f));
        const F z = L::Mul(t, t);
        F p = L::Set(7.0376836292e-2f);
        p = L::Add(L::Mul(p, t), L::Set(-1.1514610310e-1f));
        p = L::Add(L::Mul(p, t), L::Set(1.1676998740e-1f));
        p = L::Add(L::Mul(p, t), L::Set(-1.2420140846e-1f));
        p = L::Add(L::Mul(p, t), L::Set(1.4249322787e-1f));
        p = L::Add(L::Mul(p, t), L::Set(-1.6668057665e-1f));
        p = L::Add(L::Mul(p, t), L::Set(2.0000714765e-1f));
        p = L::Add(L::Mul(p, t), L::Set(-2.4999993993e-1f));
        p = L::Add(L::Mul(p, t), L::Set(3.3333331174e-1f));
        F r = L::Mul(t, L::Mul(z, p));
        r = L::Sub(r, L::Mul(L::Set(0.5f), z));
        const F log2eMinusOne = L::Set(0.44269504088896340736f);
        F result = L::Mul(t, log2eMinusOne);
        result = L::Add(result, L::Mul(r, log2eMinusOne));
        result = L::Add(result, r);
        result = L::Add(result, t);
        result = L::Add(result, e);
        const F minusInfinity = L::FromBits(L::USet(0xFF800000u));
        // A zero or denormal exponent field is a zero: flushed, as Direct3D reads it.
        return L::Select(L::Greater(e0, L::Set(-127.0f)), result, minusInfinity);
    }
};
