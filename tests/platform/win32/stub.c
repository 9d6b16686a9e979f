/* Stand-in for a vendor library in the Windows layer's tests: it has one
 * OpenCL-named entry point and lacks the others. */
int clGetPlatformIDs(unsigned n, void** platforms, unsigned* count) {
    (void)n;
    (void)platforms;
    if (count) *count = 0;
    return -1001;
}

int ovx_stub_answer(void) { return 42; }

int ovx_stub_data = 7;
