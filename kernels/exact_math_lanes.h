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
// magnitude below 2^24, exact), ToInt(F holding a whole number, exact) -> U, Gather(table, U).

// clang-format off
// 2^(j/128) = kExp2High[j] + kExp2Low[j], each rounded to nearest.
constexpr float kExp2High[128] = {
    1.0f, 1.0054299f, 1.0108893f, 1.0163783f,
    1.0218972f, 1.0274459f, 1.0330249f, 1.0386341f,
    1.0442737f, 1.049944f, 1.0556452f, 1.0613772f,
    1.0671405f, 1.0729349f, 1.0787607f, 1.0846183f,
    1.0905077f, 1.0964291f, 1.1023825f, 1.1083684f,
    1.1143868f, 1.1204377f, 1.1265216f, 1.1326386f,
    1.1387886f, 1.1449721f, 1.1511892f, 1.1574401f,
    1.1637249f, 1.1700438f, 1.176397f, 1.1827847f,
    1.1892071f, 1.1956644f, 1.2021568f, 1.2086843f,
    1.2152474f, 1.221846f, 1.2284806f, 1.235151f,
    1.2418578f, 1.248601f, 1.2553807f, 1.2621974f,
    1.269051f, 1.2759417f, 1.28287f, 1.2898359f,
    1.2968396f, 1.3038813f, 1.3109612f, 1.3180796f,
    1.3252367f, 1.3324325f, 1.3396676f, 1.3469418f,
    1.3542556f, 1.361609f, 1.3690025f, 1.376436f,
    1.38391f, 1.3914244f, 1.3989797f, 1.406576f,
    1.4142135f, 1.4218926f, 1.4296134f, 1.437376f,
    1.4451808f, 1.453028f, 1.4609178f, 1.4688504f,
    1.4768262f, 1.4848452f, 1.4929078f, 1.5010141f,
    1.5091645f, 1.517359f, 1.5255982f, 1.533882f,
    1.5422108f, 1.5505849f, 1.5590044f, 1.5674696f,
    1.5759809f, 1.5845382f, 1.5931422f, 1.6017928f,
    1.6104903f, 1.6192352f, 1.6280274f, 1.6368674f,
    1.6457555f, 1.6546918f, 1.6636766f, 1.6727102f,
    1.6817929f, 1.6909248f, 1.7001064f, 1.7093377f,
    1.7186193f, 1.7279513f, 1.7373339f, 1.7467674f,
    1.7562522f, 1.7657884f, 1.7753764f, 1.7850167f,
    1.7947091f, 1.8044542f, 1.8142521f, 1.8241034f,
    1.8340081f, 1.8439666f, 1.8539791f, 1.8640461f,
    1.8741677f, 1.8843442f, 1.894576f, 1.9048634f,
    1.9152066f, 1.9256059f, 1.9360617f, 1.9465744f,
    1.9571441f, 1.9677712f, 1.978456f, 1.9891988f
};
constexpr float kExp2Low[128] = {
    0.0f, 3.7183053e-08f, -5.7116054e-09f, 3.141028e-08f,
    -4.81156e-08f, 3.675762e-08f, -2.8090893e-08f, 4.0148024e-08f,
    4.83347e-08f, 4.26412e-08f, -4.9071694e-08f, 5.9587542e-08f,
    -5.933752e-08f, 1.5744375e-09f, 5.4615946e-08f, 3.2211478e-08f,
    -1.307754e-08f, -2.7756988e-08f, 4.260502e-08f, 1.4964645e-08f,
    -5.43554e-08f, 1.11300045e-08f, 3.1236414e-08f, -5.4047828e-08f,
    5.3862223e-08f, 5.8479046e-08f, 2.1922283e-08f, 7.2961654e-09f,
    -4.0514415e-08f, -5.641996e-08f, 2.566975e-08f, 3.443252e-08f,
    3.7976353e-08f, -1.3782927e-08f, -5.0697565e-08f, -1.5916191e-09f,
    -3.267395e-08f, 4.8513833e-08f, -4.1362004e-08f, 1.1461958e-08f,
    4.496838e-08f, 1.7411372e-08f, 7.3222375e-09f, -2.4903295e-08f,
    1.4193333e-09f, 4.8850797e-08f, -3.8166217e-08f, -5.646394e-08f,
    -4.0189995e-08f, -2.2382832e-08f, -3.4965716e-08f, 1.0468639e-08f,
    -3.4963733e-08f, 3.8614534e-08f, -3.461674e-08f, -4.2494776e-08f,
    -1.0123349e-08f, 3.855204e-08f, -3.845882e-08f, -2.4347399e-08f,
    -5.8755774e-08f, -4.17238e-08f, 8.689434e-09f, -4.3587907e-08f,
    2.4203235e-08f, -4.0805688e-08f, -1.3429929e-08f, -2.4889886e-08f,
    3.3242e-08f, 3.2210746e-08f, -3.6286576e-08f, 5.911518e-08f,
    -4.500899e-08f, 4.434764e-09f, -3.42362e-08f, -4.3799783e-08f,
    -2.4959373e-08f, 2.287241e-08f, -1.7628569e-08f, -2.4063036e-08f,
    8.070905e-09f, -3.461511e-08f, -2.5764665e-08f, 4.310276e-08f,
    -5.6610254e-08f, 4.389324e-08f, -4.903137e-10f, -5.6664717e-08f,
    9.836217e-09f, -2.277175e-08f, -1.7260083e-08f, 4.5782894e-08f,
    -5.124972e-08f, -4.7720086e-08f, -3.9202988e-08f, -6.409962e-10f,
    -2.4755327e-08f, 3.55898e-08f, -2.8651472e-08f, 5.1766236e-08f,
    -4.8496176e-08f, -5.7261428e-08f, -5.8502234e-08f, -1.5496083e-08f,
    -9.23577e-09f, -2.7013001e-12f, 5.343198e-08f, -4.4603002e-08f,
    -1.1415045e-08f, -3.9613724e-08f, 3.7362582e-08f, 2.9999338e-08f,
    -1.1239278e-08f, -3.432049e-08f, 1.4365612e-08f, -4.840397e-08f,
    -4.6630056e-08f, -4.1129102e-08f, 2.8103385e-08f, -1.5726272e-08f,
    9.845328e-09f, 5.0501054e-08f, 5.3570723e-08f, -3.1959953e-08f,
    -1.7021804e-08f, 5.0709676e-08f, 6.0327263e-09f, 4.3065594e-08f
};
// log2 of a float whose top 7 fraction bits are j: kLog2Inverse[j] (12 significant bits) brings
// its significand within 2^-7 of 1; log2(1 / kLog2Inverse[j]), less 1 from j = 53 on
// (significands above sqrt 2 count in the next binade), is kLog2High[j] + kLog2Low[j]. The ends
// are exact (1 and 1/2, log 0), so that results near log2 1 = 0 keep their relative accuracy.
constexpr float kLog2Inverse[128] = {
    1.0f, 0.9885254f, 0.98095703f, 0.9733887f,
    0.96606445f, 0.95874023f, 0.95166016f, 0.9445801f,
    0.93774414f, 0.9309082f, 0.92407227f, 0.91748047f,
    0.9111328f, 0.904541f, 0.89819336f, 0.89208984f,
    0.8857422f, 0.8796387f, 0.8737793f, 0.8676758f,
    0.86206055f, 0.8562012f, 0.85058594f, 0.8449707f,
    0.83935547f, 0.8339844f, 0.82836914f, 0.8232422f,
    0.8178711f, 0.81274414f, 0.8076172f, 0.80249023f,
    0.7976074f, 0.79248047f, 0.78759766f, 0.782959f,
    0.7780762f, 0.7734375f, 0.7687988f, 0.76416016f,
    0.7597656f, 0.75512695f, 0.7507324f, 0.7463379f,
    0.74194336f, 0.73779297f, 0.7336426f, 0.72924805f,
    0.72509766f, 0.7211914f, 0.717041f, 0.71313477f,
    0.7092285f, 0.70532227f, 0.701416f, 0.69750977f,
    0.69384766f, 0.6899414f, 0.6862793f, 0.6826172f,
    0.6789551f, 0.6755371f, 0.671875f, 0.66845703f,
    0.66503906f, 0.66137695f, 0.6582031f, 0.65478516f,
    0.6513672f, 0.64819336f, 0.6447754f, 0.64160156f,
    0.63842773f, 0.6352539f, 0.6320801f, 0.62890625f,
    0.62597656f, 0.62280273f, 0.61987305f, 0.61694336f,
    0.6140137f, 0.611084f, 0.6081543f, 0.6052246f,
    0.6022949f, 0.5996094f, 0.5966797f, 0.59399414f,
    0.5913086f, 0.58862305f, 0.58569336f, 0.58325195f,
    0.5805664f, 0.57788086f, 0.5751953f, 0.5727539f,
    0.57006836f, 0.56762695f, 0.56518555f, 0.56274414f,
    0.5600586f, 0.5576172f, 0.5554199f, 0.5529785f,
    0.5505371f, 0.5480957f, 0.54589844f, 0.54345703f,
    0.54125977f, 0.5390625f, 0.5366211f, 0.5344238f,
    0.53222656f, 0.5300293f, 0.52783203f, 0.52563477f,
    0.5234375f, 0.5214844f, 0.5192871f, 0.51708984f,
    0.5151367f, 0.51293945f, 0.5109863f, 0.5090332f,
    0.50683594f, 0.5048828f, 0.5029297f, 0.5f
};
constexpr float kLog2High[128] = {
    0.0f, 0.016650073f, 0.027738152f, 0.03891211f,
    0.04980865f, 0.060788117f, 0.07148162f, 0.08225498f,
    0.09273375f, 0.10328919f, 0.11392242f, 0.12425065f,
    0.13426673f, 0.14474218f, 0.15490204f, 0.16473909f,
    0.17504126f, 0.18501706f, 0.19465917f, 0.20477204f,
    0.2141389f, 0.22397828f, 0.2334711f, 0.24302678f,
    0.25264618f, 0.26190773f, 0.27165428f, 0.2806112f,
    0.29005462f, 0.29912683f, 0.30825648f, 0.31744426f,
    0.32624927f, 0.33555272f, 0.34446928f, 0.35299137f,
    0.3620167f, 0.37064338f, 0.37932196f, 0.38805306f,
    0.39637366f, 0.4052089f, 0.4136293f, 0.42209917f,
    0.43061903f, 0.43871206f, 0.44685072f, 0.45551848f,
    0.46375278f, 0.47154588f, 0.47987244f, 0.48775336f,
    0.49567756f, -0.4963545f, -0.4883423f, -0.48028532f,
    -0.47269085f, -0.46454576f, -0.45686772f, -0.44914865f,
    -0.44138804f, -0.43410692f, -0.42626476f, -0.41890672f,
    -0.41151097f, -0.40354466f, -0.39660478f, -0.38909352f,
    -0.38154295f, -0.37449613f, -0.3668686f, -0.35974956f,
    -0.35259524f, -0.34540525f, -0.33817926f, -0.33091688f,
    -0.32418054f, -0.31684718f, -0.31004468f, -0.30320996f,
    -0.29634267f, -0.28944257f, -0.2825093f, -0.27554256f,
    -0.268542f, -0.26209486f, -0.25502858f, -0.2485206f,
    -0.24198315f, -0.23541594f, -0.22821744f, -0.22219114f,
    -0.215533f, -0.20884399f, -0.20212382f, -0.1959873f,
    -0.18920684f, -0.183015f, -0.17679648f, -0.17055103f,
    -0.16364968f, -0.15734693f, -0.15165083f, -0.14529534f,
    -0.13891172f, -0.13249972f, -0.12670447f, -0.12023788f,
    -0.114393055f, -0.10852446f, -0.10197567f, -0.09605624f,
    -0.09011242f, -0.08414401f, -0.07815081f, -0.0721326f,
    -0.06608919f, -0.06069593f, -0.054604318f, -0.048486874f,
    -0.04302728f, -0.036860447f, -0.031356595f, -0.025831668f,
    -0.019590728f, -0.01402047f, -0.008428622f, 0.0f
};
constexpr float kLog2Low[128] = {
    0.0f, -9.067242e-10f, -8.051255e-10f, -2.7981763e-11f,
    -1.1815785e-09f, -1.554475e-11f, 1.9865825e-09f, 3.0720386e-09f,
    3.2117746e-09f, -2.6806133e-09f, -2.0369428e-09f, -1.8259393e-09f,
    -4.974989e-09f, -3.129895e-09f, -1.931379e-09f, -5.8514953e-09f,
    1.136364e-09f, -6.40543e-10f, -1.905001e-09f, -6.2765952e-09f,
    -1.032809e-09f, 3.7260692e-09f, -4.160846e-09f, -4.2673687e-09f,
    -7.485187e-09f, 1.3853249e-08f, 7.249091e-09f, -8.161702e-09f,
    4.552165e-10f, 1.1182445e-08f, 3.711187e-09f, -5.9690737e-09f,
    -1.1069304e-08f, -6.763624e-09f, -2.2064697e-09f, -1.0788525e-08f,
    -1.14366205e-08f, 2.6163132e-09f, -4.7303956e-09f, -1.3979226e-09f,
    -4.3585215e-09f, -3.7589727e-09f, 1.1444263e-08f, -9.95597e-09f,
    9.2868335e-09f, -5.6163367e-09f, 7.3337336e-09f, -6.426391e-09f,
    7.927518e-09f, 1.4162731e-08f, 1.4343804e-08f, -4.2927253e-09f,
    -8.859747e-09f, 1.9539546e-09f, 7.6237265e-09f, -4.2306683e-09f,
    1.1253512e-08f, 6.2445062e-09f, -1.3723285e-08f, 9.562307e-09f,
    1.1434334e-08f, -1.2420761e-08f, 8.17632e-09f, -1.2765391e-08f,
    -1.3843294e-08f, -1.381908e-08f, -4.799412e-09f, -3.6473329e-09f,
    -3.1597844e-10f, -1.3556125e-08f, -8.189637e-10f, -4.734561e-09f,
    8.743397e-09f, 4.0699395e-09f, 1.0592213e-08f, 3.4466623e-09f,
    -3.196042e-09f, -8.242746e-09f, -3.5820606e-09f, 1.1515888e-08f,
    -1.3775378e-08f, -6.6709216e-09f, -9.108344e-09f, 1.1528103e-09f,
    -8.58946e-09f, 9.938353e-09f, 5.840069e-09f, -7.1229156e-09f,
    -4.218941e-09f, -8.6168725e-11f, -4.4300847e-09f, 1.5993242e-09f,
    3.4653656e-09f, 4.2577805e-10f, -3.048753e-09f, 1.0561549e-09f,
    4.0107637e-09f, 2.9176361e-09f, 2.8656992e-09f, -3.4887737e-09f,
    2.2144606e-09f, -1.2827189e-09f, 1.129904e-09f, 1.9089395e-09f,
    5.947833e-09f, -5.001968e-09f, -3.5200318e-09f, 2.1131301e-09f,
    5.7168825e-10f, -1.5795268e-10f, 9.977713e-10f, -1.3641355e-09f,
    -1.7279637e-09f, 5.247253e-10f, 1.0765375e-09f, -1.8332112e-09f,
    8.4925476e-11f, -3.7213188e-10f, 3.2253346e-11f, -4.848368e-10f,
    -1.833378e-09f, 7.0392053e-10f, -7.9910895e-10f, -6.256556e-10f,
    -3.7297557e-10f, -3.439335e-10f, -3.340841e-11f, 0.0f
};
// clang-format on

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
        const F distance = L::FromBits(L::UAnd(L::AsBits(lo), L::USet(0x7FFFFFFFu)));
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
    // within 2^-37 of log2 x. Where that cannot decide the rounding, ExactLog2Rare does. A zero
    // or denormal x gives -inf (Direct3D reads it as 0).
    [[gnu::always_inline]] static F Log2(F x) {
        const U bits = L::AsBits(x);
        const F significand =
            L::FromBits(L::UOr(L::UAnd(bits, L::USet(0x007FFFFFu)), L::USet(0x3F800000u)));
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
        const auto normal = L::Greater(e0, L::Set(-127.0f));
        const auto rare = L::AndNot(Decided(hi, lo, L::Set(7.275957614183426e-12f)), normal);
        if (L::Bits(rare) != 0) {
            result = PerLane(
                result, rare, [](float v, float h, float l) { return ExactLog2Rare(v, h, l); }, x,
                hi, lo);
        }
        const F minusInfinity = L::FromBits(L::USet(0xFF800000u));
        return L::Select(normal, result, minusInfinity);
    }
};
