#include "core/PartWriter.h"
