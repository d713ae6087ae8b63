#include "un_Rule.h"
