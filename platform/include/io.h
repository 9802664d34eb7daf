// access(): mode 0 tests existence of a file or folder; 0 when it exists, -1 otherwise.
#pragma once

#include <unistd.h>
