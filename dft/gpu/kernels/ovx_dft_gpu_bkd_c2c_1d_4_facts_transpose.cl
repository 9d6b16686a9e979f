// Four-factor backend, pass 0: S interleaved L-point transforms per batch
// entry (element n of transform t at n * NUM_FFTS + t), L = FACT0 x FACT1,
// written contiguously per transform into the scratch. Work-group g carries
// transforms 8g .. 8g+7; sub-group s < FACT1 loads elements s + FACT1 * i.
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* scratch, __global const ftype* ptab,
                          __local ftype* slm, int offset)
{
    FF_LANE_SETUP;
    const long t = 8L * (long)get_group_id(0) + cx;
    const long b = (long)get_global_id(1) + offset;
    const int ok = t < NUM_FFTS;
    __global const ftype* src = in + 2L * b * (long)IDIST;
    ptype reg[FACT0];
    for (int i = 0; i < FACT0; ++i) {
        const long n = s + (long)FACT1 * i;
        reg[i] = ok ? SG_LOAD(src, n * NUM_FFTS + t) : SG_ZERO;
    }
    FF_FIRST_STEP;
    __global ftype* dst = scratch + 2L * ((b - offset) * (long)ODIST + t * FFT_LEN);
    FF_SECOND_STEP(ok, SG_STORE(dst, kk + FACT0 * j, reg2[j]));
}
