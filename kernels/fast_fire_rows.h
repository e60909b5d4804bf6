// The per-row work of the fast FireKernel, written once over a lane type `L`: the AVX2 unit
// instantiates it with eight lanes, the portable unit with one. Every operation is the
// reference's operation on the same operands in the same order (see fire_field.cpp), so each
// lane rounds exactly as the reference does; the tests compare both bit for bit.
//
// Include this only from inside an anonymous namespace: its code is compiled once per
// instruction set, and no copy may be shared between them.
//
// What L provides (F: floats, M: lane masks, I: 32-bit indices):
//   kWidth; Set, Load, Store; Add, Sub, Mul, Floor; Sqrt, Exp2, Log2 as exact_math.h computes them;
//   RoundedSqrt, the CPU's correctly rounded square root;
//   Max(a, b) and Min(a, b) with std::max's and std::min's choices ((a < b) ? b : a and (b < a) ? b
//   : a); Less, Greater, GreaterEqual, NotGreaterEqual, And, AndNot(a, b) = !a & b, Select(m, a, b)
//   = m ? a : b; Bits(m) (bit l for lane l); AllSame(v), First(v) (lane 0); TableIndex(m, row,
//   column, stride); Lookup(gxBase, gyBase, index, m, &gx, &gy) (0 where m is false).

template <class L>
struct FireRows {
    using F = typename L::F;
    using M = typename L::M;
    static constexpr int kWidth = L::kWidth;

    // The values of one texel row that do not depend on the column.
    struct Row {
        bool inFrame = false;
        bool aboveFade = false;
        float qy = 0.0f;
        float lift = 0.0f;       // max(0, Y + 0.25)
        float rowFactor = 0.0f;  // 1.5 Y + 1.8
        float ry2 = 0.0f;        // (0.75 Y)^2
        float fMaxLift = 0.0f;   // the largest turbulence times lift
        float p1y = 0.0f;        // detail * qy - 3 time
        float p1yM13 = 0.0f;     // 1.3 * p1y and 1.5 * p1y, the row halves of the second octave
        float p1yM15 = 0.0f;
        float heatTaper = 0.0f;  // 1.5 - (1.3 W)^4
        float fadeTerm = 0.0f;   // 1 - W^3
    };

    static Row MakeRow(const fast_fire::Plan& plan, uint32_t y) {
        const ParamsBlock& params = plan.params;
        Row row;
        const int64_t py = static_cast<int64_t>(y) + params.originY;
        row.inFrame = py >= 0 && static_cast<float>(py) < params.fullHeight;
        if (!row.inFrame) {
            return row;
        }
        const float qy = domainY(params, plan.baseOffset, static_cast<float>(py));
        row.qy = qy;
        const float shapeY = qy > 0.0f ? ExactDiv(qy, plan.field.emitterSize) : qy;
        const float shapeW = 0.5f * shapeY + 0.09f;
        const float lift = shapeY + 0.25f;
        row.lift = 0.0f < lift ? lift : 0.0f;
        row.rowFactor = 1.5f * shapeY + 1.8f;
        const float ry = 0.75f * shapeY;
        row.ry2 = ry * ry;
        row.fMaxLift = plan.field.maxTurbulence * row.lift;
        row.aboveFade = plan.skipFade && shapeW > 1.0f;
        row.p1y = plan.field.detail * qy - plan.timeScroll;
        row.p1yM13 = 1.3f * row.p1y;
        row.p1yM15 = 1.5f * row.p1y;
        const float taper = 1.3f * shapeW;
        row.heatTaper = 1.5f - taper * taper * taper * taper;
        row.fadeTerm = 1.0f - shapeW * shapeW * shapeW;
        return row;
    }

    // r of the shape at the columns [x, x + kWidth), as the reference computes it.
    [[gnu::always_inline]] static F ShapeRadius(const fast_fire::Plan& plan, const Row& row,
                                                uint32_t x) {
        const F rx = L::Mul(L::Set(row.rowFactor), L::Load(plan.shapeX + x));
        return L::Sqrt(L::Add(L::Mul(rx, rx), L::Set(row.ry2)));
    }

