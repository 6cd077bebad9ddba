#include "core/SplitFields.h"
