#include "RuleLanguage.h"
