// The shared library korami_ovx is assembled from one object library per
// subsystem (gpu, dft, vasm, ...). CMake needs at least one source of the
// library target's own; this translation unit is that source and defines
// nothing.