    // At most the reference's r, from the CPU's square root (cheaper than the exact one): both
    // are correctly rounded, so scaling by 1 - 2^-20 (rounded) stays below ExactSqrt's result
    // with room to spare.
    [[gnu::always_inline]] static F ShapeRadiusBelow(const fast_fire::Plan& plan, const Row& row,
                                                     uint32_t x) {
        const F rx = L::Mul(L::Set(row.rowFactor), L::Load(plan.shapeX + x));
        const F r = L::RoundedSqrt(L::Add(L::Mul(rx, rx), L::Set(row.ry2)));
        return L::Mul(r, L::Set(1.0f - 0x1p-20f));
    }

    // Lanes that the turbulence bound cannot prove black (surelyDark with a cheaper radius).
    // With f <= maxTurbulence and lift >= 0, f * lift <= maxTurbulence * lift after rounding too
    // (rounding is monotonic), so the reference's d = max(0, r - f * lift) is at least
    // r - maxTurbulence * lift as computed here.
    [[gnu::always_inline]] static M MayBeLit(const fast_fire::Plan& plan, const Row& row,
                                             uint32_t x) {
        const F bound = L::Sub(ShapeRadiusBelow(plan, row, x), L::Set(row.fMaxLift));
        return L::NotGreaterEqual(bound, L::Set(kBlackDistance));
    }

    static int LaneBits(uint32_t count) {
        return count >= 32 ? -1 : static_cast<int>((1u << count) - 1u);
    }

    // The span of each row in [rowBegin, rowEnd) (spans[0] is rowBegin's) and the domain
    // rectangle of the pixels inside the spans, merged into `bounds`.
    static void ScanRows(const fast_fire::Plan& plan, uint32_t rowBegin, uint32_t rowEnd,
                         fast_fire::RowSpan* spans, fast_fire::DomainBounds* bounds) {
        for (uint32_t y = rowBegin; y < rowEnd; ++y) {
            const Row row = MakeRow(plan, y);
            fast_fire::RowSpan span{0, 0};
            if (row.inFrame && !row.aboveFade) {
                if (!plan.skipBlack) {
                    span = fast_fire::RowSpan{plan.frameBegin, plan.frameEnd};
                } else {
                    bool found = false;
                    for (uint32_t x = plan.frameBegin; x < plan.frameEnd; x += kWidth) {
                        const uint32_t count = plan.frameEnd - x < static_cast<uint32_t>(kWidth)
                                                   ? plan.frameEnd - x
                                                   : static_cast<uint32_t>(kWidth);
                        const unsigned bits = static_cast<unsigned>(
                            L::Bits(MayBeLit(plan, row, x)) & LaneBits(count));
                        if (bits == 0) {
                            continue;
                        }
                        if (!found) {
                            span.begin = x + static_cast<uint32_t>(__builtin_ctz(bits));
                            found = true;
                        }
                        span.end = x + 32u - static_cast<uint32_t>(__builtin_clz(bits));
                    }
                }
            }
            spans[y - rowBegin] = span;
            if (span.end > span.begin) {
                // qx grows with the column: the span's ends are its extremes.
                const float lo = plan.qx[span.begin];
                const float hi = plan.qx[span.end - 1];
                if (bounds->empty) {
                    *bounds = fast_fire::DomainBounds{lo, hi, row.qy, row.qy, false};
                } else {
                    bounds->qxMin = lo < bounds->qxMin ? lo : bounds->qxMin;
                    bounds->qxMax = hi > bounds->qxMax ? hi : bounds->qxMax;
                    bounds->qyMin = row.qy < bounds->qyMin ? row.qy : bounds->qyMin;
                    bounds->qyMax = row.qy > bounds->qyMax ? row.qy : bounds->qyMax;
                }
            }
        }
    }

