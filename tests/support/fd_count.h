#pragma once

// Number of descriptors open in this process (entries of /proc/self/fd), so
// a test can check that an operation leaks none.
int openDescriptorCount();
