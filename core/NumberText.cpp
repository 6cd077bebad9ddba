#include "core/NumberText.h"
