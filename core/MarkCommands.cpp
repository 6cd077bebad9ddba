#include "core/MarkCommands.h"
