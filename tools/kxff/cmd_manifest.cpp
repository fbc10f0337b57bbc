#include "tools/kxff/command.h"
