#include "core/CutState.h"