    // The gradients of the lattice points (cx, cy). Lanes outside the table hash directly;
    // lanes whose corner lies beyond the falloff (h = 0) may take any finite gradient: their
    // contribution is then +-0, which leaves the noise sum unchanged, and a sum that is zero
    // altogether only reaches the turbulence through 0.5 + 0.5 g * sum, where its sign is lost.
    [[gnu::always_inline]] static void Gradient(const fast_fire::GradientTable& table, F cx, F cy,
                                                F h, F* gx, F* gy) {
        const F zero = L::Set(0.0f);
        const F dx = L::Sub(cx, L::Set(table.originX));
        const F dy = L::Sub(cy, L::Set(table.originY));
        const M inside =
            L::And(L::And(L::GreaterEqual(dx, zero), L::Less(dx, L::Set(table.columns))),
                   L::And(L::GreaterEqual(dy, zero), L::Less(dy, L::Set(table.rows))));
        const M reaching = L::Greater(h, zero);
        if (L::Bits(L::And(inside, reaching)) != 0) {
            const auto index = L::TableIndex(inside, dy, dx, table.stride);
            L::Lookup(table.gx, table.gy, index, inside, gx, gy);
        } else {
            *gx = zero;
            *gy = zero;
        }
        const int missing = L::Bits(L::AndNot(inside, reaching));
        if (missing != 0) {
            HashMissing(missing, cx, cy, gx, gy);
        }
    }

    [[gnu::noinline]] static void HashMissing(int missing, F cx, F cy, F* gx, F* gy) {
        float x[kWidth], y[kWidth], gxLanes[kWidth], gyLanes[kWidth];
        L::Store(x, cx);
        L::Store(y, cy);
        L::Store(gxLanes, *gx);
        L::Store(gyLanes, *gy);
        for (int lane = 0; lane < kWidth; ++lane) {
            if (missing & (1 << lane)) {
                const Float2 gradient = gradientHash(x[lane], y[lane]);
                gxLanes[lane] = gradient.x;
                gyLanes[lane] = gradient.y;
            }
        }
        *gx = L::Load(gxLanes);
        *gy = L::Load(gyLanes);
    }

    [[gnu::always_inline]] static F Falloff(F x, F y) {
        return L::Max(L::Sub(L::Set(0.5f), L::Add(L::Mul(x, x), L::Mul(y, y))), L::Set(0.0f));
    }

    [[gnu::always_inline]] static F Contribution(F h, F x, F y, F gx, F gy) {
        const F h4 = L::Mul(L::Mul(L::Mul(h, h), h), h);
        return L::Mul(h4, L::Add(L::Mul(x, gx), L::Mul(y, gy)));
    }

    [[gnu::always_inline]] static F Corner(const fast_fire::GradientTable& table, F x, F y, F cx,
                                           F cy) {
        const F h = Falloff(x, y);
        F gx;
        F gy;
        Gradient(table, cx, cy, h, &gx, &gy);
        return Contribution(h, x, y, gx, gy);
    }

    // When every lane lies in the same lattice cell (i, i + (1, 1)) and the table holds the
    // cell's four corners, four entries serve all three corners of every lane: the origin
    // (ix, iy), the middle one (ix + 1, iy) or (ix, iy + 1), the far one (ix + 1, iy + 1).
    // Inside the table |ix|, |iy| < 2^24, so the reference's ix + 1 is exact too.
    [[gnu::always_inline]] static bool CellGradients(const fast_fire::GradientTable& table, F ix,
                                                     F iy, M lower, F gx[3], F gy[3]) {
        if (!L::AllSame(ix) || !L::AllSame(iy)) {
            return false;
        }
        const float column = L::First(ix) - table.originX;
        const float row = L::First(iy) - table.originY;
        if (!(column >= 0.0f && column + 1.0f < table.columns && row >= 0.0f &&
              row + 1.0f < table.rows)) {
            return false;
        }
        const size_t origin = static_cast<size_t>(row) * static_cast<size_t>(table.stride) +
                              static_cast<size_t>(column);
        const size_t above = origin + static_cast<size_t>(table.stride);
        gx[0] = L::Set(table.gx[origin]);
        gy[0] = L::Set(table.gy[origin]);
        gx[1] = L::Select(lower, L::Set(table.gx[origin + 1]), L::Set(table.gx[above]));
        gy[1] = L::Select(lower, L::Set(table.gy[origin + 1]), L::Set(table.gy[above]));
        gx[2] = L::Set(table.gx[above + 1]);
        gy[2] = L::Set(table.gy[above + 1]);
        return true;
    }

