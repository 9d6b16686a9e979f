// Conversion between the spectrum Z of N/2 = H complex points (the real
// sequence read as complex pairs) and the conjugate-even spectrum X of the N
// real points. Work-item (k, b): point k <= H/2 of transform b, read at
// b * 2 * BWD_D floats of `in` and written at b * 2 * OUT_D floats of `out`
// (OUT_D = BWD_D when not given). Each item reads and writes only the pair
// k, H - k, so `in` and `out` may be the same array.
#if !((FWD_DIR == 1 && BWD_DIR == 0) || (FWD_DIR == 0 && BWD_DIR == 1))
#error "Combination of FWD_DIR and BWD_DIR unsupported by real_fft_pre_and_post_processing.cl"
#endif
#ifndef OUT_D
#define OUT_D BWD_D
#endif

__kernel void KERNEL_FUNC(__global const float* in, __global float* out)
{
    const long H = 2L * ((long)get_global_size(0) - 1);
    const long k = (long)get_global_id(0);
    const long b = (long)get_global_id(1);
    if (k > H / 2) return;
    __global const float* z = in + b * 2L * (long)BWD_D;
    __global float* w = out + b * 2L * (long)OUT_D;
    if (k == 0) {
#if FWD_DIR
        const float re = z[0], im = z[1];
        w[0] = re + im;
        w[1] = 0.0f;
        w[2 * H] = re - im;
        w[2 * H + 1] = 0.0f;
#else
        const float x0 = z[0], xh = z[2 * H];
        w[0] = x0 + xh;
        w[1] = x0 - xh;
#endif
        return;
    }
    const float t = (float)k / (float)H;
    const float c = cospi(t), s = sinpi(t);
    const float xr = z[2 * k], xi = z[2 * k + 1];
    const float yr = z[2 * (H - k)], yi = z[2 * (H - k) + 1];
    const float a = xr - yr, bb = xi + yi, a2 = yr - xr;
#if FWD_DIR
    const float r0 = 0.5f * (xr + yr - s * a + c * bb), i0 = 0.5f * (xi - yi - c * a - s * bb);
    const float r1 = 0.5f * (yr + xr - s * a2 - c * bb), i1 = 0.5f * (yi - xi + c * a2 - s * bb);
#else
    const float r0 = xr + yr - s * a - c * bb, i0 = xi - yi + c * a - s * bb;
    const float r1 = yr + xr - s * a2 + c * bb, i1 = yi - xi - c * a2 - s * bb;
#endif
    w[2 * k] = r0;
    w[2 * k + 1] = i0;
    w[2 * (H - k)] = r1;
    w[2 * (H - k) + 1] = i1;
}
