#include "DESUnit.h"
