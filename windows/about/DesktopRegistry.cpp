#include "windows/about/SysInfoRegistry.h"