    [[gnu::always_inline]] static F SimplexNoise(const fast_fire::GradientTable& table, F px,
                                                 F py) {
        const F one = L::Set(1.0f);
        const F zero = L::Set(0.0f);
        const F g2 = L::Set(kUnskewG2);
        const F sk = L::Mul(L::Add(px, py), L::Set(kSkewF2));
        const F ix = L::Floor(L::Add(px, sk));
        const F iy = L::Floor(L::Add(py, sk));
        const F t = L::Mul(L::Add(ix, iy), g2);
        const F x0x = L::Add(L::Sub(px, ix), t);
        const F x0y = L::Add(L::Sub(py, iy), t);
        const M lower = L::Less(x0y, x0x);  // a tie takes (0, 1)
        const F ox = L::Select(lower, one, zero);
        const F oy = L::Select(lower, zero, one);
        const F x1x = L::Add(L::Sub(x0x, ox), g2);
        const F x1y = L::Add(L::Sub(x0y, oy), g2);
        const F far = L::Set(kFarCornerOffset);
        const F x2x = L::Add(x0x, far);
        const F x2y = L::Add(x0y, far);
        F gx[3];
        F gy[3];
        F n0;
        F n1;
        F n2;
        if (CellGradients(table, ix, iy, lower, gx, gy)) {
            n0 = Contribution(Falloff(x0x, x0y), x0x, x0y, gx[0], gy[0]);
            n1 = Contribution(Falloff(x1x, x1y), x1x, x1y, gx[1], gy[1]);
            n2 = Contribution(Falloff(x2x, x2y), x2x, x2y, gx[2], gy[2]);
        } else {
            n0 = Corner(table, x0x, x0y, ix, iy);
            n1 = Corner(table, x1x, x1y, L::Add(ix, ox), L::Add(iy, oy));
            n2 = Corner(table, x2x, x2y, L::Add(ix, one), L::Add(iy, one));
        }
        return L::Mul(L::Set(kNoiseScale), L::Add(L::Add(n0, n1), n2));
    }

    // turbulence() at the columns [x, x + kWidth) of the row.
    static F Turbulence(const fast_fire::Plan& plan, const Row& row, uint32_t x) {
        const FireFieldParams& field = plan.field;
        F px = L::Load(plan.p1x + x);
        F py = L::Set(row.p1y);
        F sum = L::Mul(L::Set(field.amplitude[0]), SimplexNoise(plan.tables[0], px, py));
        // The second octave from its precomputed column and row halves.
        F mx = L::Sub(L::Load(plan.p1xM17 + x), L::Set(row.p1yM13));
        F my = L::Add(L::Load(plan.p1xM11 + x), L::Set(row.p1yM15));
        for (int octave = 1; octave < fast_fire::kOctaves; ++octave) {
            if (octave > 1) {
                mx = L::Sub(L::Mul(L::Set(1.7f), px), L::Mul(L::Set(1.3f), py));
                my = L::Add(L::Mul(L::Set(1.1f), px), L::Mul(L::Set(1.5f), py));
            }
            const F scale = L::Set(kOctaveScale[octave - 1]);
            px = L::Mul(scale, mx);
            py = L::Mul(scale, my);
            const F noise = SimplexNoise(plan.tables[octave], px, py);
            sum = L::Add(sum, L::Mul(L::Set(field.amplitude[octave]), noise));
        }
        return L::Add(L::Set(0.5f), L::Mul(L::Set(plan.halfContrast), sum));
    }

