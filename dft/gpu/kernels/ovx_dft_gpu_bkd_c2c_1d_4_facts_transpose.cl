// Four-factor backend, pass 0: S interleaved L-point transforms per batch
// entry (element n of transform t at n * NUM_FFTS + t), L = FACT0 x FACT1,
// written contiguously per transform into the scratch. Work-group g carries
// transforms 8g .. 8g+7; sub-group s < FACT1 loads elements s + FACT1 * i.
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* scratch, __global const ftype* ptab,
                          __local ftype* slm, int offset)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const int lane = (int)get_sub_group_local_id();
    const int s = (int)get_sub_group_id();
    const int part = lane & 1;
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const long t = 8L * (long)get_group_id(0) + (lane >> 1);
    const long b = (long)get_global_id(1) + offset;
    const int ok = t < NUM_FFTS;
    __global const ftype* src = in + 2L * b * (long)IDIST;
    ptype reg[FACT0];
    for (int i = 0; i < FACT0; ++i) {
        const long n = s + (long)FACT1 * i;
        reg[i] = ok ? src[2L * (n * NUM_FFTS + t) + part] : (ftype)0;
    }
    FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
    for (int k = 0; k < FACT0; ++k) {
        const int e = s * FACT0 + k;
        FF_TWIDDLE(reg[k], ptab[2 * e], ptab[2 * e + 1], pmOne);
        slm[e * 16 + lane] = reg[k];
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    __global ftype* dst = scratch + 2L * ((b - offset) * (long)ODIST + t * FFT_LEN);
    for (int r = 0; r < FF_SECOND_ROUNDS; ++r) {
        const int k = s + FACT1 * r;
        const int act = k < FACT0;
        const int kk = act ? k : 0;
        ptype reg2[FACT1];
        for (int j = 0; j < FACT1; ++j) reg2[j] = slm[(j * FACT0 + kk) * 16 + lane];
        FACT1_FUNC(reg2, pmOne TARVO_SG_ARG);
        if (act && ok)
            for (int j = 0; j < FACT1; ++j) dst[2 * (kk + FACT0 * j) + part] = reg2[j];
    }
}
