/* An OpenCL library with a single entry point, to stand for a broken ICD
 * loader behind the OpenCL layer. */
int clGetPlatformIDs(unsigned n, void** platforms, unsigned* count) {
    (void)n;
    (void)platforms;
    if (count) *count = 0;
    return -1001;
}
