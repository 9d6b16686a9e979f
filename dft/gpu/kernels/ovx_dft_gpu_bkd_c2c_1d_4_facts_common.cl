// Shared pieces of the four-factor kernel texts. A complex value lives in a
// lane pair of a 16-lane sub-group (even lane real, odd lane imaginary), so a
// sub-group carries 8 transforms (or 8 columns). Every shuffle (the small
// transforms, swapReIm) stands in control flow that is uniform across the
// work-group; lanes without a transform compute on zeros and store nothing.

// z <- (c + i s) z forward, (c - i s) z backward, for a table entry (c, s).
#define FF_TWIDDLE(reg, c, s, pmOne) { (reg) = (c) * (reg) - (s) * (pmOne) * swapReIm(reg); }

// z <- C z + f T swap(z) for a per-lane inter-pass cell (C = sigma cos,
// T = +-sigma sin by lane parity), f = -1 forward, +1 backward.
#if FWD_DIR
#define FF_CELL_SIGN ((ftype)-1)
#else
#define FF_CELL_SIGN ((ftype)1)
#endif
#define FF_CELL(reg, C, T) { (reg) = (C) * (reg) + FF_CELL_SIGN * (T) * swapReIm(reg); }

#define FF_SECOND_ROUNDS ((FACT0 + FACT1 - 1) / FACT1)
