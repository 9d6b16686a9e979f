// Version text of the library. This source also anchors the shared library
// target, whose objects come from the subsystem object libraries.
extern "C" const char* ovx_library_version() { return "korami ovx 0.1"; }
