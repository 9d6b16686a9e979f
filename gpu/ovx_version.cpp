// Version of the library, reported by the verbose output.
extern "C" const char* ovx_library_version() { return "korami ovx 0.1"; }
