#include "un_Waiting.h"
