// Rank 2 and 3 composite backends at the node level.
#include "dft/gpu/md_test_harness.hpp"
