// Definition of the process-wide debug level; 0 keeps the library silent.
#include "velport/debug_level.h"

int __Velmar_Debug_Level = 0;
