#include "ZipArchive.h"
