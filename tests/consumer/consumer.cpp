// The same calls, compiled as C++.
#include "consumer.c"