    static void StoreTexel(char* rowTexels, uint32_t x, float red, float green, float blue,
                           float alpha) {
        const float texel[4] = {red, green, blue, alpha};
        __builtin_memcpy(rowTexels + static_cast<size_t>(x) * sizeof(texel), texel, sizeof(texel));
    }

    static void Fill(char* rowTexels, uint32_t begin, uint32_t end, float alpha) {
        for (uint32_t x = begin; x < end; ++x) {
            StoreTexel(rowTexels, x, 0.0f, 0.0f, 0.0f, alpha);
        }
    }

    // std::min(std::max(v, 0), 1), as the reference's saturate.
    [[gnu::always_inline]] static F Saturate(F v) {
        return L::Min(L::Max(v, L::Set(0.0f)), L::Set(1.0f));
    }

    static void StoreBlack(char* rowTexels, uint32_t x, uint32_t count) {
        for (uint32_t lane = 0; lane < count; ++lane) {
            StoreTexel(rowTexels, x + lane, 0.0f, 0.0f, 0.0f, 1.0f);
        }
    }

    // The reference's fireSample lane by lane, for the lanes in `shaded`; the rest black.
    static void ShadeLanes(const fast_fire::Plan& plan, const Row& row, char* rowTexels, uint32_t x,
                           uint32_t count, int shaded, F f) {
        float fLanes[kWidth];
        L::Store(fLanes, f);
        for (uint32_t lane = 0; lane < count; ++lane) {
            FireColour colour{0.0f, 0.0f, 0.0f};
            if (shaded & (1 << lane)) {
                colour = fireSample(plan.field, plan.qx[x + lane], row.qy, fLanes[lane]);
            }
            StoreTexel(rowTexels, x + lane, colour.red, colour.green, colour.blue, 1.0f);
        }
    }

    // softIntensity, heat, fireColour and fade for a base intensity c > 0: the faded colour.
    [[gnu::always_inline]] static void ShadeLit(const FireFieldParams& field, const Row& row, F c,
                                                F f, F* red, F* green, F* blue) {
        const F zero = L::Set(0.0f);
        const F one = L::Set(1.0f);
        const F s = L::Set(field.softness);
        F c2 = c;  // softIntensity
        if (field.softness > 0.0f) {
            const F smooth = L::Mul(L::Mul(c, c), L::Sub(L::Set(3.0f), L::Mul(L::Set(2.0f), c)));
            c2 = L::Add(c, L::Mul(s, L::Sub(smooth, c)));
        }
        const F a = L::Mul(L::Mul(c2, f), L::Set(row.heatTaper));  // heat
        const F a3 = L::Mul(L::Mul(a, a), a);
        F r = Saturate(L::Mul(L::Set(1.5f), a));  // fireColour: the base ramp
        F g = Saturate(L::Mul(L::Set(1.5f), a3));
        F b = Saturate(L::Mul(L::Mul(a3, a), a));
        if (field.softness > 0.0f) {
            const F exponent = L::Mul(L::Set(kHeatExponent), L::Max(a, zero));
            const F e = L::Sub(one, L::Exp2(exponent));
            const F hotGreen = L::Mul(e, L::Add(L::Set(0.52f), L::Mul(L::Set(0.15f), e)));
            const F hotBlue = L::Mul(e, L::Add(L::Set(0.09f), L::Mul(L::Set(0.12f), e)));
            r = L::Add(r, L::Mul(s, L::Sub(e, r)));
            g = L::Add(g, L::Mul(s, L::Sub(hotGreen, g)));
            b = L::Add(b, L::Mul(s, L::Sub(hotBlue, b)));
        }
        const F m = Saturate(L::Mul(c2, L::Set(row.fadeTerm)));  // fade
        *red = L::Mul(m, r);
        *green = L::Mul(m, g);
        *blue = L::Mul(m, b);
    }

