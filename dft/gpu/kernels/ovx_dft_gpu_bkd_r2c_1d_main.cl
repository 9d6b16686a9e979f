// 1D real transforms through a complex sub-transform.
// Even N: the real input is read as M = N/2 complex points (fwd_input_copy),
// the sub-transform runs in the scratch, r2c_kernel turns the M-point spectrum
// into the N/2+1 conjugate-even points; backward, c2r_kernel builds the
// M-point spectrum and bwd_output_copy writes the reals.
// Odd N: two real transforms travel as the real and imaginary parts of one
// complex N-point transform (row r of a chunk carries transforms offset+2r
// and offset+2r+1); the second member of the last pair exists only below
// ODDBATCH_SZ when that is defined.
// Strides and distances: IS/OS and FWD_D (reals) / BWD_D (complex values);
// TD is the scratch row distance in complex values.

#if N_IS_EVEN
#define R2C_M (NUM_PTS / 2)
#else
#define R2C_M ((NUM_PTS - 1) / 2)
#endif

#ifdef ODDBATCH_SZ
#define R2C_SECOND_EXISTS(t2) ((t2) < ODDBATCH_SZ)
#else
#define R2C_SECOND_EXISTS(t2) 1
#endif

#ifdef FWD
__kernel void R2C_NAME(fwd_input_copy)(__global const rtype* in, __global rtype* out, int offset)
{
    const long j = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
#if N_IS_EVEN
    const long t = (long)offset + r;
    out[2 * r * (long)TD + j] = in[t * (long)FWD_D + j * (long)IS];
#else
    const long t = (long)offset + 2 * r;
    out[2 * (r * (long)TD + j)] = in[t * (long)FWD_D + j * (long)IS];
    out[2 * (r * (long)TD + j) + 1] = R2C_SECOND_EXISTS(t + 1) ? in[(t + 1) * (long)FWD_D + j * (long)IS] : (rtype)0;
#endif
}

#if N_IS_EVEN
__kernel void R2C_NAME(r2c_kernel)(__global const rtype* in, __global rtype* out, __global const rtype* tw, int offset)
{
    const long k = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
    const long t = (long)offset + r;
    __global const rtype* z = in + 2 * r * (long)TD;
    __global rtype* x = out + 2 * t * (long)BWD_D;
    if (k == 0) {
        const rtype re = z[0], im = z[1];
        x[0] = re + im;
        x[1] = 0;
        x[2 * R2C_M * (long)OS] = re - im;
        x[2 * R2C_M * (long)OS + 1] = 0;
        return;
    }
    const rtype zr = z[2 * k], zi = z[2 * k + 1];
    const rtype mr = z[2 * (R2C_M - k)], mi = z[2 * (R2C_M - k) + 1];
    const rtype c = tw[2 * k], s = tw[2 * k + 1];
    const rtype a = zr - mr, b = zi + mi;
    x[2 * k * (long)OS] = (rtype)0.5 * (zr + mr - s * a + c * b);
    x[2 * k * (long)OS + 1] = (rtype)0.5 * (zi - mi - c * a - s * b);
}
#else
__kernel void R2C_NAME(fwd_output_copy)(__global const rtype* in, __global rtype* out, int offset)
{
    const long k = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
    const long t = (long)offset + 2 * r;
    __global const rtype* z = in + 2 * r * (long)TD;
    const long kk = k == 0 ? 0 : NUM_PTS - k;
    const rtype zr = z[2 * k], zi = z[2 * k + 1];
    const rtype mr = z[2 * kk], mi = z[2 * kk + 1];
    __global rtype* x1 = out + 2 * (t * (long)BWD_D + k * (long)OS);
    x1[0] = (rtype)0.5 * (zr + mr);
    x1[1] = (rtype)0.5 * (zi - mi);
    if (R2C_SECOND_EXISTS(t + 1)) {
        __global rtype* x2 = out + 2 * ((t + 1) * (long)BWD_D + k * (long)OS);
        x2[0] = (rtype)0.5 * (zi + mi);
        x2[1] = (rtype)0.5 * (mr - zr);
    }
}
#endif
#endif /* FWD */

#ifdef BWD
#if N_IS_EVEN
__kernel void R2C_NAME(c2r_kernel)(__global const rtype* in, __global rtype* out, __global const rtype* tw, int offset)
{
    const long k = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
    const long t = (long)offset + r;
    __global const rtype* x = in + 2 * t * (long)BWD_D;
    __global rtype* z = out + 2 * r * (long)TD;
    // Item 0's partner X[M] exists, so every item loads and computes alike
    // and item 0 only picks its own result at the end: with no branch the
    // device compiler can vectorise across the items.
    const rtype xr = x[2 * k * (long)IS], xi = x[2 * k * (long)IS + 1];
    const rtype mr = x[2 * (R2C_M - k) * (long)IS], mi = x[2 * (R2C_M - k) * (long)IS + 1];
    const rtype c = tw[2 * k], s = tw[2 * k + 1];
    const rtype a = xr - mr, b = xi + mi;
    const rtype zr = xr + mr - s * a - c * b;
    const rtype zi = xi - mi + c * a - s * b;
    z[2 * k] = k == 0 ? xr + mr : zr;
    z[2 * k + 1] = k == 0 ? xr - mr : zi;
}
#else
__kernel void R2C_NAME(bwd_input_copy)(__global const rtype* in, __global rtype* out, int offset)
{
    const long k = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
    const long t = (long)offset + 2 * r;
    __global const rtype* e = in + 2 * (t * (long)BWD_D + k * (long)IS);
    const rtype er = e[0], ei = e[1];
    rtype orr = 0, oi = 0;
    if (R2C_SECOND_EXISTS(t + 1)) {
        __global const rtype* o = in + 2 * ((t + 1) * (long)BWD_D + k * (long)IS);
        orr = o[0];
        oi = o[1];
    }
    __global rtype* z = out + 2 * r * (long)TD;
    z[2 * k] = er - oi;
    z[2 * k + 1] = ei + orr;
    if (k > 0) {
        z[2 * (NUM_PTS - k)] = er + oi;
        z[2 * (NUM_PTS - k) + 1] = orr - ei;
    }
}
#endif

__kernel void R2C_NAME(bwd_output_copy)(__global const rtype* in, __global rtype* out, int offset)
{
    const long j = (long)get_global_id(0);
    const long r = (long)get_global_id(1);
#if N_IS_EVEN
    const long t = (long)offset + r;
    out[t * (long)FWD_D + j * (long)OS] = in[2 * r * (long)TD + j];
#else
    const long t = (long)offset + 2 * r;
    out[t * (long)FWD_D + j * (long)OS] = in[2 * (r * (long)TD + j)];
    if (R2C_SECOND_EXISTS(t + 1)) out[(t + 1) * (long)FWD_D + j * (long)OS] = in[2 * (r * (long)TD + j) + 1];
#endif
}
#endif /* BWD */
