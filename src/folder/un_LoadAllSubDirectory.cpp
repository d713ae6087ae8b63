#include "un_LoadAllSubDirectory.h"
