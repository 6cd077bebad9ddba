#include "core/SplitPlan.h"
