// exp2, log2, division and square root written once over a lane type `L`, so that the scalar
// build (exact_math.cpp) and the AVX2 rows (fast_fire_avx2.cpp) perform the same operations in
// the same order and round alike. exact_math.hlsli and exact_div_sqrt.hlsli spell out the same
// sequences.
//
// Include this only from inside an anonymous namespace: each instruction set compiles its own
// copy.
//
// What L provides besides the float operations of fast_fire_rows.h (F floats, M masks,
// U 32-bit unsigned lanes): AsBits(F) -> U, FromBits(U) -> F, USet, UAdd, USub, UShiftLeft,
// UShiftRight (logical, by a constant below 32), UAnd, UOr, Or (of masks), ToFloat(U as a signed
// integer of magnitude below 2^24, exact), ToInt(F holding a whole number, exact) -> U,
// Gather(table, U). The tables come from exact_math_tables.h, included by the includer before its
// namespaces.

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

    // 1 / b for b in [1, 2): a first guess from the bits (within 12 %), four Newton steps (to
    // about 2^-22).
    [[gnu::always_inline]] static F Reciprocal(F b) {
        F y = L::FromBits(L::USub(L::USet(0x7EF311C3u), L::AsBits(b)));
        const F one = L::Set(1.0f);
        for (int step = 0; step < 4; ++step) {
            const F e = L::Sub(one, L::Mul(b, y));
            y = L::Add(y, L::Mul(y, e));
        }
        return y;
    }

    // Division and square root reduce to x in [1, 2): the quotient n / d of significands (n in
    // [1, 4), d in [1, 2)) or the root of m in [1, 4). A Newton estimate corrected once by its
    // residual is q with |q - x| < u = 2^-23, in [1, 2 - u] once clamped (x lies there too).
    // Then r = n - q d (m - q q) is known exactly or, beyond the threshold h, on the right side
    // of it: Dekker's product gives q d's rounding error exactly, n - p is exact (Sterbenz: p
    // is within a factor 2 of n), and one subtraction rounds the exact r. A quotient's r is a
    // multiple of 2^-46 below 2^-22, so it is exact; a root's r may need 25 bits only when
    // |r| >= 2^-22 > h, and rounding is monotonic. x lies above the midpoint q + u/2 exactly
    // when r > h, with h = d u/2 for a quotient and h = q u for a root (r is a multiple of
    // 2^-46, and (q + u/2)^2 = q^2 + q u + 2^-48), and below q - u/2 exactly when r <= -h. No
    // quotient or root of floats is a midpoint (the midpoint has 25 significant bits; its
    // product with a float, or its square, more than 24). So q + u, q - u or q is x correctly
    // rounded, and the exponent is put back in integers.

    // The significand of a float's bits as a float in [1, 2).
    [[gnu::always_inline]] static F Significand(U bits) {
        return L::FromBits(L::UOr(L::UAnd(bits, L::USet(0x007FFFFFu)), L::USet(0x3F800000u)));
    }

    // n - q d, rounded once from its exact value (q d within a factor 2 of n).
    [[gnu::always_inline]] static F Remainder(F n, F q, F d) {
        const F p = L::Mul(q, d);
        return L::Sub(L::Sub(n, p), ProductError(q, d, p));
    }

    // q clamped to [1, 2 - u], then moved by u where the remainder r puts x past a midpoint.
    [[gnu::always_inline]] static F Clamped(F q) {
        return L::Min(L::Max(q, L::Set(1.0f)), L::Set(1.99999988079071044921875f));
    }

    [[gnu::always_inline]] static F Nudge(F q, F r, F h) {
        const F zero = L::Set(0.0f);
        const F u = L::Set(1.1920928955078125e-7f);  // 2^-23
        const F down = L::Select(L::GreaterEqual(L::Sub(zero, h), r), L::Sub(zero, u), zero);
        return L::Add(q, L::Select(L::Greater(r, h), u, down));
    }

    // |v| below 2^-126 (a zero, as the kernels read denormals), |v| infinite, v a number.
    [[gnu::always_inline]] static typename L::M IsZero(F magnitude) {
        return L::Less(magnitude, L::Set(1.17549435082228750797e-38f));
    }

    [[gnu::always_inline]] static typename L::M IsInfinite(F magnitude) {
        return L::Greater(magnitude, L::Set(3.40282346638528859812e+38f));
    }

    [[gnu::always_inline]] static typename L::M IsNumber(F magnitude) {
        return L::GreaterEqual(magnitude, L::Set(0.0f));
    }

    [[gnu::always_inline]] static F Magnitude(U bits) {
        return L::FromBits(L::UAnd(bits, L::USet(0x7FFFFFFFu)));
    }

    // The IEEE results of a / b that are not a normal quotient: a signed zero (0 / b, a / inf,
    // or below 2^-126, flushed), a signed infinity (inf / b, a / 0, or from 2^128 on), NaN (0 /
    // 0, inf / inf, NaN). field is the quotient's biased exponent.
    [[gnu::always_inline]] static F DivSpecial(U aBits, U bBits, U sign, F field, F quotient) {
        const F a = Magnitude(aBits);
        const F b = Magnitude(bBits);
        const auto zeroA = IsZero(a);
        const auto zeroB = IsZero(b);
        const auto infiniteA = IsInfinite(a);
        const auto infiniteB = IsInfinite(b);
        const auto toZero = L::Or(L::Or(L::AndNot(zeroB, zeroA), L::AndNot(infiniteA, infiniteB)),
                                  L::Less(field, L::Set(0.5f)));
        const auto toInfinity =
            L::Or(L::Or(L::AndNot(infiniteB, infiniteA), L::AndNot(zeroA, zeroB)),
                  L::Greater(field, L::Set(254.5f)));
        const auto toNan = L::Or(L::And(zeroA, zeroB), L::And(infiniteA, infiniteB));
        const F nan = L::FromBits(L::USet(0x7FC00000u));
        F result = L::Select(toZero, L::FromBits(sign), quotient);
        result = L::Select(toInfinity, L::FromBits(L::UOr(sign, L::USet(0x7F800000u))), result);
        result = L::Select(toNan, nan, result);
        return L::Select(L::And(IsNumber(a), IsNumber(b)), result, nan);
    }

    // a / b correctly rounded for every normal a and b (either sign) whose quotient is normal;
    // see above. Flushed to a signed zero below 2^-126, and the rest as IEEE (DivSpecial).
    [[gnu::always_inline]] static F Div(F a, F b) {
        const U aBits = L::AsBits(a);
        const U bBits = L::AsBits(b);
        const F ma = Significand(aBits);
        const F d = Significand(bBits);
        const auto small = L::Less(ma, d);
        const F n = L::Select(small, L::Mul(L::Set(2.0f), ma), ma);
        const F y = Reciprocal(d);
        const F q0 = L::Mul(n, y);
        // q0 lies within 3 ulps of x; q0 + r0 y within u/2 plus a few 2^-44.
        const F q = Clamped(L::Add(q0, L::Mul(Remainder(n, q0, d), y)));
        const F x = Nudge(q, Remainder(n, q, d), L::Mul(d, L::Set(5.9604644775390625e-8f)));
        const U biasedA = L::UAnd(L::UShiftRight(aBits, 23), L::USet(0xFFu));
        const U biasedB = L::UAnd(L::UShiftRight(bBits, 23), L::USet(0xFFu));
        const F field = L::Add(L::Sub(L::ToFloat(biasedA), L::ToFloat(biasedB)),
                               L::Select(small, L::Set(126.0f), L::Set(127.0f)));
        // The sign is a xor b, as (a | b) - (a & b).
        const U sign =
            L::UAnd(L::USub(L::UOr(aBits, bBits), L::UAnd(aBits, bBits)), L::USet(0x80000000u));
        const U magnitude =
            L::UOr(L::UAnd(L::AsBits(x), L::USet(0x007FFFFFu)), L::UShiftLeft(L::ToInt(field), 23));
        return DivSpecial(aBits, bBits, sign, field, L::FromBits(L::UOr(sign, magnitude)));
    }

    // sqrt(v) correctly rounded for every positive normal v (see above); a zero (or denormal)
    // keeps its sign, +inf stays, a negative v or NaN gives NaN.
    [[gnu::always_inline]] static F Sqrt(F v) {
        const U bits = L::AsBits(v);
        const U biased = L::UAnd(L::UShiftRight(bits, 23), L::USet(0xFFu));
        // m = the significand, doubled where the exponent (biased - 127) is odd.
        const U mField =
            L::USub(L::USet(0x40000000u), L::UShiftLeft(L::UAnd(biased, L::USet(1u)), 23));
        const F m = L::FromBits(L::UOr(L::UAnd(bits, L::USet(0x007FFFFFu)), mField));
        // 1/sqrt(m) from the bits (within 3.5 %), three Newton steps (to about 2^-22).
        F y = L::FromBits(L::USub(L::USet(0x5F3759DFu), L::UShiftRight(L::AsBits(m), 1)));
        const F half = L::Mul(L::Set(0.5f), m);
        for (int step = 0; step < 3; ++step) {
            const F t = L::Mul(L::Mul(half, y), y);
            y = L::Mul(y, L::Sub(L::Set(1.5f), t));
        }
        const F s0 = L::Mul(m, y);
        // s0 + r0 y/2 is off by (s0 - x)^2 / 2x and a few 2^-44 before its rounding.
        const F s = Clamped(L::Add(s0, L::Mul(Remainder(m, s0, s0), L::Mul(L::Set(0.5f), y))));
        const F x = Nudge(s, Remainder(m, s, s), L::Mul(s, L::Set(1.1920928955078125e-7f)));
        // The root's biased exponent is (biased + 127) / 2, rounded down.
        const U field = L::UShiftRight(L::UAdd(biased, L::USet(127u)), 1);
        const F root = L::FromBits(
            L::UOr(L::UAnd(L::AsBits(x), L::USet(0x007FFFFFu)), L::UShiftLeft(field, 23)));
        const F magnitude = Magnitude(bits);
        const F nan = L::FromBits(L::USet(0x7FC00000u));
        F result = L::Select(IsInfinite(magnitude), v, root);
        result = L::Select(L::Less(v, L::Set(0.0f)), nan, result);
        result = L::Select(IsNumber(magnitude), result, nan);
        return L::Select(IsZero(magnitude), L::FromBits(L::UAnd(bits, L::USet(0x80000000u))),
                         result);
    }

    // Whether hi is the correctly rounded value of a sum hi + lo (hi = hi + lo rounded) known to
    // within `error` of the exact result: true unless hi + lo lies within `error` of the midpoint
    // between hi and its neighbour on lo's side (half an ulp, a quarter of one below a power of
    // two).
    [[gnu::always_inline]] static typename L::M Decided(F hi, F lo, F error) {
        const U hiBits = L::AsBits(hi);
        const F halfUlp = L::Mul(L::FromBits(L::UAnd(hiBits, L::USet(0x7F800000u))),
                                 L::Set(5.9604644775390625e-8f));  // 2^-24
        const U mantissa = L::UAnd(hiBits, L::USet(0x007FFFFFu));
        const auto powerOfTwo = L::Less(L::ToFloat(mantissa), L::Set(0.5f));
        const auto towardsZero = L::Less(L::Mul(lo, hi), L::Set(0.0f));
        const F half =
            L::Select(L::And(powerOfTwo, towardsZero), L::Mul(L::Set(0.5f), halfUlp), halfUlp);
        const F distance = Magnitude(L::AsBits(lo));
        return L::Less(L::Add(distance, error), half);
    }

    // Lanes of `result` in `rare` replaced by rare(a, b, c) of the lane.
    template <class Rare>
    static F PerLane(F result, typename L::M rare, Rare function, F a, F b, F c) {
        float out[L::kWidth], va[L::kWidth], vb[L::kWidth], vc[L::kWidth];
        L::Store(out, result);
        L::Store(va, a);
        L::Store(vb, b);
        L::Store(vc, c);
        const int bits = L::Bits(rare);
        for (int lane = 0; lane < L::kWidth; ++lane) {
            if ((bits >> lane) & 1) {
                out[lane] = function(va[lane], vb[lane], vc[lane]);
            }
        }
        return L::Load(out);
    }

    // 2^y = 2^n 2^(j/128) 2^u with k = n 128 + j = floor(128 y + 0.5), u = y - k/128 in
    // [-1/256, 1/256] (exact). 2^(j/128) comes from a table in two parts; 2^u - 1 = u ln2 (a
    // product carried exactly) + u^2 (ln2^2/2 + u ln2^3/6 + u^2 ln2^4/24). hi + lo is within
    // 2^-38 of 2^(j/128 + u) in [1, 2); where that cannot decide the rounding (about one
    // argument in 10^4), ExactExp2Rare does. +0 below y = -126, +inf from 128 on; NaN stays.
    [[gnu::always_inline]] static F Exp2(F y) {
        const F clamped = L::Min(L::Max(y, L::Set(-200.0f)), L::Set(200.0f));
        const F k = L::Floor(L::Add(L::Mul(clamped, L::Set(128.0f)), L::Set(0.5f)));
        const F u = L::Sub(clamped, L::Mul(k, L::Set(0.0078125f)));
        const F n = L::Floor(L::Mul(k, L::Set(0.0078125f)));
        const U j = L::UAnd(L::ToInt(L::Sub(k, L::Mul(n, L::Set(128.0f)))), L::USet(127u));
        const F tableHigh = L::Gather(kExp2High, j);
        const F tableLow = L::Gather(kExp2Low, j);
        const F ln2High = L::Set(0.6931471824645996f);
        const F ln2Low = L::Set(-1.9046542121259336e-09f);
        const F product = L::Mul(u, ln2High);
        F q = L::Set(0.009618128649890423f);
        q = L::Add(L::Mul(q, u), L::Set(0.05550410971045494f));
        q = L::Add(L::Mul(q, u), L::Set(0.24022650718688965f));
        const F small = L::Add(L::Add(ProductError(u, ln2High, product), L::Mul(u, ln2Low)),
                               L::Mul(L::Mul(u, u), q));
        // (tableHigh + tableLow)(1 + product + small), tableHigh * product exactly.
        const F scaled = L::Mul(tableHigh, product);
        const F rest = L::Add(L::Add(L::Add(tableLow, ProductError(tableHigh, product, scaled)),
                                     L::Mul(tableHigh, small)),
                              L::Mul(tableLow, L::Add(product, small)));
        const F sum = L::Add(tableHigh, scaled);
        const F tail = L::Add(L::Sub(scaled, L::Sub(sum, tableHigh)), rest);
        const F hi = L::Add(sum, tail);
        const F lo = L::Sub(tail, L::Sub(hi, sum));
        const F exponent = L::Min(L::Max(n, L::Set(-127.0f)), L::Set(128.0f));
        const U biased = L::UAdd(L::ToInt(exponent), L::USet(127u));
        F result = L::Mul(hi, L::FromBits(L::UShiftLeft(biased, 23)));
        const auto inRange =
            L::And(L::GreaterEqual(y, L::Set(-126.0f)), L::Less(y, L::Set(128.0f)));
        // n = 128 (y within 1/256 of 128) would need the scale 2^128: those go the rare way.
        const auto rare = L::AndNot(
            L::And(Decided(hi, lo, L::Set(3.637978807091713e-12f)), L::Less(n, L::Set(127.5f))),
            inRange);
        if (L::Bits(rare) != 0) {
            result = PerLane(
                result, rare, [](float a, float, float) { return ExactExp2Rare(a); }, y, y, y);
        }
        // Below 2^-126 the result is +0 by a comparison, not by the device's own flushing:
        // some (Mesa's llvmpipe among them) keep denormals.
        return L::Select(L::Less(y, L::Set(-126.0f)), L::Set(0.0f), result);
    }

    // x = 2^e s (s in [1, 2), its top 7 fraction bits j): log2 x = e + log2(1/c) + log2(1 + t)
    // with c = kLog2Inverse[j] and t = s c - 1 (|t| <= 2^-7, exact as the sum of two products
    // of 12-bit halves). log2(1 + t) = t/ln2 (carried exactly) - t^2/(2 ln2) + ...; hi + lo is
    // within 2^-37 of log2 x. Where that cannot decide the rounding, ExactLog2Rare does. Other
    // x as Log2Special.
    [[gnu::always_inline]] static F Log2(F x) {
        const U bits = L::AsBits(x);
        const F significand = Significand(bits);
        const F e0 = L::ToFloat(L::USub(L::UShiftRight(bits, 23), L::USet(127u)));
        const U j = L::UAnd(L::UShiftRight(bits, 16), L::USet(127u));
        const F inverse = L::Gather(kLog2Inverse, j);
        const F tableHigh = L::Gather(kLog2High, j);
        const F tableLow = L::Gather(kLog2Low, j);
        const F e = L::Add(
            e0, L::Select(L::Greater(L::ToFloat(j), L::Set(52.5f)), L::Set(1.0f), L::Set(0.0f)));
        F sh, sl;
        Split(significand, &sh, &sl);
        const F a = L::Sub(L::Mul(sh, inverse), L::Set(1.0f));
        const F b = L::Mul(sl, inverse);
        const F t = L::Add(a, b);
        const F tb = L::Sub(t, a);
        const F tLow = L::Add(L::Sub(a, L::Sub(t, tb)), L::Sub(b, tb));
        const F k1High = L::Set(1.4426950216293335f);
        const F k1Low = L::Set(1.925963033500011e-08f);
        const F product = L::Mul(t, k1High);
        F q = L::Set(-0.24044917523860931f);
        q = L::Add(L::Mul(q, t), L::Set(0.28853902220726013f));
        q = L::Add(L::Mul(q, t), L::Set(-0.3606737554073334f));
        q = L::Add(L::Mul(q, t), L::Set(0.48089835047721863f));
        q = L::Add(L::Mul(q, t), L::Set(-0.7213475108146667f));
        const F small = L::Add(
            L::Add(L::Add(L::Add(tableLow, ProductError(t, k1High, product)), L::Mul(t, k1Low)),
                   L::Mul(tLow, k1High)),
            L::Mul(L::Mul(t, t), q));
        // e + tableHigh + product exactly as two sums, then small.
        const F s1 = L::Add(e, tableHigh);
        const F s1b = L::Sub(s1, e);
        const F s1Error = L::Add(L::Sub(e, L::Sub(s1, s1b)), L::Sub(tableHigh, s1b));
        const F s2 = L::Add(s1, product);
        const F s2b = L::Sub(s2, s1);
        const F s2Error = L::Add(L::Sub(s1, L::Sub(s2, s2b)), L::Sub(product, s2b));
        const F tail = L::Add(L::Add(s1Error, s2Error), small);
        const F hi = L::Add(s2, tail);
        const F lo = L::Sub(tail, L::Sub(hi, s2));
        F result = hi;
        const auto positive =
            L::AndNot(IsInfinite(x), L::GreaterEqual(x, L::Set(1.17549435082228750797e-38f)));
        const auto rare = L::AndNot(Decided(hi, lo, L::Set(7.275957614183426e-12f)), positive);
        if (L::Bits(rare) != 0) {
            result = PerLane(
                result, rare, [](float v, float h, float l) { return ExactLog2Rare(v, h, l); }, x,
                hi, lo);
        }
        return L::Select(positive, result, Log2Special(x, Magnitude(bits)));
    }

    // log2 of what is not a positive normal float, as IEEE gives it for the float the kernels
    // read (a denormal is a zero of its sign): -inf for +-0, NaN below 0 and for NaN, +inf for
    // +inf.
    [[gnu::always_inline]] static F Log2Special(F x, F magnitude) {
        const F nan = L::FromBits(L::USet(0x7FC00000u));
        const F beyond = L::Select(IsInfinite(x), x, nan);
        return L::Select(IsZero(magnitude), L::FromBits(L::USet(0xFF800000u)), beyond);
    }
};
