/* An OpenCL library that lacks most entry points: it has the first four the
 * runtime layer resolves and nothing else (it links no OpenCL library that
 * could supply the rest). */
int clGetDeviceInfo(void* device, unsigned info, unsigned long size, void* value, unsigned long* ret) {
    (void)device; (void)info; (void)size; (void)value; (void)ret;
    return -30;
}
int clRetainContext(void* context) { (void)context; return 0; }
int clReleaseContext(void* context) { (void)context; return 0; }
void* clCreateProgramWithSource(void* context, unsigned n, const char** text, const unsigned long* lengths,
                                int* err) {
    (void)context; (void)n; (void)text; (void)lengths;
    if (err) *err = -30;
    return 0;
}
