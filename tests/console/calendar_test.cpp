#include "console/calendar.h"