    // The pixels [x, x + count) of an in-frame row, count <= kWidth: the reference's fireSample
    // lane by lane, with the shape's row values from MakeRow and its column values from the plan.
    static void ShadeGroup(const fast_fire::Plan& plan, const Row& row, char* rowTexels, uint32_t x,
                           uint32_t count) {
        const F zero = L::Set(0.0f);
        const F f = Turbulence(plan, row, x);
        const F d = L::Max(zero, L::Sub(ShapeRadius(plan, row, x), L::Mul(f, L::Set(row.lift))));
        int shaded = LaneBits(count);
        if (plan.skipBlack) {
            // d >= kBlackDistance is black whatever the rest of the shading does.
            shaded &= L::Bits(L::Less(d, L::Set(kBlackDistance)));
        }
        if (shaded == 0) {
            StoreBlack(rowTexels, x, count);  // spares the exact exp2 and log2 of a black group
            return;
        }
        if (!plan.vectorShading) {
            ShadeLanes(plan, row, rowTexels, x, count, shaded, f);
            return;
        }
        // baseIntensity: c = 1 - 16 d^1.2 (the lanes not shaded are stored black below).
        const F power = L::Exp2(L::Mul(L::Set(1.2f), L::Log2(d)));
        const F c = L::Sub(L::Set(1.0f), L::Mul(L::Set(16.0f), power));
        const M lit = L::Greater(c, zero);
        if ((L::Bits(lit) & shaded) == 0) {
            StoreBlack(rowTexels, x, count);
            return;
        }
        F r;
        F g;
        F b;
        ShadeLit(plan.field, row, c, f, &r, &g, &b);
        float red[kWidth];
        float green[kWidth];
        float blue[kWidth];
        L::Store(red, L::Select(lit, r, zero));
        L::Store(green, L::Select(lit, g, zero));
        L::Store(blue, L::Select(lit, b, zero));
        for (uint32_t lane = 0; lane < count; ++lane) {
            if (shaded & (1 << lane)) {
                StoreTexel(rowTexels, x + lane, red[lane], green[lane], blue[lane], 1.0f);
            } else {
                StoreTexel(rowTexels, x + lane, 0.0f, 0.0f, 0.0f, 1.0f);
            }
        }
    }

    // Texel rows [rowBegin, rowEnd); spans[0] belongs to rowBegin.
    static void RenderRows(const fast_fire::Plan& plan, const fast_fire::RowSpan* spans,
                           uint32_t rowBegin, uint32_t rowEnd) {
        for (uint32_t y = rowBegin; y < rowEnd; ++y) {
            char* rowTexels = reinterpret_cast<char*>(plan.output.texels) +
                              static_cast<size_t>(y) * plan.output.rowPitch;
            const Row row = MakeRow(plan, y);
            if (!row.inFrame) {
                Fill(rowTexels, 0, plan.columns, 0.0f);
                continue;
            }
            const fast_fire::RowSpan span = spans[y - rowBegin];
            Fill(rowTexels, 0, plan.frameBegin, 0.0f);
            if (span.end > span.begin) {
                Fill(rowTexels, plan.frameBegin, span.begin, 1.0f);
                for (uint32_t x = span.begin; x < span.end; x += kWidth) {
                    const uint32_t count = span.end - x < static_cast<uint32_t>(kWidth)
                                               ? span.end - x
                                               : static_cast<uint32_t>(kWidth);
                    ShadeGroup(plan, row, rowTexels, x, count);
                }
                Fill(rowTexels, span.end, plan.frameEnd, 1.0f);
            } else {
                Fill(rowTexels, plan.frameBegin, plan.frameEnd, 1.0f);
            }
            Fill(rowTexels, plan.frameEnd, plan.columns, 0.0f);
        }
    }
};
