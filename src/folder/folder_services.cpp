#include "folder_services.h"
