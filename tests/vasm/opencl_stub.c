/* Minimal stand-in for the OpenCL library used by the entry lookup tests. */
int clBuildProgram(void* program, unsigned n, const void* devices, const char* options,
                   void (*notify)(void*, void*), void* user) {
    (void)program; (void)n; (void)devices; (void)options; (void)notify; (void)user;
    return 0;
}
