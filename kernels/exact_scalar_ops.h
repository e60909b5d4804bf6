// The scalar lane type of exact_math_lanes.h: one float per lane, plain C++ operations. Include
// this only from inside an anonymous namespace, as exact_math_lanes.h (exact_math.cpp and
// exact_sin.cpp each compile their own copy), after kernels/float_bits.h.

struct ScalarOps {
    using F = float;
    using M = bool;
    using U = uint32_t;

    static F Set(float v) { return v; }
    static F Add(F a, F b) { return a + b; }
    static F Sub(F a, F b) { return a - b; }
    static F Mul(F a, F b) { return a * b; }
    static F Floor(F a) { return __builtin_floorf(a); }
    static F Max(F a, F b) { return (a < b) ? b : a; }
    static F Min(F a, F b) { return (b < a) ? b : a; }
    static M Greater(F a, F b) { return a > b; }
    static F Select(M m, F a, F b) { return m ? a : b; }
    static U AsBits(F v) { return FloatBits(v); }
    static F FromBits(U bits) { return FloatFromBits(bits); }
    static constexpr int kWidth = 1;
    static F Load(const float* p) { return *p; }
    static void Store(float* p, F v) { *p = v; }
    static M Less(F a, F b) { return a < b; }
    static M GreaterEqual(F a, F b) { return a >= b; }
    static M And(M a, M b) { return a && b; }
    static M AndNot(M a, M b) { return !a && b; }
    static M Or(M a, M b) { return a || b; }
    static int Bits(M m) { return m ? 1 : 0; }
    static F Gather(const float* table, U index) { return table[index]; }
    static U USet(uint32_t v) { return v; }
    static U UAdd(U a, U b) { return a + b; }
    static U USub(U a, U b) { return a - b; }
    static U UShiftLeft(U a, int n) { return a << n; }
    static U UShiftRight(U a, int n) { return a >> n; }
    static U UAnd(U a, U b) { return a & b; }
    static U UOr(U a, U b) { return a | b; }
    static F ToFloat(U a) { return static_cast<float>(static_cast<int32_t>(a)); }
    static U ToInt(F a) { return static_cast<U>(static_cast<int32_t>(a)); }
};
