#include "scheduler/scheduler_loop.h"
